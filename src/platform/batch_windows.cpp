// tmp.bat goes to the real command interpreter: started through the shell
// with the verb "open", waited for in 50 ms rounds while the window keeps
// running, and its exit status (the last command's) returned.
#include <windows.h>
// windows.h first: shellapi.h builds on it.
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/batch.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/text_convert.h"

namespace kelvanor {

namespace {

// What the command says reaches the caller or, without a caller that wants
// it, our stderr like a console window would show it.
void Say(const BatchOptions& options, const std::string& utf8Line) {
  if (options.output != nullptr) {
    *options.output += utf8Line + "\n";
  } else {
    WriteStderr(utf8Line + "\n");
  }
}

std::string SystemErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) message = L"Fehler " + std::to_wstring(error);
  return WideToUtf8(message);
}

// The started program inherits our environment: the entries the caller
// wants it to see are set in our own. (Only curl reads them.)
void SetEnvironmentEntries(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    ::SetEnvironmentVariableW(Utf8ToWide(entry.substr(0, eq)).c_str(),
                              Utf8ToWide(entry.substr(eq + 1)).c_str());
  }
}

// curl.exe, zip.exe and unzip.exe ship beside the program. The interpreter
// looks in the current folder, then along PATH; a program started from
// another folder (the task scheduler, a command prompt) would not find them,
// or would take another curl.exe (Windows 10 brings one). So the program's
// own folder comes first on PATH, once.
void PutProgramFolderFirstOnPath() {
  std::wstring folder = SystemPath(ExecutableFolder()).wstring();
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (folder.empty()) return;
  const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring path(size, L'\0');
  path.resize(size > 0 ? ::GetEnvironmentVariableW(L"PATH", path.data(), size) : 0);
  if (path.compare(0, folder.size() + 1, folder + L";") == 0 || path == folder) return;
  const std::wstring first = path.empty() ? folder : folder + L";" + path;
  ::SetEnvironmentVariableW(L"PATH", first.c_str());
}

// A private file for the command's output, removed when the run is over.
class OutputCapture {
 public:
  OutputCapture() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t file[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
    if (n > 0 && n <= MAX_PATH && ::GetTempFileNameW(folder, L"kel", 0, file) != 0) path_ = file;
  }
  ~OutputCapture() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  const std::wstring& Path() const { return path_; }

  // The interpreter and the programs write in the console's code page (the
  // OEM one when there is no console), so the bytes are read back in it.
  std::string Utf8Text() const {
    std::ifstream in(std::filesystem::path(path_), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) return std::string();
    UINT codePage = ::GetConsoleOutputCP();
    if (codePage == 0) codePage = CP_OEMCP;
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return WideToUtf8(wide);
  }

 private:
  std::wstring path_;
};

// Ends the command when the wait is left by an exception (a pump that
// throws), so no process outlives the step that started it.
class ProcessGuard {
 public:
  explicit ProcessGuard(HANDLE process) : process_(process) {}
  ~ProcessGuard() {
    if (process_ == nullptr) return;
    if (armed_) {
      ::TerminateProcess(process_, static_cast<UINT>(kExitCannotStart));
      ::WaitForSingleObject(process_, INFINITE);
    }
    ::CloseHandle(process_);
  }
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;
  void Disarm() { armed_ = false; }

 private:
  HANDLE process_;
  bool armed_ = true;
};

std::wstring CommandInterpreter() {
  const DWORD size = ::GetEnvironmentVariableW(L"ComSpec", nullptr, 0);
  if (size == 0) return L"cmd.exe";
  std::wstring path(size, L'\0');
  path.resize(::GetEnvironmentVariableW(L"ComSpec", path.data(), size));
  return path.empty() ? L"cmd.exe" : path;
}

}  // namespace

int RunAndWait(const std::string& batchFile, IMessagePump& pump) {
  return RunAndWait(batchFile, pump, BatchOptions{});
}

int RunAndWait(const std::string& batchFile, IMessagePump& pump,
               const BatchOptions& options) {
  SetEnvironmentEntries(options.environment);
  PutProgramFolderFirstOnPath();
  const std::wstring batch = SystemPath(batchFile).wstring();

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
  info.hwnd = ::GetActiveWindow();
  info.lpVerb = L"open";
  info.lpDirectory = nullptr;  // the interpreter inherits our current folder

  // The interpreter is opened with the batch file, as opening the .bat
  // itself does, plus a redirection of everything it and its programs write
  // (/S: the outer quotes go, the rest stays as written), so tmp.bat stays
  // exactly as it is. Without the redirection the output would go to a
  // console window, or nowhere at all when we have no console and a
  // program's write fails (curl then ends with status 23). /Q: echo off, so
  // the interpreter does not write each line of tmp.bat behind its prompt
  // ("C:\prog>rmdir ...") in front of what the command says, where it
  // would stand before a server's answer and reach the user's log.
  OutputCapture capture;
  if (capture.Path().empty()) {
    Say(options, "Keine temporäre Datei für die Ausgabe.");
    return kExitCannotStart;
  }
  const std::wstring interpreter = CommandInterpreter();
  const std::wstring parameters =
      L"/Q /S /C \"\"" + batch + L"\" >\"" + capture.Path() + L"\" 2>&1\"";
  info.lpFile = interpreter.c_str();
  info.lpParameters = parameters.c_str();
  // Everything it says comes back to the caller: no empty console window.
  info.nShow = SW_HIDE;

  if (!::ShellExecuteExW(&info)) {
    Say(options, "Die Stapeldatei kann nicht gestartet werden: " + SystemErrorText(::GetLastError()));
    return kExitCannotStart;
  }
  // The shell may report success without a process to wait for; then the
  // exit status is unknown, which is not success.
  if (info.hProcess == nullptr) return kExitCannotStart;

  ProcessGuard guard(info.hProcess);
  for (;;) {
    const DWORD waited = ::WaitForSingleObject(info.hProcess, kWaitRoundMilliseconds);
    if (waited == WAIT_OBJECT_0) break;
    if (waited != WAIT_TIMEOUT) return kExitCannotStart;  // the guard ends it
    pump.ProcessPendingMessages();
  }
  guard.Disarm();
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(info.hProcess, &exitCode)) return kExitCannotStart;
  const std::string text = capture.Utf8Text();
  if (options.output != nullptr) {
    *options.output += text;
  } else {
    WriteStderr(text);
  }
  return static_cast<int>(exitCode);
}

}  // namespace kelvanor
