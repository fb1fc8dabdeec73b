#include "server_checks/version_check.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

#include "server/download_limits.h"
#include "platform/code_signature.h"
#include "platform/file_system.h"
#include "platform/launch.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// The numbers of a dotted version ("1.0.0.72" -> 1, 0, 0, 72) as digit texts
// without leading zeros, so that numbers of any length compare exactly.
// False for anything else: an empty part, a sign, a blank, a letter.
bool SplitDottedVersion(const std::string& text, std::vector<std::string>& numbers) {
  numbers.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    const std::size_t end = dot == std::string::npos ? text.size() : dot;
    if (end == start) return false;
    std::string number;
    for (std::size_t i = start; i < end; ++i) {
      const char c = text[i];
      if (c < '0' || c > '9') return false;
      if (number.empty() && c == '0') continue;
      number += c;
    }
    numbers.push_back(number);
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

// <0, 0, >0 as the number a is below, equal to or above b (both digit texts
// without leading zeros; "" is 0).
int CompareNumbers(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

bool IsNewerVersion(const std::string& offered, const std::string& own) {
  std::vector<std::string> offeredNumbers;
  std::vector<std::string> ownNumbers;
  if (!SplitDottedVersion(offered, offeredNumbers) || !SplitDottedVersion(own, ownNumbers)) {
    return false;
  }
  const std::size_t parts = std::max(offeredNumbers.size(), ownNumbers.size());
  offeredNumbers.resize(parts);  // a missing part counts 0
  ownNumbers.resize(parts);
  for (std::size_t i = 0; i < parts; ++i) {
    const int order = CompareNumbers(offeredNumbers[i], ownNumbers[i]);
    if (order != 0) return order > 0;
  }
  return false;
}

namespace {

const char kUpdateStep[] = "Update";

// Best effort: a download into a folder that could not be made fails and
// says so.
void MakeFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::create_directories(SystemPath(folder), ignored);
}

// Best effort: a file that cannot be deleted is still never started, and a
// download cannot be mistaken for it.
void DeleteDownloadedFile(const std::string& fileName) {
  std::error_code ignored;
  std::filesystem::remove(SystemPath(fileName), ignored);
}

Outcome NotStarted(const std::string& why) {
  return Outcome::Failed(kUpdateStep, 0, "Update nicht gestartet: " + why);
}

}  // namespace

Outcome CheckForUpdate(THTTPGet& http, const std::string& webBase,
                       const std::string& folder, const std::string& ownVersion,
                       std::string& offered) {
  offered.clear();
  MakeFolder(folder);
  const std::string fileName = folder + "version.txt";
  const std::string url = webBase + "/sync/version.txt";
  DeleteDownloadedFile(fileName);
  http.WaitThread = true;
  http.MaxFileSize = static_cast<int64_t>(kMaxVersionFileBytes);
  http.DownloadFile(url, fileName);
  http.MaxFileSize = 0;

  // The file exists exactly when the server answered; whether the answer is
  // usable the text itself tells.
  if (!FileExists(fileName)) {
    return Outcome::Failed(W1252("Versionsprüfung"), 0,
                           "Die Versionsdatei konnte nicht vom Server geladen werden: " + url);
  }
  std::string text;
  try {
    std::string content;
    // A version needs a few bytes; what is longer is no version file and
    // offers nothing.
    if (!ReadPlainFile(fileName, kMaxVersionFileBytes, content)) {
      DeleteDownloadedFile(fileName);
      return Outcome::Ok();
    }
    for (const std::string& line : SplitLines(content)) text += line + "\r\n";
  } catch (const std::exception& e) {
    return Outcome::Failed(W1252("Versionsprüfung"), 0, e.what());
  }

  // A web server's error page instead of the version file.
  for (const char* word : {"not found", "not exist", "doesn't exist"}) {
    if (text.find(word) != std::string::npos) return Outcome::Ok();
  }
  const std::string version = Trim(text);
  if (!version.empty() && IsNewerVersion(version, ownVersion)) offered = version;
  return Outcome::Ok();
}

std::string UpdateOfferText(const std::string& offered) {
  return "Update auf die neue Version " + offered + W1252(" verfügbar. Jetzt laden?");
}

Outcome DownloadAndStartUpdate(THTTPGet& http, const std::string& webBase,
                               const std::string& folder, const std::string& publisher) {
  // A second download into the same file while one runs would see the
  // first one's outcome, and could start a half-written program.
  if (http.Running()) return NotStarted("es wird bereits ein Update geladen.");
  MakeFolder(folder);
  const std::string fileName = folder + "mob.exe";
  // What a failed download leaves must never be an older copy that looks new.
  DeleteDownloadedFile(fileName);
  http.WaitThread = true;
  http.DownloadFile(webBase + "/sync/mob.exe", fileName);
  if (http.StatusCode() != 0 && http.StatusCode() != 200) {
    DeleteDownloadedFile(fileName);
    return NotStarted("der Server hat mob.exe nicht geliefert (HTTP " +
                      std::to_string(http.StatusCode()) + ").");
  }
  if (!http.Result()) {
    DeleteDownloadedFile(fileName);
    return NotStarted(W1252("mob.exe konnte nicht vollständig vom Server geladen werden."));
  }
  return StartUpdateIfGenuine(fileName, http.FetchedSecurely(), publisher);
}

Outcome StartUpdateIfGenuine(const std::string& fileName, bool fetchedSecurely,
                             const std::string& publisher) {
  const CodeSignature signature =
      fetchedSecurely ? CodeSignature() : ReadCodeSignature(fileName, publisher);
  if (fetchedSecurely || (signature.state == CodeSignature::State::kValid && signature.byPublisher)) {
    // Declined at Windows' consent prompt, or no program at all: the tool
    // stays, and the user can fetch the update from the page.
    if (!StartProgramDetached(fileName))
      return NotStarted(W1252("mob.exe ließ sich nicht starten."));
    return Outcome::Ok();
  }
  DeleteDownloadedFile(fileName);
  const std::string why = W1252("mob.exe kam nicht über eine geprüfte HTTPS-Verbindung und ");
  switch (signature.state) {
    case CodeSignature::State::kNotSigned:
      return NotStarted(why + "ist nicht signiert.");
    case CodeSignature::State::kInvalid:
      return NotStarted(why + W1252("trägt eine ungültige Signatur."));
    case CodeSignature::State::kValid:
      break;
  }
  if (publisher.empty()) {
    return NotStarted(why + "ist von \"" + signature.signer +
                      "\" signiert, in Kelvanor.ini ist aber kein Herausgeber (publisher) "
                      "eingetragen.");
  }
  return NotStarted(why + "ist von \"" + signature.signer + "\" signiert statt von \"" +
                    publisher + "\".");
}

}  // namespace kelvanor
