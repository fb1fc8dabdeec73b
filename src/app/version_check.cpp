#include "app/version_check.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/launch.h"
#include "util/text.h"

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

Outcome CheckForUpdate(THTTPGet& http, const std::string& webBase,
                       const std::string& programFolder, const std::string& ownVersion,
                       std::string& offered) {
  offered.clear();
  const std::string fileName = programFolder + "version.txt";
  const std::string url = webBase + "/sync/version.txt";
  std::error_code ignored;
  std::filesystem::remove(SystemPath(fileName), ignored);
  http.WaitThread = true;
  http.DownloadFile(url, fileName);

  // The file exists exactly when the server answered; whether the answer is
  // usable the text itself tells.
  if (!FileExists(fileName)) {
    return Outcome::Failed("Versionspr\xFC" "fung", 0,
                           "Die Versionsdatei konnte nicht vom Server geladen werden: " + url);
  }
  std::string text;
  try {
    for (const std::string& line : SplitLines(ReadWholeFile(fileName))) text += line + "\r\n";
  } catch (const std::exception& e) {
    return Outcome::Failed("Versionspr\xFC" "fung", 0, e.what());
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
  return "Update auf neue Version  " + offered + "  verf\xFC" "gbar. Jetzt laden?";
}

void DownloadAndStartUpdate(THTTPGet& http, const std::string& webBase,
                            const std::string& programFolder) {
  const std::string fileName = programFolder + "mob.exe";
  http.WaitThread = true;
  http.DownloadFile(webBase + "/sync/mob.exe", fileName);
  StartProgramDetached(fileName);
}

}  // namespace kelvanor
