// kelvanor-cli check-connection: the account dialog's "Verbindung prüfen"
// without a window. One line per address on stdout, what it tries on stderr;
// exit 0 when every address answers as a sync needs it, 1 otherwise.
#include <string>

#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "server_checks/connection_check.h"
#include "util/w1252.h"

namespace kelvanor::cli {

namespace {

// What the check tries goes to stderr as it happens; nothing waits on a window.
class CheckLog : public TransferLog, public IMessagePump {
 public:
  void LogLine(const std::string& text) override { PrintErr(text + "\n"); }
  void Step(const std::string& text) override { PrintOut(text + "\n"); }
  IMessagePump& Pump() const override { return const_cast<CheckLog&>(*this); }
  void ProcessPendingMessages() override {}
};

}  // namespace

int CmdCheckConnection(const CliOptions& options) {
  const CliContext context = LoadCliContext(options);
  const Outcome usable = CheckApplicationDataFolderName(context.folders);
  if (!usable.IsOk()) {
    PrintErr(usable.Message() + "\n");
    return kExitError;
  }
  CheckLog log;
  const ConnectionReport report =
      CheckConnection(context.settings.servers, context.settings.name, log);
  for (const std::string& line : report.Lines()) PrintOut(line + "\n");
  // Nothing switches by itself: the user is told what to set.
  if (const std::optional<EncryptionSwitch> change =
          OfferedEncryption(report, context.settings.servers)) {
    std::string text = W1252("Verschlüsselt übertragen: in ") + context.folders.ToolIni() +
                       W1252(" eintragen (oder im Konto-Dialog \"Verbindung prüfen\", dann "
                             "\"Verschlüsselt übertragen\"):\n[sync_server]\n");
    for (const std::string& line : SwitchSettingLines(*change)) text += line + "\n";
    PrintOut(text);
  }
  return report.AllReached() ? kExitOk : kExitError;
}

}  // namespace kelvanor::cli
