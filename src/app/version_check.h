// The version check and the self-update without a window: the window (and
// kelvanor-cli) decide how an offer or an error is shown.
#pragma once

#include <string>

#include "net/http_get.h"

namespace kelvanor {

// True when both are dotted versions (numbers joined by single dots) and
// `offered` is the greater, compared number by number with a missing part
// counting 0: 1.0.0.100 is newer than 1.0.0.99, 1.0.1 than 1.0.0.99, 1.0.0.8
// is not newer than 1.0.0.72, and 1.0 equals 1.0.0.0. A text that is not a
// dotted version (a word, a blank inside, "1..2", "-1") is never newer.
bool IsNewerVersion(const std::string& offered, const std::string& own);

struct UpdateCheckResult {
  enum Kind { NoOffer, Offer, Error } kind = NoOffer;
  std::string offered;       // the server's version text (Offer)
  std::string errorMessage;  // German (Error)
};

// Fetches webBase + "/sync/version.txt" into programFolder + "version.txt"
// (deleted first) and compares its trimmed text with ownVersion. An error
// page of the server offers nothing; a version file that could not be
// fetched at all is an Error. Leaves http.WaitThread on.
UpdateCheckResult CheckForUpdate(THTTPGet& http, const std::string& webBase,
                                 const std::string& programFolder,
                                 const std::string& ownVersion);

// "Update auf neue Version  <offered>  verfügbar. Jetzt laden?"
std::string UpdateOfferText(const std::string& offered);

// Downloads webBase + "/sync/mob.exe" into programFolder + "mob.exe" (an old
// copy is deleted first) and starts it detached from this process, but only
// when it is genuine (see StartUpdateIfGenuine): a program that anyone on
// the way could have swapped is never run. Returns "" when the update was
// started (whether it then runs is not looked at), else one German line
// that says why not; the downloaded file is then gone. Touches nothing and
// says so while `http` is still busy with another download.
std::string DownloadAndStartUpdate(THTTPGet& http, const std::string& webBase,
                                   const std::string& programFolder,
                                   const std::string& publisher);

// The decision for a downloaded update `fileName`: it is started when it
// came over https with the certificate verified all the way
// (`fetchedSecurely`, see THTTPGet::FetchedSecurely), or when it carries a
// valid code signature whose signer is `publisher` (Windows). Otherwise it
// is deleted. Returns "" when started, else the German line saying why not.
std::string StartUpdateIfGenuine(const std::string& fileName, bool fetchedSecurely,
                                 const std::string& publisher);

}  // namespace kelvanor
