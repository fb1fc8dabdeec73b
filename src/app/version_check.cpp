#include "app/version_check.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/launch.h"
#include "util/files.h"
#include "util/text.h"

namespace kelvanor {

bool IsNewerVersion(const std::string& offered, const std::string& own) {
  // std::string compares through char_traits<char>, i.e. as unsigned bytes.
  return offered != own && offered.compare(own) > 0;
}

UpdateCheckResult CheckForUpdate(THTTPGet& http, const std::string& webBase,
                                 const std::string& programFolder,
                                 const std::string& ownVersion) {
  UpdateCheckResult result;
  const std::string fileName = programFolder + "version.txt";
  const std::string url = webBase + "/sync/version.txt";
  std::error_code ignored;
  std::filesystem::remove(SystemPath(fileName), ignored);
  http.WaitThread = true;
  http.DownloadFile(url, fileName);

  // The file exists exactly when the server answered; whether the answer is
  // usable the text itself tells.
  if (!FileExists(fileName)) {
    result.kind = UpdateCheckResult::Error;
    result.errorMessage = "Die Versionsdatei konnte nicht vom Server geladen werden: " + url;
    return result;
  }
  std::string text;
  try {
    for (const std::string& line : SplitLines(ReadWholeFile(fileName))) text += line + "\r\n";
  } catch (const std::exception& e) {
    result.kind = UpdateCheckResult::Error;
    result.errorMessage = e.what();
    return result;
  }

  // A web server's error page instead of the version file.
  for (const char* word : {"not found", "not exist", "doesn't exist"}) {
    if (text.find(word) != std::string::npos) return result;
  }
  const std::string offered = Trim(text);
  if (offered.empty()) return result;
  if (IsNewerVersion(offered, ownVersion)) {
    result.kind = UpdateCheckResult::Offer;
    result.offered = offered;
  }
  return result;
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
