// Whether a downloaded update may run, judged from the Authenticode signatures of the running
// program and of the package. A signed program runs only a package whose signature the system
// accepts and whose signer holds the same public key as its own; an unsigned program (a
// developer build) has no publisher to compare with and keeps to the MD5 check alone.
//
// The system's verdicts come in through SignatureVerifier, so the decision runs natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the system says of one file's signature.
struct FileSignature {
  enum class State {
    kUnsigned,    // no signature at all
    kVerified,    // a signature the system accepts; `publisherKey` is its signer's key
    kRejected,    // a signature the system refuses (altered, expired, untrusted...): `status`
    kUnreadable,  // the file, or the signer certificate of an accepted signature, unreadable
  };
  State state = State::kUnreadable;
  uint32_t status = 0;  // the system's answer (an HRESULT); 0 when it accepted the signature
  // The signer certificate's public key: its algorithm and its bits, as encoded there. Empty
  // unless kVerified.
  std::vector<uint8_t> publisherKey;
};

class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // Reads the file at `path`; whoever calls keeps it from changing meanwhile.
  virtual FileSignature Examine(const std::wstring& path) = 0;
};

struct UpdateTrust {
  bool run = false;
  // False when the running program is unsigned and the signature was not looked at.
  bool signatureChecked = false;
  // Why the package may not run, in words for the log; empty when it may.
  std::wstring reason;
};

UpdateTrust JudgeUpdateSignature(const FileSignature& program, const FileSignature& package);
