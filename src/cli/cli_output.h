// The terminal edge of kelvanor-cli: the tool's Windows-1252 texts leave as
// UTF-8, and questions are asked only where someone can answer them.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "sync/sync_view.h"
#include "export/export_progress.h"
#include "import/node_list.h"

namespace kelvanor::cli {

// Writes Windows-1252 text as UTF-8 (no newline added); control characters
// other than line feed and tab show as "?".
void PrintOut(const std::string& text);
void PrintErr(const std::string& text);

// True when standard input is a terminal, i.e. a question can be answered.
bool StdinIsTerminal();

// Asks `question` (Windows-1252) on stdout and reads answers from stdin until
// one is "j", "ja", "y" or "yes" (true) or "n", "nein" or "no" (false), in any
// case. Empty when input ends first.
std::optional<bool> AskYesNo(const std::string& question);

// The answer word as typed (UTF-8); empty when it is neither yes nor no.
std::optional<bool> ParseYesNo(const std::string& answer);

// The tool's messages break their lines with carriage returns alone, as the
// window's labels want; a terminal needs line feeds.
std::string ForTerminal(const std::string& text);

// A run's view on the terminal: the log on stdout, the window's boxes on
// stderr ("Fehler: ..." for an error), the received data as PrintReceived
// writes it. The commands add what their run asks besides.
class TerminalView : public SyncView {
 public:
  // True once an error was reported.
  bool HadError() const { return hadError_; }
  void Log(const std::string& line) override;
  void ReportError(const std::string& message) override;
  void ReportInfo(const std::string& message) override;
  void ShowReceived(const TreeModel& tree, const ChangeDetails& changes) override;

 private:
  bool hadError_ = false;
};

// The received-data tree on stdout, one node per line with two blanks of
// indent per level; under a line what it does, one level deeper and marked
// "= " ("= Neuer Kunde Müller, Jörg", "= Telefon: 0711 -> 0301234").
void PrintReceived(const TreeModel& tree, const ChangeDetails& described);

// The export's steps on stderr, one line each ("Kunden", "Pferde" ...) with
// `indent` in front; the per-row progress inside a step stays quiet.
class StderrExportProgress : public IExportProgress {
 public:
  explicit StderrExportProgress(std::string indent = std::string()) : indent_(std::move(indent)) {}
  void ShowExportStep(const std::string& text, int stepPosition, int totalPosition) override;
  void SetStepMaximum(int) override {}
  void SetTotalMaximum(int) override {}
  void SetTotalBold(bool) override {}

 private:
  std::string indent_;
  std::string lastText_;
};

}  // namespace kelvanor::cli
