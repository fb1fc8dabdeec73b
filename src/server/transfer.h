// The two transfers with the sync server, each a fixed sequence of command
// lines run through the command batch:
//
//   UploadData    zip the data files in local_dir into up_NAME.zip, send it
//                 to the FTP account, ask the server to unpack it;
//   DownloadData  ask the server to pack the mobile's change files, fetch
//                 dl_NAME.zip into local_dir/tmp_dl/, keep a dated copy of
//                 it, unpack it there and delete the original. The archive is
//                 read before unzip runs and refused unless it holds only
//                 plain files with plain names within the limits of
//                 download_limits.h; the folder is looked at again after.
//                 Whether the archive shows all the server holds is told
//                 apart (DownloadFacts): only such a download may be followed
//                 by a delete request.
//
// Every step's exit status is checked. A failed step is logged always (not
// only with the detail log on), names the step and its exit status, and ends
// the sequence right there: nothing after it runs.
//
// Paths and the account name go into the commands in the console code page
// (AnsiToOem), in which the command interpreter reads the whole line. A name
// or local_dir holding a character that code page cannot show is refused
// (Exception with a German message) before any command is planned.
//
// Room src/server: what speaks to the sync server in a sync (commands,
// transfers, reading answers, checking archives). It uses the
// settings and the platform layer, never the sync run: a TransferLog is all
// it knows of one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/server_answer.h"
#include "server/transfer_log.h"
#include "settings/settings.h"
#include "util/daynumber.h"
#include "util/outcome.h"

namespace kelvanor {

struct TransferStep {
  TransferStep() = default;
  TransferStep(std::string stepName, std::string start, std::string commandLine,
               std::string end, std::string emptyZip = std::string())
      : name(std::move(stepName)),
        startLine(std::move(start)),
        command(std::move(commandLine)),
        endLine(std::move(end)),
        emptyArchive(std::move(emptyZip)) {}

  std::string name;       // German name of the step, used when it fails
  std::string startLine;  // detail line before the command ("" for none)
  std::string command;    // the line written into tmp.bat
  std::string endLine;    // detail line after success
  // When set: unzip's status 1 ("zipfile is empty") counts as success if
  // this archive really is an empty zip (the server sends one when the
  // mobile has no changes).
  std::string emptyArchive;

  // A curl command is judged by what the server answered (JudgeCurl): what
  // it asks for, at which address, and what its failure means ("Der Server
  // konnte ... nicht ..."). `url` empty: not a curl command.
  CurlRequest request = CurlRequest::kScript;
  std::string url;
  std::string what;
  // The login the server's address holds ("user:password"), handed to curl
  // apart from the command (RunCommand); "" for none.
  std::string login;
};

struct UploadPlan {
  std::string archive;  // ‹local_dir›up_‹name›.zip, deleted before the zip
  std::string files;    // the mapped file list, starting with a blank
  std::vector<TransferStep> steps;  // zip, FTP upload, server unzip
};

struct DownloadPlan {
  std::string dir;           // local_dir with slashes + "tmp_dl/", not mapped
  std::string folderToEmpty; // ‹local_dir›tmp_dl plus the separator, for EmptyAndRemoveFolder
  std::string archive;       // dir + "dl_‹name›.zip", not mapped
  std::string archiveName;   // "dl_‹name›.zip"
  std::string copyName;      // "dl_‹name›_‹date›.zip", the dated copy
  TransferStep serverZip;    // runs before the folder is prepared
  std::vector<TransferStep> steps;  // download, copy, unzip, delete
};

// What a download tells of the server's change files beyond the files: whether
// it shows everything the server held when zip.php answered. A cache between
// the office and the server, or a zip.php whose packing failed while it still
// answered OK, serves an archive packed earlier; deleting on the strength of
// it would drop what the mobile wrote since, unseen.
struct DownloadFacts {
  // zip.php said it packed no file (its answer ends in the count 0) and left
  // no archive, or only one packed earlier: the server holds no change file.
  bool serverEmpty = false;
  // The archive was packed for this request: its Last-Modified is not older
  // than zip.php's answer (both the server's clock) by more than the request
  // took.
  bool fresh = false;
  int64_t answeredAt = 0;  // zip.php's "Date", seconds since 1970; 0 unknown
  int64_t packedAt = 0;    // the archive's "Last-Modified"; 0 unknown

