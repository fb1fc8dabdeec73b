#include "platform/code_signature.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <cstring>
#include <vector>

#include "platform/text_convert.h"

namespace kelvanor {

namespace {

// Faults of the signer's certificate chain that make the signature worthless.
// Windows' own trust provider refuses them already; Wine's lets them pass
// (it accepts a self-signed or expired certificate), so they are checked
// here once more. Unknown revocation status is no fault: revocation is
// asked of the trust provider, which fails on its own when it must.
constexpr DWORD kChainFaults =
    CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_SIGNATURE_VALID |
    CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_CYCLIC |
    CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_INVALID_POLICY_CONSTRAINTS |
    CERT_TRUST_INVALID_BASIC_CONSTRAINTS | CERT_TRUST_INVALID_NAME_CONSTRAINTS |
    CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_EXPLICIT_DISTRUST;

// A certificate restricted to other uses (a web server's, say) must not sign
// programs. One without any restriction is good for every use.
bool AllowsCodeSigning(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size) || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(certificate, 0, usage, &size)) return false;
  if (usage->cUsageIdentifier == 0) {
    return ::GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  }
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) return true;
  }
  return false;
}

std::wstring SimpleName(PCCERT_CONTEXT certificate) {
  const DWORD length =
      ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length <= 1) return L"";
  std::wstring name(length, L'\0');
  ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                       length);
  name.resize(length - 1);  // the count includes the terminating zero
  return name;
}

// Reads the verified signer from the trust provider's state: the chain it
// built and the certificate that signed.
void ReadSigner(HANDLE state, const std::wstring& publisher, CodeSignature& result) {
  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
  if (provider == nullptr) return;
  CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
      signer->pasCertChain[0].pCert == nullptr || signer->pChainContext == nullptr) {
    return;
  }
  if ((signer->pChainContext->TrustStatus.dwErrorStatus & kChainFaults) != 0) return;
  PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  if (!AllowsCodeSigning(certificate)) return;
  const std::wstring name = SimpleName(certificate);
  if (name.empty()) return;
  result.state = CodeSignature::State::kValid;
  result.signer = WideToAnsi(name);
  result.byPublisher = !publisher.empty() && name == publisher;
}

}  // namespace

CodeSignature ReadCodeSignature(const std::string& ansiPath, const std::string& publisher) {
  CodeSignature result;
  const std::wstring path = AnsiToWide(ansiPath);
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);

  const LONG status = ::WinVerifyTrust(noWindow, &action, &data);
  if (status == TRUST_E_NOSIGNATURE || status == TRUST_E_SUBJECT_FORM_UNKNOWN) {
    result.state = CodeSignature::State::kNotSigned;
  } else {
    result.state = CodeSignature::State::kInvalid;
    if (status == ERROR_SUCCESS) ReadSigner(data.hWVTStateData, AnsiToWide(publisher), result);
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(noWindow, &action, &data);
  return result;
}

}  // namespace kelvanor
