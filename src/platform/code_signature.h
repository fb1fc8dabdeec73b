// Whether a program file carries a valid code signature, and whose. On
// Windows that is Authenticode, checked by the system's trust provider; on
// other systems program files carry no such signature, so every file there
// counts as not signed.
#pragma once

#include <string>

namespace kelvanor {

struct CodeSignature {
  enum class State {
    kNotSigned,  // no signature at all
    kInvalid,    // a signature, but the file was changed after signing, or its
                 // certificate is not trusted, not valid now, or not made for
                 // signing programs
    kValid,
  };
  State state = State::kNotSigned;
  // The signer's name as its certificate gives it (Windows-1252, "?" for
  // characters the code page lacks); set when Valid.
  std::string signer;
  // Valid, and the signer's name is exactly the publisher that was asked
  // for (compared before any conversion, so "?" never matches a letter).
  bool byPublisher = false;
};

// Checks the signature of the file `ansiPath` (Windows-1252) against the
// machine's trusted certificates. `publisher` is the signer's name the
// caller expects; an empty one matches nobody.
CodeSignature ReadCodeSignature(const std::string& ansiPath, const std::string& publisher);

}  // namespace kelvanor
