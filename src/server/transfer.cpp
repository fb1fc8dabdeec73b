#include "server/transfer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "server/command_batch.h"
#include "server/download_archive.h"
#include "server/server_address.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// The FTP account of the upload is fixed; it is not taken from the settings.
constexpr char kFtpLogin[] = "ftp5830417-mob:kwaldrimensup";
// How much of a failed command's output goes into the log.
constexpr std::size_t kOutputLinesShown = 10;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A command line holds only what the console code page can show; a name or
// folder with any other character is refused before a command is written.
void RefuseWhatTheConsoleCannotShow(const Settings& settings) {
  const Outcome usable = CheckCommandLineSettings(settings);
  if (!usable.IsOk()) throw Exception(usable.Message());
}

// An archive without any entry is exactly its end record: 22 bytes starting
// with PK 05 06, and a zero entry count.
bool IsEmptyZip(const std::string& path) {
  std::string bytes;
  try {
    if (!ReadPlainFile(path, 22, bytes)) return false;
  } catch (const EInOutError&) {
    return false;
  }
  return bytes.size() == 22 && bytes.compare(0, 4, "PK\x05\x06") == 0 && bytes[10] == 0 &&
         bytes[11] == 0;
}

class StepRunner {
 public:
  StepRunner(const Settings& settings, TransferLog& log) : settings_(settings), log_(log) {}

  bool Run(const TransferStep& step) {
    if (!step.startLine.empty()) log_.LogLine(step.startLine);
    std::string output;
    int status = RunCommand(step.command, settings_.local_dir, log_.Pump(), &output, step.login);
    if (!step.url.empty()) return Judge(step, status, CurlOutputText(output));
    if (status == 1 && !step.emptyArchive.empty() && IsEmptyZip(step.emptyArchive)) status = 0;
    if (status != 0) {
      Fail(step.name, status, Utf8ToCp1252(output));
      return false;
    }
    log_.LogLine(step.endLine);
    return true;
  }

  // A check of the tool's own between two commands; the same as a failed
  // step, with the check's message.
  bool Check(const Outcome& checked) {
    if (checked.IsOk()) return true;
    result_ = checked;
    // A message breaks its lines with carriage returns; the log takes lines.
    std::string prefix = "FEHLER: ";
    for (const std::string& line : SplitLines(checked.Message())) {
      log_.Step(prefix + line);
      prefix.clear();
    }
    return false;
  }

  // Always in the memo, whatever the detail log says: the user must see
  // which step stopped the sync and why.
  void Fail(const std::string& stepName, int exitCode, const std::string& detail) {
    result_ = StepFailed(stepName, exitCode);
    log_.Step("FEHLER: " + stepName + " fehlgeschlagen (Exit-Code " + std::to_string(exitCode) +
              ").");
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(detail))
      if (!Trim(line).empty()) lines.push_back(line);
    const std::size_t first = lines.size() > kOutputLinesShown ? lines.size() - kOutputLinesShown : 0;
    for (std::size_t i = first; i < lines.size(); ++i) log_.Step("  " + lines[i]);
  }

  const Outcome& Result() const { return result_; }
  // The last curl step found no archive at the archive's own address.
  bool NoArchive() const { return noArchive_; }
  // What the last curl step reported, and the answer it carried.
  const CurlReport& LastReport() const { return lastReport_; }
  std::string LastAnswer() const { return CurlAnswerText(lastReport_.text); }

 private:
  // A curl step is done only when the server did it: the script itself
  // answered, and not with an error. The user reads what went wrong and the
  // server's words; the memo keeps curl's exit status and its own lines.
  bool Judge(const TransferStep& step, int status, const std::string& output) {
    lastReport_ = ReadCurlReport(output);
    const CurlVerdict verdict = JudgeCurl(step.request, step.url, status, output);
    if (verdict.kind == CurlVerdict::Kind::kDone) {
      if (verdict.redirected) log_.Hint(RedirectHint(verdict));
      log_.LogLine(step.endLine);
      return true;
    }
    if (verdict.kind == CurlVerdict::Kind::kNoArchive) {
      noArchive_ = true;
      return false;
    }
    result_ = Outcome::Failed(
        step.name, status,
        CurlFailureMessage(verdict, step.what, settings_.name, settings_.servers.ftpTls));
    // curl itself was content (status 0) when the answer came from elsewhere
    // or read as an error.
    const std::string why = status != 0 ? "Exit-Code " + std::to_string(status)
                            : verdict.kind == CurlVerdict::Kind::kMoved
                                ? "weitergeleitet"
                                : "die Antwort meldet einen Fehler";
    log_.Step("FEHLER: " + step.name + " fehlgeschlagen (" + why + ").");
    if (verdict.code != 0) {
      log_.Step("  Antwort " + std::to_string(verdict.code) + " von " + verdict.reached);
    }
    for (const std::string& line : CurlDetailLines(ReadCurlReport(output).text)) {
      log_.Step("  " + line);
    }
    return false;
  }


  const Settings& settings_;
  TransferLog& log_;
  Outcome result_;
  bool noArchive_ = false;
  CurlReport lastReport_;
};