  // The download shows all the server held: a delete request may follow and
  // the journal may forget what it lacks.
  bool Complete() const { return fresh || serverEmpty; }
  // The server's moment of what the download shows.
  int64_t ServerMoment() const { return serverEmpty ? answeredAt : packedAt; }
  // For the user, why an archive counts as old: "gepackt am 09.12.2026
  // 14:05:33, angefordert am 09.12.2026 14:30:02" (local time).
  std::string Describe() const;
};

// Whether an archive with `lastModified` was packed for the zip.php request
// answered at `date` that took `seconds` (all as curl reports them).
bool PackedForRequest(int64_t date, int64_t lastModified, double seconds);

// The command and log texts, built from the settings (and the date of the
// dated copy); the functions below run them. Raise Exception when
// CheckCommandLineSettings refuses the settings.
UploadPlan PlanUpload(const Settings& settings);
// `folderName` is the download folder below local_dir ("tmp_dl"; another
// for a second look at the server that must not touch what the user sees).
// `requestTag`, when given, goes into the archive's address as its query
// ("dl_hof1.zip?t=..."): a cache that ignores "no-cache" still has no copy
// under an address never asked before; the file server ignores it.
DownloadPlan PlanDownload(const Settings& settings, const CivilTime& today,
                          const std::string& folderName = "tmp_dl",
                          const std::string& requestTag = std::string());

// The command that removes the download folder after the import question:
// rmdir /S /Q "‹local_dir›tmp_dl\" ("/" on Linux), local_dir in the console
// code page like every other path (the interpreter reads the whole line in it).
std::string RemoveDownloadFolderCommand(const Settings& settings);

// Where the upload goes: the FTP address and the file's name on the server,
// "up_" + the account name as kd sends it (Windows-1252, percent-encoded) +
// ".zip". The same bytes on every system, so unzip.php finds the upload.
std::string UploadAddress(const Settings& settings);

// An external step that failed with `exitCode`; its message tells the user
// which step and that the sync was stopped.
Outcome StepFailed(const std::string& step, int exitCode);

// Runs the upload in local_dir. Raises EInOutError when tmp.bat cannot be
// written. It succeeds only when unzip.php itself answered without an error.
Outcome UploadData(const Settings& settings, TransferLog& log);

// Runs the download: makes ProgramFolder the current folder (a failure is
// ignored), so tools beside the program win over the search path. Raises
// EInOutError when tmp.bat cannot be written or the download folder cannot
// be made anew. `facts` (when given) receives what the download shows of the
// server (see DownloadFacts).
//
// An archive that is not there (404 at its own address) means no change
// files only when zip.php's answer says it packed none (PHP's ZipArchive
// writes no archive without entries): the download folder stays empty, it
// succeeds, and facts->serverEmpty is set. Any other missing archive (the
// packing failed, the script never ran, another name) is a failure. An
// archive not packed for the request while zip.php says it packed none (a
// script built on the zip command leaves the last one in place) is old: it
// is not unpacked, and facts->serverEmpty is set as well.
Outcome DownloadData(const Settings& settings, const Folders& folders, TransferLog& log,
                     const std::string& folderName = "tmp_dl", DownloadFacts* facts = nullptr);

// Asks the server to delete the account's change files (delmob.php); fails
// unless the script itself answered without an error.
Outcome DeleteMobileChanges(const Settings& settings, TransferLog& log);

}  // namespace kelvanor
