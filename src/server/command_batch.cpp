#include "server/command_batch.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "server/download_limits.h"
#include "server/server_answer.h"
#include "platform/batch.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/temporary_folder.h"
#include "settings/settings.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// curl reports an HTTP error status (404, 500 ...) as success unless told
// otherwise, and the command lines of the transfers are fixed texts that carry
// no such flag. curl reads its settings file in $CURL_HOME before anything
// else (kCurlConfigFileName), so every curl the batch starts gets this
// configuration through the environment:
// - "fail-with-body" turns an HTTP error into exit status 22 and keeps the
//   server's answer (its reason) where the answer goes;
// - "location" follows a redirect (a provider's http -> https), but only to
//   http and https ("proto-redir"), certificates verified as always; whether
//   the script itself answered the report line tells (kCurlReportWriteOut:
//   the last status, the redirects followed, the last address asked);
// - "no-buffer" writes the answer as it comes, so it stands before curl's
//   own line and the report in the captured output;
// - "silent" + "show-error" keep the progress meter out of the captured
//   output but the reason in it;
// - the timeouts end a connection that hangs instead of leaving the step
//   waiting forever; max-filesize refuses a download archive beyond the
//   limit before it fills the disk;
// - "no-cache" asks every cache between the office and the server (a
//   provider's proxy, a CDN in front of the transfer folder) for the
//   server's own answer: an old archive served from a cache would hide what
//   the mobile wrote since, and the delete request would drop it unseen.
// A proxy is still taken from the usual environment variables; a personal
// ~/.curlrc is not read for these commands.
std::string CurlConfig() {
  return std::string("# Written by Kelvanor for the curl commands of its sync.\n"
                     "fail-with-body\n"
                     "location\n"
                     "proto-redir = \"=http,https\"\n"
                     "no-buffer\n"
                     "silent\n"
                     "show-error\n"
                     "header = \"Cache-Control: no-cache\"\n"
                     "header = \"Pragma: no-cache\"\n"
#ifdef _WIN32
                     // Schannel fails a verified certificate when the
                     // revocation list cannot be fetched; only then it
                     // carries on.
                     "ssl-revoke-best-effort\n"
#endif
                     "connect-timeout = 60\n"
                     "speed-limit = 1\n"
                     "speed-time = ") +
         std::to_string(kCurlStallSeconds) + "\nmax-filesize = " +
         std::to_string(kMaxDownloadArchiveBytes) + "\n" + "write-out = \"" +
         kCurlReportWriteOut + "\"\n";
}

// A login for the server ("user:password") as a line of curl's settings:
// in double quotes, a backslash and a quote escaped; a line break would end
// the setting and cannot be part of a password anyway.
std::string CurlUserSetting(const std::string& login) {
  std::string quoted;
  for (const char c : login) {
    if (c == '\r' || c == '\n') continue;
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return "user = \"" + quoted + "\"\n";
}

// The folder of the .curlrc, held for the process's life: a start after
// this process was killed removes it (see kTemporaryFolderPrefix), one
// during its life leaves it alone.
class CurlConfigDir {
 public:
  CurlConfigDir() : folder_(HeldTemporaryFolder::Make(kTemporaryFolderPrefix)) {
    if (folder_ == nullptr) return;
    std::ofstream rc(SystemPath(folder_->Path() + kPathSep + kCurlConfigFileName),
                     std::ios::binary | std::ios::trunc);
    rc << CurlConfig();
    rc.close();
    if (!rc) folder_.reset();
  }
  // The settings for the next command: with `login` for its server when it
  // needs one. The folder is its owner's alone, so the password is no more
  // exposed than in Kelvanor.ini.
  void UseLogin(const std::string& login) {
    if (folder_ == nullptr || login == login_) return;
    WriteFileAtomically(Path() + kPathSep + kCurlConfigFileName,
                        CurlConfig() + (login.empty() ? std::string() : CurlUserSetting(login)),
                        FileReaders::kOwnerOnly);
    login_ = login;
  }
  CurlConfigDir(const CurlConfigDir&) = delete;
  CurlConfigDir& operator=(const CurlConfigDir&) = delete;
  std::string Path() const { return folder_ != nullptr ? folder_->Path() : std::string(); }

 private:
  std::unique_ptr<HeldTemporaryFolder> folder_;  // removes it when it goes
  std::string login_;
};

CurlConfigDir& CurlConfigOfThisProcess() {
  static CurlConfigDir dir;
  return dir;
}

std::string GermanReason(const std::error_code& error) {
  if (error == std::errc::directory_not_empty || error == std::errc::file_exists)
    return "es ist nicht leer";
  if (error == std::errc::no_such_file_or_directory) return "es existiert nicht";
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
    return "Zugriff verweigert";
  return error.message();
}

}  // namespace

std::string CurlConfigFolder() { return CurlConfigOfThisProcess().Path(); }

int RunCommand(const std::string& command, const std::string& folder, IMessagePump& pump,
               std::string* output, const std::string& curlLogin) {
  const std::string batchFile = folder + "tmp.bat";
  // cmd reads a batch file's "%" as the start of a variable: doubled, each
  // one reaches the program as written (a percent-encoded account name, a
  // folder named "100%"). The file holds the FTP login: its owner's alone.
  WriteFileAtomically(batchFile, ReplaceAll(command, "%", "%%") + "\r\n",
                      FileReaders::kOwnerOnly);

  const std::string curlHome = CurlConfigFolder();
  if (curlHome.empty()) {
    throw EInOutError(
        W1252("Die Einstellungen für curl können im temporären Verzeichnis nicht angelegt "
              "werden."));
  }
  CurlConfigOfThisProcess().UseLogin(curlLogin);
  BatchOptions options;
  options.environment.push_back("CURL_HOME=" + AnsiToUtf8Name(curlHome));
  options.output = output;
  return RunAndWait(batchFile, pump, options);
}

void EmptyAndRemoveFolder(const std::string& folder) {
  std::string target = folder;
  while (target.size() > 1 && (target.back() == '/' || target.back() == kPathSep)) target.pop_back();
  const std::filesystem::path targetPath = SystemPath(target);
  std::error_code removed;
  // Only a folder is removed here (or a link in its place, as the link it
  // is); one that is not there is an error.
  switch (KindOfEntry(targetPath)) {
    case EntryKind::kMissing:
      removed = std::make_error_code(std::errc::no_such_file_or_directory);
      break;
    case EntryKind::kFolder:
    case EntryKind::kLink:
      RemoveWithoutFollowingLinks(targetPath, removed);
      break;
    case EntryKind::kFile:
    case EntryKind::kOther:
      removed = std::make_error_code(std::errc::not_a_directory);
      break;
  }
  if (removed) {
    throw EInOutError("Das Verzeichnis " + folder + W1252(" kann nicht gelöscht werden (") +
                      Utf8ToCp1252(GermanReason(removed)) + ").");
  }
}

}  // namespace kelvanor
