#include "service/online_update_win.h"

#include <sddl.h>
#include <shellapi.h>

#include <vector>

#include "framework/module_version_win.h"
#include "service/md5.h"

namespace {

// Administrators and the system, nobody else; nothing inherited from the data folder.
constexpr wchar_t kDownloadFolderDescriptor[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr int kFolderAttempts = 32;
constexpr DWORD kHashBlock = 64 * 1024;

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

std::unique_ptr<HeldUpdatePackage> HeldUpdatePackage::Create(const std::wstring& parent,
                                                             const std::wstring& fileName) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kDownloadFolderDescriptor, SDDL_REVISION_1, &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  std::wstring folder;
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < kFolderAttempts && folder.empty(); ++attempt) {
    const std::wstring candidate = parent + kUpdateFolderPrefix + std::to_wstring(seed++);
    // Never one that exists: whoever made it could have put anything in it.
    if (CreateDirectoryW(candidate.c_str(), &attributes)) folder = candidate;
    else if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  LocalFree(descriptor);
  if (folder.empty()) return nullptr;
  const std::wstring path = folder + L"\\" + fileName;
  UniqueHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!writer) {
    RemoveDirectoryW(folder.c_str());
    return nullptr;
  }
  return std::unique_ptr<HeldUpdatePackage>(
      new HeldUpdatePackage(folder, path, std::move(writer)));
}

bool HeldUpdatePackage::FinishWriting() {
  if (!writer_) return static_cast<bool>(reader_);
  // The system starts a program only when nobody holds it for writing, so the writing handle
  // gives way to one that reads and still shares with readers alone. In between only an
  // administrator could open the file; a file other than the one written is refused.
  FlushFileBuffers(writer_.get());
  BY_HANDLE_FILE_INFORMATION written = {};
  const bool known = GetFileInformationByHandle(writer_.get(), &written);
  writer_.reset();
  UniqueHandle reader(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!known || !reader || !GetFileInformationByHandle(reader.get(), &info) ||
      !SameFile(written, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      info.nNumberOfLinks != 1) {
    return false;
  }
  reader_ = std::move(reader);
  return true;
}

std::wstring HeldUpdatePackage::Md5Hex() {
  if (!reader_) return L"";
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(reader_.get(), start, nullptr, FILE_BEGIN)) return L"";
  Md5 md5;
  std::vector<char> block(kHashBlock);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(reader_.get(), block.data(), kHashBlock, &read, nullptr)) return L"";
    if (read == 0) break;
    md5.Update(block.data(), read);
  }
  return Md5DigestHex(md5.Finish());
}

void HeldUpdatePackage::Discard() {
  writer_.reset();
  reader_.reset();
  DeleteFileW(path_.c_str());
  // Whatever cannot go now is in a folder start-up clears.
  RemoveDirectoryW(folder_.c_str());
}

bool ShellProgramLauncher::Open(const std::wstring& file, const std::wstring& parameters) {
  const HINSTANCE result =
      ShellExecuteW(owner_, L"open", file.c_str(),
                    parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
  // Values up to 32 are the shell's error codes.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

uint64_t ExecutableVersionSource::CurrentVersion() {
  CModuleVersion version;
  // A failed load leaves the fixed part zeroed: version 0, which any requirement exceeds.
  version.Load(nullptr);
  const VS_FIXEDFILEINFO& fixed = version.FixedFileInfo();
  return static_cast<uint64_t>(fixed.dwFileVersionMS) << 32 | fixed.dwFileVersionLS;
}
