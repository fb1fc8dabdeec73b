// The version check and the self-update without a window: the window (and
// kelvanor-cli) decide how an offer or an error is shown.
//
// Room src/server_checks: what the tool asks of the sync server outside a
// sync (does every address answer, is there a newer version). It uses the
// server room's transfers and the settings, never the sync run: a
// TransferLog is all it knows of one.
#pragma once

#include <string>

#include "net/http_get.h"
#include "util/outcome.h"

namespace kelvanor {

// True when both are dotted versions (numbers joined by single dots) and
// `offered` is the greater, compared number by number with a missing part
// counting 0: 1.0.0.100 is newer than 1.0.0.99, 1.0.1 than 1.0.0.99, 1.0.0.8
// is not newer than 1.0.0.72, and 1.0 equals 1.0.0.0. A text that is not a
// dotted version (a word, a blank inside, "1..2", "-1") is never newer.
bool IsNewerVersion(const std::string& offered, const std::string& own);

// Fetches webBase + "/sync/version.txt" into folder + "version.txt" (the
// folder is made when missing; the file is deleted first) and compares its
// trimmed text with ownVersion. `offered` receives the server's version when
// it is newer, else "". An error page of
// the server offers nothing; so does a version file longer than
// kMaxVersionFileBytes, which is not read but deleted (the download stops
// soon after the limit). A version file that could not be fetched at all
// fails, with a German message. Leaves http.WaitThread on.
Outcome CheckForUpdate(THTTPGet& http, const std::string& webBase,
                       const std::string& folder, const std::string& ownVersion,
                       std::string& offered);

// "Update auf neue Version  <offered>  verfügbar. Jetzt laden?"
std::string UpdateOfferText(const std::string& offered);

// Downloads webBase + "/sync/mob.exe" into folder + "mob.exe" (the folder is
// made when missing, an old copy is deleted first) and starts it detached
// from this process, but only when it is genuine (see StartUpdateIfGenuine): a program that anyone on
// the way could have swapped is never run. Ok when the update was started
// (whether it then runs is not looked at); else it fails with one German
// line that says why not, and the downloaded file is gone. Touches nothing
// and fails while `http` is still busy with another download.
Outcome DownloadAndStartUpdate(THTTPGet& http, const std::string& webBase,
                               const std::string& folder, const std::string& publisher);

// The decision for a downloaded update `fileName`: it is started when it
// came over https with the certificate verified all the way
// (`fetchedSecurely`, see THTTPGet::FetchedSecurely), or when it carries a
// valid code signature whose signer is `publisher` (Windows). Otherwise it
// is deleted and it fails with the German line saying why; it fails too when
// a genuine update cannot be started (the user declined Windows' consent
// prompt).
Outcome StartUpdateIfGenuine(const std::string& fileName, bool fetchedSecurely,
                             const std::string& publisher);

}  // namespace kelvanor
