// Reading what the sync server answered to one curl command of a transfer,
// truthfully: a redirect is followed but never taken for the script itself,
// an answer that reads as an error is a failure even under status 200, and
// the server's own words reach the user.
//
// Every curl the transfers run reports its end on two lines of its own
// (kCurlReportWriteOut, given to curl as its "write-out"): the status of the
// last answer, the redirects followed and the last address asked; then how
// long it took and the answer's "Date" and "Last-Modified" headers (they tell
// whether an archive was packed for this request). The script's answer (for a
// script request) and curl's own lines surround them.
//
// All texts here are Windows-1252.
//
// Room src/server: what speaks to the sync server in a sync (commands,
// transfers, reading answers, checking archives). It uses the
// settings and the platform layer, never the sync run: a TransferLog is all
// it knows of one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/w1252.h"

namespace kelvanor {

// The value of curl's write-out setting that ReadCurlReport reads back.
extern const char kCurlReportWriteOut[];

struct CurlReport {
  bool found = false;  // the report line was there
  long code = 0;       // HTTP status or FTP reply of the last answer; 0: none came
  int redirects = 0;   // redirects followed
  std::string url;     // the last address asked (where a redirect led)
  // Everything else the command wrote: the script's answer and curl's lines.
  std::string text;
  // How long the request took (seconds, redirects included), and the "Date"
  // and "Last-Modified" headers of the last answer as sent ("" when none).
  double seconds = 0;
  std::string date;
  std::string lastModified;
};
CurlReport ReadCurlReport(const std::string& output);

// What a curl command wrote (UTF-8, as RunCommand gives it) as JudgeCurl
// reads it: Windows-1252, except that byte-order marks before the answer's
// first word stay as their bytes (converted, they would read as "?" and hide
// the word after them).
std::string CurlOutputText(const std::string& utf8);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", also the older RFC 850 and
// asctime forms) as seconds since 1970; 0 when the text is none.
int64_t ParseHttpDate(const std::string& text);

// The number of change files zip.php says it packed: a whole number ending
// the first line of its answer ("OK zip dl_hof1.zip 0"); -1 when the answer
// names none.
long PackedFileCount(const std::string& answer);

// The server's answer in the text of a report: what comes before curl's own
// lines ("curl: (22) ...").
std::string CurlAnswerText(const std::string& text);

// For the detail log: the FTP server's refusals in a verbose upload ("530
// ...", not the dialogue, which holds the password) and curl's own lines
// ("curl: (22) The requested URL returned error: 404"); not the answer.
std::vector<std::string> CurlDetailLines(const std::string& text);

// The soft failure: a script's answer that reads as an error although the
// server sent it with a success status. Only PHP's own marks ("Warning:",
// "Fatal error:", "Parse error:", also inside HTML tags) anywhere, an
// answer that begins with an error word ("Fehler", "ERROR", "not found",
// any case, as a whole word), or one that begins with "<?php" (the script's
// source: PHP did not run). Byte-order marks, blanks and line breaks before
// the first word are passed over. The reference server's "OK ..." and any
// other answer are a success.
bool ReadsAsError(const std::string& answer);

// The first lines of a server's answer as a user can read them: without the
// page's head, scripts and styles, tags, entities and runs of blanks; empty
// lines and a line repeating the one before are dropped. At most `maxLines`
// lines of at most 160 characters each, joined by " / "; "" for nothing.
std::string ServerWords(const std::string& answer, std::size_t maxLines = 3);

// The last refusal of the FTP server in curl's verbose output ("530
// Non-anonymous sessions must use encryption."), "" when there is none.
std::string FtpRefusal(const std::string& text);

// Whether `reached` (where curl's last request went) asks for the same as
// `requested`: the same path and query, over any scheme, host or port. A
// redirect from http to https keeps the script; one to another path, or one
// that drops the query (the account name), does not.
bool SameRequest(const std::string& requested, const std::string& reached);

// What one curl command of a transfer did.
enum class CurlRequest {
  kScript,     // zip.php, unzip.php, delmob.php: the script must answer itself
  kArchive,    // the download of dl_NAME.zip
  kFtpUpload,  // the upload of up_NAME.zip
};

// How long curl waits for the next byte of an answer before it gives up
// (its speed limit, set for every command of the batch).
constexpr int kCurlStallSeconds = 120;

struct CurlVerdict {
  enum class Kind {
    kDone,          // the server did it
    kNoArchive,     // the archive is not there (404 at its own address)
    kUnreachable,   // no connection (name, connect, timeout)
    kTooSlow,       // connected, but the answer stalled past curl's limit
    kMoved,         // redirected elsewhere, or following the redirect failed
    kRefused,       // the script refused the request (400, 403): the account, or this PC
    kFailed,        // the server answered with an error or a soft failure
    kLoginRefused,  // the FTP server refused the login
    kNoTls,         // TLS was required but the FTP server offers none
    kInsecure,      // the TLS connection failed (certificate, handshake), also
                    // where a redirect to https led
    kNoPassive,     // the FTP server refused passive mode (PASV, EPSV)
    kDataRefused,   // the FTP login worked, its data connection did not
    kOther,         // anything else; only curl's line tells
  };
  Kind kind = Kind::kOther;
  int exitCode = 0;       // curl's
  long code = 0;          // the last answer's status
  std::string requested;  // the address of the command
  std::string reached;    // where the last request went (after redirects)
  bool redirected = false;
  bool scriptSource = false;  // the script's source came back, not its answer
  std::string words;      // ServerWords of the answer, or the FTP refusal
  int dataPort = 0;       // kDataRefused: the port the FTP server named for it
};

// The verdict on one curl command: `requested` as in the command (for the
// FTP upload the FTP address), its exit status and its output (Windows-1252).
CurlVerdict JudgeCurl(CurlRequest request, const std::string& requested, int exitCode,
                      const std::string& output);

// What the user reads about a failed curl step: what went wrong in German
// (`what` says it for this step, "Der Server konnte ... nicht ..."), the
// server's own words, and the next step. `account` is named when the
// server's refusal speaks of it (of kd, the account or its name); a refusal
// without such words may come from an allow-list that does not know this PC.
// `ftpTls` tells whether TLS was asked for already.
std::string CurlFailureMessage(const CurlVerdict& verdict, const std::string& what,
                               const std::string& account, bool ftpTls);

// The memo's hint after a request that was redirected but done: where the
// server lives now ("http://host" to "https://host"), the same for every
// script, so a run tells it once (TransferLog::Hint).
std::string RedirectHint(const CurlVerdict& verdict);

// What the user reads when the server cannot be reached at all.
inline constexpr const char* kServerUnreachable =
    W1252("Der Server ist nicht erreichbar. Bitte später erneut synchronisieren.");

}  // namespace kelvanor
