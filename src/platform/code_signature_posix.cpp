#include "platform/code_signature.h"

namespace kelvanor {

// Linux programs carry no Authenticode signature; only a download over
// verified https can vouch for an update here.
CodeSignature ReadCodeSignature(const std::string&, const std::string&) { return {}; }

}  // namespace kelvanor
