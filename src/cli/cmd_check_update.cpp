#include "cli/cli_output.h"
#include "cli/commands.h"

namespace kelvanor::cli {

int CmdCheckUpdate(const CliOptions& /*options*/) {
  PrintErr("check-update: noch nicht verf\xFC" "gbar\n");
  return kExitError;
}

}  // namespace kelvanor::cli
