#include "app/version_check.h"
#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "net/dispatcher.h"
#include "net/http_get.h"
#include "platform/environment.h"

namespace kelvanor::cli {

int CmdCheckUpdate(const CliOptions& options) {
  const CliContext context = LoadCliContext(options);
  // No window: the download's events run on this thread while it waits.
  QueueDispatcher loop;
  THTTPGet http(loop);
  const UpdateCheckResult result = CheckForUpdate(
      http, context.settings.servers.web, context.folders.ProgramFolder, ExeVersionString());
  switch (result.kind) {
    case UpdateCheckResult::Offer:
      PrintOut(result.offered + "\n");
      return kExitOk;
    case UpdateCheckResult::Error:
      PrintErr(result.errorMessage + "\n");
      return kExitError;
    case UpdateCheckResult::NoOffer:
      break;
  }
  return kExitOk;
}

}  // namespace kelvanor::cli
