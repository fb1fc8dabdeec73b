#include "cli/cli_output.h"
#include "cli/commands.h"

namespace kelvanor::cli {

int CmdSync(const CliOptions& /*options*/) {
  PrintErr("sync: noch nicht verf\xFC" "gbar\n");
  return kExitError;
}

}  // namespace kelvanor::cli