// The same step, judged as a curl command (see TransferStep), with the login
// of the address it goes to.
TransferStep Curl(TransferStep step, CurlRequest request, std::string url, std::string what,
                  std::string login = std::string()) {
  step.request = request;
  step.url = std::move(url);
  step.what = std::move(what);
  step.login = std::move(login);
  return step;
}

// The scripts' address as commands and lines show it: without a password.
std::string ScriptsAddress(const Settings& settings) {
  return AddressWithoutLogin(settings.servers.base);
}

TransferStep DelmobStep(const Settings& settings) {
  const std::string url =
      ScriptsAddress(settings) + "/mob/delmob.php?kd=" + UrlEncodeAccountName(settings.name);
  return Curl({"Server-Delmob.php", "Server-Delmob.php (s. tmp.bat) ...", "curl.exe " + url,
               "Server-Delmob.php fertig - !"},
              CurlRequest::kScript, url,
              W1252("Die Mobildaten auf dem Server konnten nicht gelöscht werden (delmob.php)"),
              AddressLogin(settings.servers.base));
}

}  // namespace

std::string UploadAddress(const Settings& settings) {
  return AddressWithoutLogin(settings.servers.ftp) + "/up_" + UrlEncodeAccountName(settings.name) +
         ".zip";
}

Outcome StepFailed(const std::string& step, int exitCode) {
  return Outcome::Failed(step, exitCode,
                         "Der Schritt \"" + step + "\" ist fehlgeschlagen (Exit-Code " +
                             std::to_string(exitCode) + "). Die Synchronisation wurde abgebrochen.");
}

UploadPlan PlanUpload(const Settings& settings) {
  RefuseWhatTheConsoleCannotShow(settings);
  const std::string& localDir = settings.local_dir;
  const std::string name = AnsiToOem(settings.name);
  const std::string urlName = UrlEncodeAccountName(settings.name);

  std::string list;
  for (const std::string& file : settings.DataFiles)
    if (!file.empty()) list += " " + Quoted(localDir + file);

  UploadPlan plan;
  plan.archive = localDir + "up_" + settings.name + ".zip";
  plan.files = AnsiToOem(list);
  const std::string fwd = AnsiToOem(ReplaceAll(localDir, "\\", "/"));
  const std::string archive = Quoted(fwd + "up_" + name + ".zip");
  // The log shows the names as the user wrote them; only the command line
  // needs the console's code page.
  const std::string archiveShown =
      Quoted(ReplaceAll(localDir, "\\", "/") + "up_" + settings.name + ".zip");
  // The file's name on the server is written out, in the bytes unzip.php
  // builds from kd: left to curl it would be the local file's name, which
  // is UTF-8 on Linux while kd goes out in Windows-1252.
  const std::string ftp = UploadAddress(settings);
  const std::string login = AddressLogin(settings.servers.base);
  const std::string unzipUrl = ScriptsAddress(settings) + "/mob/unzip.php?kd=" + urlName;

  plan.steps.push_back({"Zip", "Zip (s. tmp.bat) ...", "zip.exe -j " + archive + " " + plan.files,
                        "Zip fertig - " + list + " -> " + archiveShown, ""});
  // -v: the FTP server's own words when it refuses (its "530 ..."), which
  // curl's line leaves out. --ssl-reqd: the login and the upload over TLS or
  // not at all (an ftps:// address is TLS from the start anyway).
  const std::string tls = settings.servers.ftpTls ? " --ssl-reqd" : "";
  plan.steps.push_back(Curl({"Upload zum Server", "Upload zum Server (s. tmp.bat) ...",
                             "curl.exe -T " + archive + " -u " + kFtpLogin + " " + ftp + tls +
                                 " -v",
                             "Upload zum Server fertig - " + archiveShown + " -> " + ftp},
                            CurlRequest::kFtpUpload, ftp,
                            "Die Daten konnten nicht auf den Server hochgeladen werden"));
  plan.steps.push_back(Curl({"Server-Unzip.php", "Server-Unzip.php (s. tmp.bat) ...",
                             "curl.exe " + unzipUrl, "Server-Unzip.php fertig - " + unzipUrl},
                            CurlRequest::kScript, unzipUrl,
                            W1252("Der Server konnte die hochgeladenen Daten nicht für das "
                                  "Mobilgerät auspacken (unzip.php)"),
                            login));
  return plan;
}

