#include "server_checks/version_check.h"
#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "net/dispatcher.h"
#include "net/http_get.h"
#include "platform/environment.h"

namespace kelvanor::cli {

int CmdCheckUpdate(const CliOptions& options) {
  const CliContext context = LoadCliContext(options);
  const Outcome usable = CheckApplicationDataFolderName(context.folders);
  if (!usable.IsOk()) {
    PrintErr(usable.Message() + "\n");
    return kExitError;
  }
  // No window: the download's events run on this thread while it waits.
  QueueDispatcher loop;
  THTTPGet http(loop);
  std::string offered;
  const Outcome checked = CheckForUpdate(http, context.settings.servers.web,
                                         context.folders.UpdateFolder(), ExeVersionString(), offered);
  if (!checked.IsOk()) {
    PrintErr(checked.Message() + "\n");
    return kExitError;
  }
  if (!offered.empty()) PrintOut(offered + "\n");
  return kExitOk;
}

}  // namespace kelvanor::cli
