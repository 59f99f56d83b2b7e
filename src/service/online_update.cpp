#include "service/online_update.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/file_path.h"
#include "base/text.h"
#include "config/text_table.h"

namespace {

constexpr wchar_t kBindModuleName[] = L"KavrinBind.dll";

bool FileExists(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::exists(FileSystemPath(path), error);
}

}  // namespace

std::wstring FormatByteSize(double value) {
  static const wchar_t* const kUnits[] = {L"B", L"KB", L"MB", L"GB"};
  // Nothing measured here is negative; a clock or counter glitch must not print nonsense.
  if (!(value >= 0)) value = 0;
  size_t unit = 0;
  while (value > 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  const double whole = std::trunc(value);
  if (value - whole >= 0.01) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f ", value);
    return std::wstring(text, text + std::strlen(text)) + kUnits[unit];
  }
  // Beyond 2^64 only for absurd inputs; saturate rather than convert out of range.
  const unsigned long long integer =
      whole >= 18446744073709551615.0 ? ~0ull : static_cast<unsigned long long>(whole);
  return std::to_wstring(integer) + L" " + kUnits[unit];
}

bool IsWebAddress(const std::wstring& text) {
  const std::wstring lower = LowerAscii(TrimText(text));
  return lower.rfind(L"http://", 0) == 0 || lower.rfind(L"https://", 0) == 0;
}

bool BoundedBodySink::Write(const char* data, size_t size) {
  if (static_cast<uint64_t>(size) > static_cast<uint64_t>(limit_ - written_)) return false;
  if (!inner_.Write(data, size)) return false;
  written_ += static_cast<int64_t>(size);
  return true;
}

DownloadMeter::Reading DownloadMeter::Measure(uint32_t nowTicks, int64_t bytesReceived,
                                              int64_t contentLength) {
  Reading reading;
  if (bytesReceived != 0) {
    // Ticks wrap; only their unsigned difference means anything.
    const double elapsed = static_cast<uint32_t>(nowTicks - previousTicks_) / 1000.0;
    if (elapsed != 0) {
      const double speed = static_cast<double>(bytesReceived - previousBytes_) / elapsed;
      reading.status = GetText("DownloadingUpdateFileSpeed") + FormatByteSize(speed) + L"/s";
    }
    if (contentLength > 0) {
      // More than announced can arrive; the bar stops at its end.
      reading.position = bytesReceived >= contentLength
                             ? 100
                             : static_cast<int>(static_cast<double>(bytesReceived) * 100 /
                                                static_cast<double>(contentLength));
    }
  }
  previousTicks_ = nowTicks;
  previousBytes_ = bytesReceived;
  return reading;
}

UpdatePackage ChooseUpdatePackage(const AccountState& offer, const std::wstring& force,
                                  bool bindModulePresent, const OnlineUpdatePaths& paths) {
  bool installer = bindModulePresent;
  if (force == L"setup") installer = true;
  if (force == L"green") installer = false;
  UpdatePackage package;
  if (installer) {
    package.kind = UpdatePackageKind::kInstaller;
    package.url = offer.downloadSetup;
    package.md5 = offer.downloadSetupMd5;
    package.fileName = kInstallerPackageName;
  } else {
    package.kind = UpdatePackageKind::kPortable;
    package.url = offer.downloadGreen;
    package.md5 = offer.downloadGreenMd5;
    package.fileName = kPortablePackageName;
    package.parameters = L" /update \"" + paths.modulePath + L"\"";
  }
  return package;
}

int OnlineUpdate::Check(const ServiceAnswer& answer) {
  const std::optional<uint64_t>& required = answer.requiredClientVersion;
  const uint64_t current = ports_.version.CurrentVersion();
  if (!required) return kInvalidResponse;
  const std::wstring force = ports_.settings.ForceOnlineUpdateTest();
  if (current >= *required && force.empty()) return kContinue;

  Log(L"需要更新：本程序版本 " + std::to_wstring(current) + L"，要求版本 " +
      std::to_wstring(*required));
  Update(answer.account, force);
  // The update is compulsory: whatever became of it, this client goes.
  ports_.exit();
  return kUpdateStarted;
}

void OnlineUpdate::Update(const AccountState& offer, const std::wstring& force) {
  refusal_.clear();
  ports_.view.ShowMessage(GetText("ClientNeedUpdate"), MessageIcon::kInformation);
  const UpdatePackage package =
      ChooseUpdatePackage(offer, force, FileExists(paths_.moduleFolder + kBindModuleName), paths_);
  if (package.url.empty()) {
    Fail("CanNotFindDownloadURL_Tip", MessageIcon::kWarning, offer.updateUrl);
    return;
  }
  if (!ports_.downloadsAllowed) {
    Fail("DownloadUpdateFileFailed_Tip", MessageIcon::kWarning, offer.updateUrl);
    return;
  }
  std::unique_ptr<DownloadedPackage> file;
  switch (ports_.downloader.Download(package.url, package.fileName, file)) {
    case UpdateDownloader::Result::kCompleted:
      break;
    case UpdateDownloader::Result::kCancelled:
      Fail("UpdateCancelledByUser_Tip", MessageIcon::kInformation, offer.updateUrl);
      return;
    case UpdateDownloader::Result::kFailed:
      Fail("DownloadUpdateFileFailed_Tip", MessageIcon::kWarning, offer.updateUrl);
      return;
  }
  // Compared as sent: the service gives lower-case digits. A file that cannot be read has no
  // digest, which must not pass for an answer that names none.
  const std::wstring digest = file ? file->Md5Hex() : std::wstring();
  if (digest.empty() || digest != package.md5) {
    refusal_ = L"the package's MD5 differs from the announced one";
    Fail("CanNotDownloadFileCorrectly_Tip", MessageIcon::kWarning, offer.updateUrl);
    return;
  }
  // The digest came with the address, over the same plain connection: only a signature by this
  // program's own publisher shows the package is ours. The package is examined while held, so
  // the bytes judged are the bytes started.
  const FileSignature own = ports_.signatures.Examine(paths_.modulePath);
  const UpdateTrust trust = JudgeUpdateSignature(
      own, own.state == FileSignature::State::kUnsigned ? FileSignature{}
                                                        : ports_.signatures.Examine(file->Path()));
  if (!trust.run) {
    refusal_ = trust.reason;
    file->Discard();
    Fail("CanNotDownloadFileCorrectly_Tip", MessageIcon::kWarning, offer.updateUrl);
    return;
  }
  ports_.view.ShowMessage(GetText("DownloadUpdateCompletedReadyToExecuteUpdateFile"),
                          MessageIcon::kInformation);
  // Still held: nothing can have changed the file since its digest was taken.
  if (!ports_.launcher.Open(file->Path(), package.parameters)) {
    Fail("CanNotExecuteUpdateFile_Tip", MessageIcon::kWarning, offer.updateUrl);
    return;
  }
  Log(L"更新包已下载、核对并启动：" + package.fileName);
}

void OnlineUpdate::Fail(const char* key, MessageIcon icon, const std::wstring& updateUrl) {
  Log(L"更新失败：" + GetText(key) + (refusal_.empty() ? L"" : L"（" + refusal_ + L"）"));
  ports_.view.ShowMessage(GetText(key) + L"\n\n" + GetText("OnlineUpdateFailureTip"), icon);
  if (IsWebAddress(updateUrl)) ports_.launcher.OpenWebPage(updateUrl);
}