DownloadPlan PlanDownload(const Settings& settings, const CivilTime& today,
                          const std::string& folderName, const std::string& requestTag) {
  RefuseWhatTheConsoleCannotShow(settings);
  const std::string& localDir = settings.local_dir;
  const std::string name = AnsiToOem(settings.name);
  const std::string base = ScriptsAddress(settings);
  const std::string login = AddressLogin(settings.servers.base);
  const std::string urlName = UrlEncodeAccountName(settings.name);

  DownloadPlan plan;
  const std::string zipUrl = base + "/mob/zip.php?kd=" + urlName;
  plan.serverZip = Curl({"Server-Zip.php", "", "curl.exe " + zipUrl, "curl.exe " + zipUrl},
                        CurlRequest::kScript, zipUrl,
                        W1252("Der Server konnte die Änderungen vom Mobilgerät nicht "
                              "bereitstellen (zip.php)"),
                        login);

  plan.dir = ReplaceAll(localDir, "\\", "/") + folderName + "/";
  plan.folderToEmpty = localDir + folderName + kPathSep;
  const std::string dir = AnsiToOem(plan.dir);
  const std::string zip = Quoted(dir + "dl_" + name + ".zip");
  const std::string zipShown = Quoted(plan.dir + "dl_" + settings.name + ".zip");
  const std::string archiveUrl = base + "/mob/transfer/dl_" + urlName + ".zip";
  const std::string transferUrl = archiveUrl + (requestTag.empty() ? "" : "?t=" + requestTag);

  plan.archive = plan.dir + "dl_" + settings.name + ".zip";
  plan.archiveName = "dl_" + settings.name + ".zip";
  plan.copyName = "dl_" + settings.name + "_" + ShortDateText(today) + ".zip";
  plan.steps.push_back(
      Curl({"Download", "Download (s. tmp.bat) ...", "curl.exe " + transferUrl + " -o " + zip,
            "Download fertig - " + archiveUrl},
           CurlRequest::kArchive, transferUrl,
           W1252("Die Änderungen vom Mobilgerät konnten nicht vom Server "
                 "geladen werden"),
           login));

  // The dated copy comes before the archive is unpacked: nothing unpacked can
  // stand in its place.
  const std::string zipBack = ReplaceAll(zip, "/", "\\");
  const std::string zipBackShown = ReplaceAll(zipShown, "/", "\\");
  const std::string copyName = "dl_" + name + "_" + ShortDateText(today) + ".zip";
  const std::string copy = ReplaceAll(dir + copyName, "/", "\\");
  const std::string copyShown = ReplaceAll(plan.dir + plan.copyName, "/", "\\");
  plan.steps.push_back({"Copy", "Copy (s. tmp.bat) ...", "copy " + zipBack + " " + Quoted(copy),
                        "Copy fertig - " + zipBackShown + " -> " + Quoted(copyShown), ""});
  plan.steps.push_back({"Unzip", "Unzip (s. tmp.bat) ...",
                        "unzip.exe " + zip + " -d " + Quoted(dir),
                        "Unzip fertig - " + zipShown + " -> " + Quoted(plan.dir), plan.archive});
  plan.steps.push_back({"Delete", "Delete (s. tmp.bat) ...", "del " + zipBack,
                        "Delete fertig - " + zipBackShown, ""});
  return plan;
}

