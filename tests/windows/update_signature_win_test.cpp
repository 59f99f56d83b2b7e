#include "service/update_signature_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "service/online_update_win.h"
// After the update's own header, which brings in the answer's types in their order.
#include "config/text_table.h"
#include "fakes/fake_login_ports.h"
#include "service/md5.h"

// The samples are copies of one small program, signed when the test run starts (tests/signing):
//   program.exe   signed by a throwaway publisher; it stands in for the running Kavrin.exe
//   same.exe      signed by the same publisher
//   other.exe     signed by another publisher under another throwaway root
//   unsigned.exe  not signed
//   altered.exe   signed by the same publisher, then one byte of its code changed
// KAVRIN_SIGNED_SAMPLES names their folder; without it the test is skipped.
//
// Wine's WinVerifyTrust checks that a signature matches the file (an altered file answers
// TRUST_E_BAD_DIGEST, an unsigned one TRUST_E_NOSIGNATURE) but not whether its root is trusted:
// here both throwaway publishers pass it, and only the comparison with the running program's
// publisher tells them apart. On Windows the throwaway roots would be refused as untrusted.

namespace {

namespace fs = std::filesystem;

std::wstring SampleFolder() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"KAVRIN_SIGNED_SAMPLES", folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(folder) + L"\\" : std::wstring();
}

constexpr char kNoSamples[] =
    "KAVRIN_SIGNED_SAMPLES is not set: the samples are signed by tests/signing/run";

std::string Bytes(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Downloads by copying the sample into a package held the way the download dialog holds it.
class SampleDownloader : public UpdateDownloader {
 public:
  SampleDownloader(std::wstring parent, std::wstring sample)
      : parent_(std::move(parent)), sample_(std::move(sample)) {}
  Result Download(const std::wstring&, const std::wstring& fileName,
                  std::unique_ptr<DownloadedPackage>& package) override {
    std::unique_ptr<HeldUpdatePackage> held = HeldUpdatePackage::Create(parent_, fileName);
    if (!held) return Result::kFailed;
    const std::string bytes = Bytes(sample_);
    DWORD written = 0;
    WriteFile(held->WriteHandle(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
    held->FinishWriting();
    path = held->Path();
    package = std::move(held);
    return Result::kCompleted;
  }
  std::wstring path;

 private:
  const std::wstring parent_;
  const std::wstring sample_;
};

class RecordingLauncher : public ProgramLauncher {
 public:
  bool Open(const std::wstring& file, const std::wstring&) override {
    opened.push_back(file);
    return true;
  }
  bool OpenWebPage(const std::wstring& url) override {
    opened.push_back(L"page " + url);
    return true;
  }
  std::vector<std::wstring> opened;
};

class OldVersion : public ClientVersionSource {
 public:
  uint64_t CurrentVersion() override { return 0x0001000000000000ULL; }
};

}  // namespace

// A build nobody signed, such as this test program, is unsigned to the system: the update then
// keeps to its MD5 check.
TEST(AuthenticodeVerifierWin, UnsignedBuildAndMissingFile) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  AuthenticodeVerifier verifier;
  const FileSignature own = verifier.Examine(self);
  EXPECT_EQ(own.state, FileSignature::State::kUnsigned) << std::hex << own.status;
  EXPECT_TRUE(own.publisherKey.empty());
  const FileSignature missing = verifier.Examine(std::wstring(self) + L".missing");
  EXPECT_EQ(missing.state, FileSignature::State::kUnreadable);
}

// The whole update path with the system's checks: a signed program starts the package of its
// own publisher and refuses, deletes and reports every other one.
TEST(SignedUpdateWin, StartsOnlyThePackageOfTheSamePublisher) {
  const std::wstring samples = SampleFolder();
  if (samples.empty()) GTEST_SKIP() << kNoSamples;
  BuildTextTable();
  const fs::path parent = fs::temp_directory_path() / "kv-signed-update";
  fs::remove_all(parent);
  fs::create_directories(parent);
  const struct {
    const wchar_t* sample;
    bool starts;
    const wchar_t* reason;
  } cases[] = {
      {L"same.exe", true, L""},
      {L"other.exe", false, L"another publisher"},
      {L"unsigned.exe", false, L"not signed"},
      {L"altered.exe", false, L"refused (0x80096010)"},  // TRUST_E_BAD_DIGEST
  };
  for (const auto& c : cases) {
    const std::wstring sample = samples + c.sample;
    SampleDownloader downloader(parent.wstring() + L"\\", sample);
    RecordingLoginView view;
    RecordingLauncher launcher;
    AuthenticodeVerifier verifier;
    OldVersion version;
    const OnlineUpdatePaths paths{samples + L"program.exe", samples};
    ProgramSettings settings(SystemPrivateProfile(), paths.modulePath);
    OnlineUpdate update({view, downloader, launcher, verifier, version, settings, [] {}}, paths);
    struct ServiceAnswer answer;  // the fakes have a function of that name
    answer.requiredClientVersion = 0x0002000000000000ULL;
    answer.account.updateUrl = L"http://www.example.com/update.html";
    answer.account.downloadGreen = L"http://dl.example.com/green.exe";
    answer.account.downloadGreenMd5 = Md5Hex(Bytes(sample));
    EXPECT_EQ(update.Check(answer), OnlineUpdateCheck::kUpdateStarted);

    const std::string label = fs::path(sample).filename().string();
    EXPECT_NE(update.refusal().find(c.reason), std::wstring::npos)
        << label << ": " << fs::path(update.refusal()).string();
    if (c.starts) {
      EXPECT_EQ(launcher.opened, std::vector<std::wstring>{downloader.path}) << label;
    } else {
      EXPECT_EQ(launcher.opened, std::vector<std::wstring>{L"page " + answer.account.updateUrl})
          << label;
      ASSERT_FALSE(view.boxes.empty());
      EXPECT_EQ(view.boxes.back().text, GetText("CanNotDownloadFileCorrectly_Tip") + L"\n\n" +
                                            GetText("OnlineUpdateFailureTip"))
          << label;
      EXPECT_FALSE(fs::exists(fs::path(downloader.path))) << label << ": not deleted";
      EXPECT_FALSE(fs::exists(fs::path(downloader.path).parent_path())) << label;
    }
  }
  fs::remove_all(parent);
}
