#include "service/update_signature_win.h"

#include <windows.h>
// Need the types of <windows.h>.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

#include "base/unique_handle_win.h"
#include "framework/module_win.h"

namespace {

// wintrust.dll is no known system module: it is looked up in the system folder when needed
// rather than imported, so no copy beside the program can stand in for it.
using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);

uint32_t LastErrorStatus() { return static_cast<uint32_t>(HRESULT_FROM_WIN32(GetLastError())); }

// The way the signing certificate is found follows Microsoft's "How to get information from
// Authenticode signed executables": the embedded PKCS #7 message, its first signer's issuer and
// serial number, and the certificate carrying them in the message's own store.
bool ReadPublisherKey(const std::wstring& path, std::vector<uint8_t>& key) {
  DWORD encoding = 0, content = 0, format = 0;
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &content, &format, &store, &message, nullptr)) {
    return false;
  }
  DWORD size = 0;
  std::vector<uint64_t> buffer;  // eight-byte units: the structure is read in place
  if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size != 0) {
    buffer.resize((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
      buffer.clear();
    }
  }
  PCCERT_CONTEXT certificate = nullptr;
  if (!buffer.empty()) {
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                             CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
  }
  if (certificate) {
    // The algorithm's name, then the key's bits: two keys are the same only if both are.
    const CERT_PUBLIC_KEY_INFO& info = certificate->pCertInfo->SubjectPublicKeyInfo;
    const char* algorithm = info.Algorithm.pszObjId ? info.Algorithm.pszObjId : "";
    key.assign(algorithm, algorithm + strlen(algorithm) + 1);
    key.insert(key.end(), info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData);
    CertFreeCertificateContext(certificate);
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return certificate != nullptr && !key.empty();
}

}  // namespace

// The verdicts follow Microsoft's "Example C Program: Verifying the Signature of a PE File":
// TRUST_E_NOSIGNATURE with one of three last errors means there is no signature; with any other
// it is a signature that could not be checked, which is no absence of one.
FileSignature AuthenticodeVerifier::Examine(const std::wstring& path) {
  FileSignature result;
  // Held for the check, so the file WinVerifyTrust reads is the file the key is read from.
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    result.status = LastErrorStatus();
    return result;
  }
  UniqueModule wintrust = LoadSystemModule(L"wintrust.dll");
  const auto verify = wintrust ? reinterpret_cast<WinVerifyTrustFn>(reinterpret_cast<void*>(
                                     GetProcAddress(wintrust.get(), "WinVerifyTrust")))
                               : nullptr;
  if (!verify) {
    result.status = LastErrorStatus();
    return result;
  }
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file.get();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = verify(nullptr, &action, &data);
  const DWORD lastError = GetLastError();
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(nullptr, &action, &data);

  result.status = static_cast<uint32_t>(status);
  if (status == ERROR_SUCCESS) {
    result.state = ReadPublisherKey(path, result.publisherKey) ? FileSignature::State::kVerified
                                                               : FileSignature::State::kUnreadable;
  } else if (status == TRUST_E_NOSIGNATURE &&
             (lastError == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
              lastError == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
              lastError == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN))) {
    result.state = FileSignature::State::kUnsigned;
  } else {
    result.state = FileSignature::State::kRejected;
  }
  if (result.state != FileSignature::State::kVerified) result.publisherKey.clear();
  return result;
}