std::string RemoveDownloadFolderCommand(const Settings& settings) {
  RefuseWhatTheConsoleCannotShow(settings);
  return "rmdir /S /Q " + Quoted(AnsiToOem(settings.local_dir) + "tmp_dl" + kPathSep);
}

Outcome UploadData(const Settings& settings, TransferLog& log) {
  const UploadPlan plan = PlanUpload(settings);
  StepRunner runner(settings, log);

  // zip adds to an archive that is already there, so a stale one must go
  // first; if it cannot, the upload would send old files and must stop.
  log.LogLine("Delete ...");
  std::error_code removeError;
  std::filesystem::remove(SystemPath(plan.archive), removeError);
  if (removeError) {
    const std::string reason = removeError.message();
    runner.Fail("Delete", 1, plan.archive + W1252(" kann nicht gelöscht werden: ") + reason);
    return runner.Result();
  }
  log.LogLine("Delete fertig - " + plan.archive);

  for (const TransferStep& step : plan.steps)
    if (!runner.Run(step)) break;
  return runner.Result();
}

std::string DownloadFacts::Describe() const {
  auto local = [](int64_t moment) {
    if (moment <= 0) return std::string("unbekannt");
    const std::tm t = LocalTime(static_cast<std::time_t>(moment));
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return std::string(text);
  };
  if (packedAt <= 0) {
    return W1252("der Server sagt nicht, wann es gepackt wurde; angefordert am ") + local(answeredAt);
  }
  return "gepackt am " + local(packedAt) + ", angefordert am " + local(answeredAt);
}

bool PackedForRequest(int64_t date, int64_t lastModified, double seconds) {
  if (date <= 0 || lastModified <= 0) return false;
  // The archive was written after the server took the request, which was
  // at most `seconds` before it dated its answer; both headers count whole
  // seconds, so a request under a second may see the previous second.
  const auto took = static_cast<int64_t>(std::ceil(std::max(seconds, 0.0)));
  return lastModified >= date - std::max<int64_t>(took, 1);
}

namespace {

// An archive packed for the request cannot hold more change files than zip.php
// packed for it (an old one is judged by its age, see DownloadFacts). One
// that does was updated rather than written anew (the zip command, or
// ZipArchive opened without OVERWRITE, keeps every entry it does not
// replace): the others are files the server dropped long ago, whose lines the
// journal has forgotten since and would import a second time.
Outcome CheckPackedCount(const DownloadPlan& plan, const std::string& zipAnswer) {
  const long packed = PackedFileCount(zipAnswer);
  if (packed < 0) return Outcome::Ok();
  long held = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(SystemPath(plan.dir), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = AsciiLowerCase(AnsiPath(it->path().filename()));
    if (name.size() > 6 && name.compare(name.size() - 6, 6, "_x.txt") == 0) ++held;
  }
  if (held <= packed) return Outcome::Ok();
  return Outcome::Failed(
      "Download", 0,
      W1252("Das Archiv ") + plan.archiveName + W1252(" enthält ") + std::to_string(held) +
          W1252(" Änderungsdateien, zip.php hat aber nur ") + std::to_string(packed) +
          W1252(" gepackt: Der Server ergänzt ein altes Archiv, statt es neu zu schreiben, und "
                "schickt so auch Daten, die er längst gelöscht hat.\rBitte den Betreiber des Servers "
                "fragen: zip.php muss das alte Archiv vor dem Packen löschen."));
}

// A text no earlier request of this program used.
std::string RequestTag() {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  return std::to_string(now) + "-" + std::to_string(CurrentProcessId()) + "-" +
         std::to_string(++counter);
}

}  // namespace

