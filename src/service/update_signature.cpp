#include "service/update_signature.h"

#include <cstdio>

namespace {

std::wstring Status(uint32_t status) {
  wchar_t text[16];
  std::swprintf(text, sizeof text / sizeof text[0], L"0x%08X", static_cast<unsigned>(status));
  return text;
}

// Why `signature` does not vouch for anything; empty when it does.
std::wstring Fault(const wchar_t* whose, const FileSignature& signature) {
  switch (signature.state) {
    case FileSignature::State::kVerified:
      // An accepted signature whose signer gave no key cannot be compared with anything.
      if (!signature.publisherKey.empty()) return {};
      return std::wstring(whose) + L": the signer's public key could not be read";
    case FileSignature::State::kUnsigned:
      return std::wstring(whose) + L" is not signed";
    case FileSignature::State::kRejected:
      return std::wstring(whose) + L": the signature was refused (" + Status(signature.status) +
             L")";
    case FileSignature::State::kUnreadable:
      break;
  }
  return std::wstring(whose) + L": the signature could not be read (" + Status(signature.status) +
         L")";
}

}  // namespace

UpdateTrust JudgeUpdateSignature(const FileSignature& program, const FileSignature& package) {
  UpdateTrust trust;
  if (program.state == FileSignature::State::kUnsigned) {
    trust.run = true;
    return trust;
  }
  trust.signatureChecked = true;
  // A program whose own signature does not hold has no publisher to compare with, and nobody
  // can tell it from one that was tampered with: nothing runs.
  trust.reason = Fault(L"the running program", program);
  if (trust.reason.empty()) trust.reason = Fault(L"the package", package);
  if (trust.reason.empty() && package.publisherKey != program.publisherKey) {
    trust.reason = L"the package is signed by another publisher";
  }
  trust.run = trust.reason.empty();
  return trust;
}
