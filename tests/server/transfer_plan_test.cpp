// The command and log texts of the two transfers, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "server/server_answer.h"
#include "server/transfer.h"
#include "platform/environment.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor::testing {
namespace {

Settings MakeSettings(const std::string& localDir, const std::string& name) {
  Settings s;
  s.local_dir = localDir;
  s.name = name;
  const char* const files[] = {"mob_artikel.txt", "mob_kunde.txt", "mob_kunde_pferd.txt",
                               "mob_leistgruppe.txt", "mob_leistung.txt", "mob_pferd.txt",
                               "mob_termin.txt", "mob.ini", "mobv2.ini", "mob_stall.txt"};
  for (std::size_t i = 0; i < std::size(files); ++i) s.DataFiles[i] = files[i];
  s.servers.base = "http://sync.example";
  s.servers.ftp = "ftp://ftp.example";
  return s;
}

CivilTime SeventhOfDecember() {
  CivilTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 7;
  return t;
}

TEST(TransferPlan, UploadWithAnUmlautInTheLocalFolder) {
  const UploadPlan plan = PlanUpload(MakeSettings("C:\\Daten\\B\xFCro\\mobil\\", "anna"));
  const std::string dir = "C:\\Daten\\B\x81ro\\mobil\\";  // mapped, backslashes kept
  const std::string files = " \"" + dir + "mob_artikel.txt\" \"" + dir + "mob_kunde.txt\" \"" +
                            dir + "mob_kunde_pferd.txt\" \"" + dir + "mob_leistgruppe.txt\" \"" +
                            dir + "mob_leistung.txt\" \"" + dir + "mob_pferd.txt\" \"" + dir +
                            "mob_termin.txt\" \"" + dir + "mob.ini\" \"" + dir + "mobv2.ini\" \"" +
                            dir + "mob_stall.txt\"";
  const std::string zip = "\"C:/Daten/B\x81ro/mobil/up_anna.zip\"";

  EXPECT_EQ(plan.archive, "C:\\Daten\\B\xFCro\\mobil\\up_anna.zip");
  EXPECT_EQ(plan.files, files);
  ASSERT_EQ(plan.steps.size(), 3u);
  EXPECT_EQ(plan.steps[0].startLine, "Zip (s. tmp.bat) ...");
  EXPECT_EQ(plan.steps[0].command, "zip.exe -j " + zip + " " + files);
  // One blank after the archive, one leading the list.
  EXPECT_EQ(plan.steps[0].command.rfind(
                "zip.exe -j \"C:/Daten/B\x81ro/mobil/up_anna.zip\"  \"C:\\Daten\\B\x81ro", 0),
            0u);
  // The log names them as the user wrote them.
  const std::string shown = ReplaceAll(files, "B\x81ro", "B\xFCro");
  EXPECT_EQ(plan.steps[0].endLine,
            "Zip fertig - " + shown + " -> \"C:/Daten/B\xFCro/mobil/up_anna.zip\"");

  EXPECT_EQ(plan.steps[1].name, "Upload zum Server");
  EXPECT_EQ(plan.steps[1].startLine, "Upload zum Server (s. tmp.bat) ...");
  // -v: the FTP server's own words when it refuses the login.
  EXPECT_EQ(plan.steps[1].command, "curl.exe -T " + zip +
                                        " -u ftp5830417-mob:kwaldrimensup "
                                        "ftp://ftp.example/up_anna.zip -v");
  EXPECT_EQ(plan.steps[1].endLine, W1252("Upload zum Server fertig - \"C:/Daten/Büro/mobil/up_anna.zip\" "
                                         "-> ftp://ftp.example/up_anna.zip"));

  EXPECT_EQ(plan.steps[2].name, "Server-Unzip.php");
  EXPECT_EQ(plan.steps[2].startLine, "Server-Unzip.php (s. tmp.bat) ...");
  EXPECT_EQ(plan.steps[2].command, "curl.exe http://sync.example/mob/unzip.php?kd=anna");
  EXPECT_EQ(plan.steps[2].endLine,
            "Server-Unzip.php fertig - http://sync.example/mob/unzip.php?kd=anna");

  // Asked for, the login and the upload go over TLS or not at all.
  Settings tls = MakeSettings("C:\\Daten\\B\xFCro\\mobil\\", "anna");
  tls.servers.ftpTls = true;
  EXPECT_EQ(PlanUpload(tls).steps[1].command,
            "curl.exe -T " + zip +
                " -u ftp5830417-mob:kwaldrimensup ftp://ftp.example/up_anna.zip --ssl-reqd -v");
}

TEST(TransferPlan, DownloadWithAnUmlautInTheLocalFolder) {
  const Settings s = MakeSettings("C:\\Daten\\B\xFCro\\mobil\\", "anna");
  const DownloadPlan plan = PlanDownload(s, SeventhOfDecember());
  const std::string dir = "C:/Daten/B\x81ro/mobil/tmp_dl/";
  const std::string zip = "\"" + dir + "dl_anna.zip\"";
  const std::string zipBack = "\"C:\\Daten\\B\x81ro\\mobil\\tmp_dl\\dl_anna.zip\"";
  const std::string copy = "C:\\Daten\\B\x81ro\\mobil\\tmp_dl\\dl_anna_07.12.2026.zip";

  EXPECT_EQ(plan.serverZip.command, "curl.exe http://sync.example/mob/zip.php?kd=anna");
  EXPECT_EQ(plan.serverZip.startLine, "");
  EXPECT_EQ(plan.serverZip.endLine, plan.serverZip.command);
  EXPECT_EQ(plan.dir, "C:/Daten/B\xFCro/mobil/tmp_dl/");  // created unmapped

  ASSERT_EQ(plan.steps.size(), 4u);
  EXPECT_EQ(plan.steps[0].command,
            "curl.exe http://sync.example/mob/transfer/dl_anna.zip -o " + zip);
  EXPECT_EQ(plan.steps[0].startLine, "Download (s. tmp.bat) ...");
  EXPECT_EQ(plan.steps[0].endLine, "Download fertig - http://sync.example/mob/transfer/dl_anna.zip");
  // The dated copy is made before unzip runs.
  EXPECT_EQ(plan.steps[1].command, "copy " + zipBack + " \"" + copy + "\"");
  EXPECT_EQ(plan.steps[1].startLine, "Copy (s. tmp.bat) ...");
  EXPECT_EQ(plan.steps[1].endLine.rfind("Copy fertig - ", 0), 0u);
  EXPECT_NE(plan.steps[1].endLine.find(ReplaceAll(zipBack, "\x81", "\xFC")), std::string::npos);
  EXPECT_NE(plan.steps[1].endLine.find(ReplaceAll(copy, "\x81", "\xFC")), std::string::npos);
  EXPECT_EQ(plan.steps[2].command, "unzip.exe " + zip + " -d \"" + dir + "\"");
  EXPECT_EQ(plan.steps[2].startLine, "Unzip (s. tmp.bat) ...");
  EXPECT_EQ(plan.steps[2].endLine, "Unzip fertig - \"C:/Daten/B\xFCro/mobil/tmp_dl/dl_anna.zip\" -> "
                                   "\"C:/Daten/B\xFCro/mobil/tmp_dl/\"");
  EXPECT_EQ(plan.archiveName, "dl_anna.zip");
  EXPECT_EQ(plan.copyName, "dl_anna_07.12.2026.zip");
  EXPECT_EQ(plan.steps[3].command, "del " + zipBack);
  EXPECT_EQ(plan.steps[3].startLine, "Delete (s. tmp.bat) ...");
  EXPECT_EQ(plan.steps[3].endLine, "Delete fertig - " + ReplaceAll(zipBack, "\x81", "\xFC"));

  // The interpreter reads the whole line in the console code page, so the
  // removal of the folder names it there too.
  EXPECT_EQ(RemoveDownloadFolderCommand(s),
            std::string("rmdir /S /Q \"C:\\Daten\\B\x81ro\\mobil\\tmp_dl") + kPathSep + "\"");
}

TEST(TransferPlan, AnEmptyAccountName) {
  const Settings s = MakeSettings("/home/u/mobil/", "");
  const UploadPlan up = PlanUpload(s);
  EXPECT_EQ(up.archive, "/home/u/mobil/up_.zip");
  EXPECT_EQ(up.steps[0].command.rfind("zip.exe -j \"/home/u/mobil/up_.zip\"  \"/home", 0), 0u);
  EXPECT_EQ(up.steps[2].command, "curl.exe http://sync.example/mob/unzip.php?kd=");

  const DownloadPlan down = PlanDownload(s, SeventhOfDecember());
  EXPECT_EQ(down.serverZip.command, "curl.exe http://sync.example/mob/zip.php?kd=");
  EXPECT_EQ(down.steps[0].command,
            "curl.exe http://sync.example/mob/transfer/dl_.zip -o \"/home/u/mobil/tmp_dl/dl_.zip\"");
  EXPECT_EQ(down.steps[1].command,
            "copy \"\\home\\u\\mobil\\tmp_dl\\dl_.zip\" \"\\home\\u\\mobil\\tmp_dl\\dl__07.12.2026.zip\"");
}

TEST(TransferPlan, AccountNameIsEncodedInUrlsAndInTheConsoleCodePageInFileNames) {
  const Settings s = MakeSettings("/m/", "M\xFCller");
  const UploadPlan up = PlanUpload(s);
  EXPECT_EQ(up.archive, "/m/up_M\xFCller.zip");
  EXPECT_EQ(up.steps[2].command, "curl.exe http://sync.example/mob/unzip.php?kd=M%FCller");
  EXPECT_NE(up.steps[0].command.find("\"/m/up_M\x81ller.zip\""), std::string::npos);
  // On the server the upload is named with the bytes kd carries, whatever
  // the local file's name is in (UTF-8 on Linux).
  EXPECT_NE(up.steps[1].command.find(" ftp://ftp.example/up_M%FCller.zip "), std::string::npos)
      << up.steps[1].command;

  const DownloadPlan down = PlanDownload(s, SeventhOfDecember());
  EXPECT_EQ(down.steps[0].command,
            "curl.exe http://sync.example/mob/transfer/dl_M%FCller.zip -o \"/m/tmp_dl/dl_M\x81ller.zip\"");
  EXPECT_EQ(down.steps[2].emptyArchive, "/m/tmp_dl/dl_M\xFCller.zip");
  EXPECT_EQ(down.archive, "/m/tmp_dl/dl_M\xFCller.zip");
}

TEST(TransferPlan, EveryLetterTheConsoleShowsIsConverted) {
  // A data folder under "Mária": á is 0xA0 in the console code page; before,
  // it went in as 0xE1 and came back as ß.
  const Settings s = MakeSettings("C:\\Users\\M\xE1ria\\mobil\\", "jos\xE9");
  const UploadPlan up = PlanUpload(s);
  EXPECT_EQ(up.steps[0].command.rfind(
                "zip.exe -j \"C:/Users/M\xA0ria/mobil/up_jos\x82.zip\"  \"C:\\Users\\M\xA0ria\\", 0),
            0u);
  EXPECT_EQ(up.steps[0].command.find('\xE1'), std::string::npos);
  const DownloadPlan down = PlanDownload(s, SeventhOfDecember());
  EXPECT_EQ(down.dir, "C:/Users/M\xE1ria/mobil/tmp_dl/");  // created in Windows-1252
  EXPECT_EQ(down.steps[2].command, "unzip.exe \"C:/Users/M\xA0ria/mobil/tmp_dl/dl_jos\x82.zip\" -d "
                                   "\"C:/Users/M\xA0ria/mobil/tmp_dl/\"");
  EXPECT_EQ(RemoveDownloadFolderCommand(s),
            std::string("rmdir /S /Q \"C:\\Users\\M\xA0ria\\mobil\\tmp_dl") + kPathSep + "\"");
}

TEST(TransferPlan, ANameOrFolderTheConsoleCannotShowIsRefused) {
  try {
    PlanUpload(MakeSettings("/m/", "Firma\x99"));
    FAIL() << "no refusal";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("Kontoname \"Firma\x99\" enth\xE4lt das Zeichen '\x99'"),
              std::string::npos)
        << e.what();
  }
  const Settings folder = MakeSettings("/home/\x8A" "arka/mobil/", "anna");
  try {
    PlanDownload(folder, SeventhOfDecember());
    FAIL() << "no refusal";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("Ordner \"/home/\x8A" "arka/mobil/\" enth\xE4lt das Zeichen '\x8A'"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(RemoveDownloadFolderCommand(folder), Exception);
  EXPECT_FALSE(CheckCommandLineSettings(folder).IsOk());
  EXPECT_TRUE(CheckCommandLineSettings(MakeSettings("/home/M\xE1ria/", "anna")).IsOk());
}

TEST(TransferPlan, BlanksInTheLocalFolderAreQuotedExactlyOnce) {
  const Settings s = MakeSettings("/home/u/Meine Daten/mobil/", "anna");
  auto quotes = [](const std::string& text) { return std::count(text.begin(), text.end(), '"'); };

  const UploadPlan up = PlanUpload(s);
  EXPECT_EQ(quotes(up.steps[0].command), 2 + 2 * 10);
  EXPECT_EQ(quotes(up.steps[1].command), 2);
  const DownloadPlan down = PlanDownload(s, SeventhOfDecember());
  EXPECT_EQ(quotes(down.steps[0].command), 2);
  EXPECT_EQ(quotes(down.steps[1].command), 4);
  EXPECT_EQ(quotes(down.steps[2].command), 4);
  EXPECT_EQ(quotes(down.steps[3].command), 2);
  EXPECT_EQ(down.steps[2].command,
            "unzip.exe \"/home/u/Meine Daten/mobil/tmp_dl/dl_anna.zip\" -d "
            "\"/home/u/Meine Daten/mobil/tmp_dl/\"");
}

// ---------------------------------------------------------------------------
// What the server answered, read truthfully.

// What curl writes for one command: the answer, its own line, the report.
std::string CurlOutput(const std::string& answer, const std::string& curlLine, long code,
                       int redirects, const std::string& url) {
  return answer + (curlLine.empty() ? "" : curlLine + "\n") + "\n@@kelvanor-curl " +
         std::to_string(code) + " " + std::to_string(redirects) + " " + url + "\n";
}

const char kUnzip[] = "http://sync.example/mob/unzip.php?kd=anna";
const char kPhpWarning[] =
    "<br />\n<b>Warning</b>:  ZipArchive::extractTo(): Permission denied in "
    "<b>/var/www/mob/unzip.php</b> on line <b>9</b><br />\nOK";

TEST(ServerAnswer, ASoftFailureIsAnErrorAnOrdinaryAnswerIsNot) {
  for (const char* answer :
       {kPhpWarning, "<b>Fatal error</b>: Uncaught Error in /x.php", "PHP Parse error: syntax",
        "Fehler beim Entpacken", "ERROR up_anna.zip is not a zip archive\n", "error", "Not Found",
        "  <p>fehler: kein Archiv</p>",
        // PHP did not run: the script's source came back.
        "<?php\n$kd = $_GET['kd'];\necho \"OK\";\n", "\xEF\xBB\xBF \r\n<?PHP echo 'OK';",
        // An error text behind the byte-order marks of the files PHP put together.
        "\xEF\xBB\xBF" "Fehler: Kontingent voll", "\xEF\xBB\xBF\xEF\xBB\xBF\nERROR no zip"}) {
    EXPECT_TRUE(ReadsAsError(answer)) << answer;
  }
  for (const char* answer : {"OK unzip up_anna.zip 9\n", "", "Fehlerfrei entpackt", "Errors: 0",
                             "\xEF\xBB\xBFOK zip 3", "OK <?php",
                             "<html><head><title>Error</title></head><body>Willkommen</body></html>",
                             "3 Dateien entpackt, kein Fehler"}) {
    EXPECT_FALSE(ReadsAsError(answer)) << answer;
  }
}

TEST(ServerAnswer, TheServersWordsWithoutTheirMarkup) {
  EXPECT_EQ(ServerWords(kPhpWarning),
            "Warning: ZipArchive::extractTo(): Permission denied in /var/www/mob/unzip.php on "
            "line 9 / OK");
  EXPECT_EQ(ServerWords("<html>\r\n<head><title>301 Moved Permanently</title></head>\r\n<body>"
                        "\r\n<center><h1>301 Moved Permanently</h1></center>\r\n<hr><center>"
                        "nginx/1.22.1</center>\r\n</body>\r\n</html>\r\n"),
            "301 Moved Permanently / nginx/1.22.1");
  EXPECT_EQ(ServerWords("<script>alert(1)</script><p>Konto &quot;M&uuml;ller&quot; &amp; a &lt; b"
                        "</p>\n\n\nzwei\nzwei\ndrei\nvier"),
            "Konto \"M\xFCller\" & a < b / zwei / drei");
  EXPECT_EQ(ServerWords(std::string(400, 'x')).size(), 164u);
}

TEST(ServerAnswer, AScriptCountsOnlyWhenItAnsweredItself) {
  using Kind = CurlVerdict::Kind;
  auto judge = [](CurlRequest request, const std::string& requested, int exitCode,
                  const std::string& output) {
    return JudgeCurl(request, requested, exitCode, output);
  };
  // Done, and done over https at the same path and query.
  CurlVerdict v = judge(CurlRequest::kScript, kUnzip, 0,
                        CurlOutput("OK unzip up_anna.zip 9\n", "", 200, 0, kUnzip));
  EXPECT_EQ(v.kind, Kind::kDone);
  EXPECT_FALSE(v.redirected);
  v = judge(CurlRequest::kScript, kUnzip, 0,
            CurlOutput("OK", "", 200, 1, "https://sync.example:8443/mob/unzip.php?kd=anna"));
  EXPECT_EQ(v.kind, Kind::kDone);
  EXPECT_TRUE(v.redirected);
  // Where the server lives, not which script: the same for every request.
  EXPECT_EQ(RedirectHint(v),
            "Hinweis: Der Server leitet http://sync.example nach https://sync.example:8443 weiter; "
            "die Adresse in Kelvanor.ini (Abschnitt [sync_server]) kann angepasst werden.");

  // Another path (or the account name dropped) answering 200 is not the script.
  for (const char* reached : {"http://sync.example/neu/mob/unzip.php?kd=anna",
                              "https://sync.example/mob/unzip.php", "http://sync.example/"}) {
    v = judge(CurlRequest::kScript, kUnzip, 0, CurlOutput("<h1>Willkommen</h1>", "", 200, 1, reached));
    EXPECT_EQ(v.kind, Kind::kMoved) << reached;
    const std::string message = CurlFailureMessage(v, "Der Server konnte nicht auspacken", "anna", false);
    EXPECT_NE(message.find("umgezogen: " + std::string(kUnzip) + " wird nach " + reached +
                           " weitergeleitet."), std::string::npos) << message;
  }
  // Following failed: moved, and where to.
  v = judge(CurlRequest::kScript, kUnzip, 7,
            CurlOutput("", "curl: (7) Failed to connect", 301, 1, "https://sync.example/mob/unzip.php?kd=anna"));
  EXPECT_EQ(v.kind, Kind::kMoved);
  EXPECT_EQ(v.reached, "https://sync.example/mob/unzip.php?kd=anna");
  v = judge(CurlRequest::kScript, kUnzip, 22,
            CurlOutput("<h1>Not Found</h1>", "curl: (22) The requested URL returned error: 404", 404,
                       1, "http://sync.example/neu/unzip.php?kd=anna"));
  EXPECT_EQ(v.kind, Kind::kMoved);
  EXPECT_EQ(v.words, "Not Found");

  // A soft failure and a failure that says why: the server's words.
  v = judge(CurlRequest::kScript, kUnzip, 0, CurlOutput(kPhpWarning, "", 200, 0, kUnzip));
  EXPECT_EQ(v.kind, Kind::kFailed);
  EXPECT_EQ(v.words.rfind("Warning: ZipArchive::extractTo(): Permission denied", 0), 0u);
  v = judge(CurlRequest::kScript, kUnzip, 22,
            CurlOutput("up_anna.zip is not a zip archive\n",
                       "curl: (22) The requested URL returned error: 500", 500, 0, kUnzip));
  EXPECT_EQ(v.kind, Kind::kFailed);
  const std::string message = CurlFailureMessage(v, "Der Server konnte nicht auspacken", "anna", false);
  EXPECT_NE(message.find("Antwort des Servers: \"up_anna.zip is not a zip archive\""),
            std::string::npos) << message;
  EXPECT_EQ(message.find("22"), std::string::npos) << message;
  EXPECT_EQ(message.find("curl"), std::string::npos) << message;

  // The script's source is no answer, and not shown (it may hold passwords);
  // words behind a byte-order mark are the server's, the mark kept as bytes
  // (as "?" it would hide them).
  v = judge(CurlRequest::kScript, kUnzip, 0,
            CurlOutputText(CurlOutput("<?php $pw = 'geheim'; ?>", "", 200, 0, kUnzip)));
  EXPECT_EQ(v.kind, Kind::kFailed);
  EXPECT_EQ(v.words, "");
  EXPECT_EQ(CurlFailureMessage(v, "Der Server konnte nicht auspacken", "anna", false),
            "Der Server konnte nicht auspacken.\rDer Server hat den Quelltext des Skripts "
            "geschickt, statt es auszuf\xFChren: PHP l\xE4uft dort nicht.\rBitte den Betreiber "
            "des Servers fragen.");
  v = judge(CurlRequest::kScript, kUnzip, 0,
            CurlOutputText(CurlOutput("\xEF\xBB\xBF" "Fehler: f\xC3\xBCr anna voll", "", 200, 0,
                                      kUnzip)));
  EXPECT_EQ(v.kind, Kind::kFailed);
  EXPECT_EQ(v.words, "Fehler: f\xFCr anna voll");

  // The account refused, the server out of reach.
  v = judge(CurlRequest::kScript, kUnzip, 22, CurlOutput("ERROR invalid kd\n", "curl: (22) x", 400, 0, kUnzip));
  EXPECT_EQ(v.kind, Kind::kRefused);
  EXPECT_EQ(CurlFailureMessage(v, "x", "hof 1", false),
            "Der Server hat das Konto \"hof 1\" abgelehnt.\rAntwort des Servers: \"ERROR invalid "
            "kd\"\rBitte den Kontonamen unter \"Konto ...\" pr\xFC" "fen.");
  for (const int exitCode : {6, 7, 28}) {
    v = judge(CurlRequest::kScript, kUnzip, exitCode, CurlOutput("", "curl: (7) x", 0, 0, kUnzip));
    EXPECT_EQ(CurlFailureMessage(v, "x", "anna", false),
              "Der Server ist nicht erreichbar. Bitte sp\xE4ter erneut synchronisieren.");
  }
  // Connected, and the script never answered within curl's limit: slow, not
  // out of reach.
  v = judge(CurlRequest::kScript, kUnzip, 28,
            CurlOutput("", "curl: (28) Operation too slow. Less than 1 bytes/sec transferred the "
                           "last 120 seconds", 0, 0, kUnzip));
  EXPECT_EQ(v.kind, Kind::kTooSlow);
  const std::string slow = CurlFailureMessage(v, "x", "anna", false);
  EXPECT_NE(slow.find("zu langsam geantwortet: 120 Sekunden lang ging nichts voran"),
            std::string::npos) << slow;
  EXPECT_EQ(slow.find("nicht erreichbar"), std::string::npos) << slow;
}

TEST(ServerAnswer, NoArchiveOnlyAtItsOwnAddress) {
  using Kind = CurlVerdict::Kind;
  const std::string archive = "http://sync.example/mob/transfer/dl_anna.zip";
  const std::string notFound = "curl: (22) The requested URL returned error: 404";
  EXPECT_EQ(JudgeCurl(CurlRequest::kArchive, archive, 22,
                      CurlOutput("", notFound, 404, 0, archive)).kind,
            Kind::kNoArchive);
  EXPECT_EQ(JudgeCurl(CurlRequest::kArchive, archive, 22,
                      CurlOutput("", notFound, 404, 1, "https://sync.example/mob/transfer/dl_anna.zip")).kind,
            Kind::kNoArchive);
  EXPECT_EQ(JudgeCurl(CurlRequest::kArchive, archive, 22,
                      CurlOutput("", notFound, 404, 1, "http://sync.example/404.html")).kind,
            Kind::kMoved);
  EXPECT_EQ(JudgeCurl(CurlRequest::kArchive, archive, 22,
                      CurlOutput("", "curl: (22) x", 500, 0, archive)).kind,
            Kind::kFailed);
  // Another page in place of the archive is no archive of the account.
  EXPECT_EQ(JudgeCurl(CurlRequest::kArchive, archive, 0,
                      CurlOutput("", "", 200, 1, "http://sync.example/login")).kind,
            Kind::kMoved);
}

TEST(ServerAnswer, TheFtpServersOwnWordsForARefusedLogin) {
  const std::string ftp = "ftp://ftp.example";
  const std::string verbose =
      "*   Trying 127.0.0.1:21...\n< 220 (vsFTPd 3.0.3)\n> USER ftp5830417-mob\n"
      "< 530 Non-anonymous sessions must use encryption.\n";
  const CurlVerdict v = JudgeCurl(CurlRequest::kFtpUpload, ftp, 67,
                                  CurlOutput(verbose, "curl: (67) Access denied: 530", 530, 0, ftp));
  EXPECT_EQ(v.kind, CurlVerdict::Kind::kLoginRefused);
  EXPECT_EQ(v.words, "530 Non-anonymous sessions must use encryption.");
  EXPECT_NE(CurlFailureMessage(v, "x", "anna", false)
                .find("Er verlangt eine verschl\xFCsselte Verbindung: bitte in Kelvanor.ini im "
                      "Abschnitt [sync_server] ftp_tls=1 eintragen."),
            std::string::npos);
  EXPECT_EQ(CurlFailureMessage(v, "x", "anna", true).find("ftp_tls=1"), std::string::npos);
  // The detail log keeps curl's line and the refusal, not the dialogue (which
  // holds the password).
  EXPECT_EQ(CurlDetailLines(ReadCurlReport(CurlOutput(verbose + "> PASS geheim\n",
                                                      "curl: (67) Access denied: 530", 530, 0, ftp))
                                .text),
            (std::vector<std::string>{"530 Non-anonymous sessions must use encryption.",
                                      "curl: (67) Access denied: 530"}));
}

}  // namespace
}  // namespace kelvanor::testing