Outcome DownloadData(const Settings& settings, const Folders& folders, TransferLog& log,
                     const std::string& folderName, DownloadFacts* facts) {
  DownloadFacts ignored;
  DownloadFacts& told = facts != nullptr ? *facts : ignored;
  told = DownloadFacts();
  // The tools beside the program are found first (the interpreter looks in
  // the current folder before the search path).
  if (!SetCurrentFolder(folders.ProgramFolder)) {
    // Not fatal: the tools are then taken from the search path.
  }
  const DownloadPlan plan = PlanDownload(settings, NowCivil(), folderName, RequestTag());
  StepRunner runner(settings, log);
  if (!runner.Run(plan.serverZip)) return runner.Result();
  const CurlReport zipReport = runner.LastReport();
  const std::string zipAnswer = runner.LastAnswer();
  told.answeredAt = ParseHttpDate(zipReport.date);

  const std::filesystem::path dir = SystemPath(plan.dir);
  std::error_code made;
  if (!std::filesystem::create_directory(dir, made)) {
    // Usually left from an earlier run: clear it and make it anew.
    EmptyAndRemoveFolder(plan.folderToEmpty);
    if (!std::filesystem::create_directory(dir, made)) {
      const std::string reason = made ? made.message() : std::make_error_code(std::errc::file_exists).message();
      throw EInOutError("Das Verzeichnis " + plan.dir + " kann nicht angelegt werden (" +
                        Utf8ToCp1252(reason) + ").");
    }
    log.LogLine(W1252("Verzeichnis gelöscht + neu erstellt - ") + plan.dir);
  }

  // Download, copy, unzip, delete; what the server sent is looked at before
  // unzip writes anything, and what unzip wrote before anything reads it.
  const TransferStep& download = plan.steps[0];
  const TransferStep& copy = plan.steps[1];
  const TransferStep& unzip = plan.steps[2];
  const TransferStep& remove = plan.steps[3];
  if (!runner.Run(download)) {
    // What curl kept in the archive's place is the server's error page.
    std::error_code removeError;
    std::filesystem::remove(SystemPath(plan.archive), removeError);
    if (!runner.NoArchive()) return runner.Result();
    // Without an archive only zip.php's word tells that nothing was to be
    // packed: a packing that failed, a script that never ran, an archive
    // under another name all leave the archive missing too, and the mobile's
    // lines would pass for none.
    if (PackedFileCount(zipAnswer) != 0) {
      const std::string said = ServerWords(zipAnswer);
      runner.Check(Outcome::Failed(
          "Download", 0,
          W1252("Der Server hat die Änderungen vom Mobilgerät nicht bereitgestellt: zip.php "
                "meldete Erfolg") +
              (said.empty() ? std::string(" ohne Antworttext") : " (\"" + said + "\")") +
              ", aber das Archiv " + plan.archiveName +
              W1252(" fehlt auf dem Server.\rEs wurde nichts verändert; die Mobildaten bleiben "
                    "auf dem Server.\rBleibt der Fehler, bitte den Betreiber des Servers "
                    "fragen.")));
      return runner.Result();
    }
    log.LogLine("Kein Archiv auf dem Server - " + plan.archiveName);
    told.serverEmpty = true;
    return Outcome::Ok();
  }
  const CurlReport archiveReport = runner.LastReport();
  told.packedAt = ParseHttpDate(archiveReport.lastModified);
  told.fresh = PackedForRequest(told.answeredAt, told.packedAt, zipReport.seconds);
  if (!told.fresh && PackedFileCount(zipAnswer) == 0) {
    // zip.php found nothing to pack and left the last archive in place (a
    // script built on the zip command): what that holds is old, the server
    // holds no change file.
    std::error_code removeError;
    std::filesystem::remove(SystemPath(plan.archive), removeError);
    log.LogLine("Altes Archiv auf dem Server, zip.php hat nichts gepackt - " + plan.archiveName);
    told = DownloadFacts{true, false, told.answeredAt, told.packedAt};
    return Outcome::Ok();
  }
  if (runner.Check(CheckDownloadArchive(plan.archive, plan.archiveName,
                                        {plan.archiveName, plan.copyName})) &&
      runner.Run(copy) && runner.Run(unzip) && runner.Check(CheckDownloadFolder(plan.dir)) &&
      (!told.fresh || runner.Check(CheckPackedCount(plan, zipAnswer)))) {
    runner.Run(remove);
  }
  return runner.Result();
}

Outcome DeleteMobileChanges(const Settings& settings, TransferLog& log) {
  StepRunner runner(settings, log);
  runner.Run(DelmobStep(settings));
  return runner.Result();
}

}  // namespace kelvanor
