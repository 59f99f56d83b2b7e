// The system's side of the update's signature check: Authenticode through WinVerifyTrust, and
// the signer certificate read with the CryptoAPI.
#pragma once

#include <string>

#include "service/update_signature.h"

// Checks the embedded signature without asking the user and without fetching revocation lists
// from the network (the client may not be connected when it updates), then reads the public key
// of the certificate that signed the file.
class AuthenticodeVerifier : public SignatureVerifier {
 public:
  FileSignature Examine(const std::wstring& path) override;
};
