// Arbitrary bytes as the service's announcement answer: the update check and the news must
// never crash, never start an unverified download or anything but a web page, and never hand a
// news slot a link that is not a web address.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"
#include "config/memory_overlay_profile.h"
#include "config/native_private_profile.h"
#include "config/text_table.h"
#include "service/announcements.h"
#include "service/online_update.h"

namespace {

namespace fs = std::filesystem;

class QuietView : public LoginView {
 public:
  void SetStatus(const std::wstring&, bool) override {}
  void ShowMessage(const std::wstring& text, MessageIcon) override {
    if (boxes++ == 0 && text != GetText("ClientNeedUpdate")) std::abort();
  }
  void SetExpiryText(const std::wstring&) override {}
  void OpenWebPage(const std::wstring&) override { std::abort(); }
  int boxes = 0;
};

// Leaves no file: the digest check then has nothing to accept.
class Downloader : public UpdateDownloader {
 public:
  Result Download(const std::wstring&, const std::wstring&,
                  std::unique_ptr<DownloadedPackage>&) override {
    return Result::kCompleted;
  }
};

// Only web pages may be opened: nothing was downloaded that could pass.
class Launcher : public ProgramLauncher {
 public:
  bool Open(const std::wstring& file, const std::wstring&) override {
    if (!IsWebAddress(file)) std::abort();
    return true;
  }
  // Only a web address may reach the user's shell.
  bool OpenWebPage(const std::wstring& url) override {
    if (!IsWebAddress(url)) std::abort();
    return true;
  }
};

// A developer build: no signature to compare with.
class Signatures : public SignatureVerifier {
 public:
  FileSignature Examine(const std::wstring&) override {
    FileSignature none;
    none.state = FileSignature::State::kUnsigned;
    return none;
  }
};

class Version : public ClientVersionSource {
 public:
  uint64_t CurrentVersion() override { return 0x0002000100000000ULL; }
};

struct Fixture {
  Fixture() {
    BuildTextTable();
    dir = fs::temp_directory_path() / ("kv-fuzz-update-" + std::to_string(getpid()));
    fs::create_directories(dir / "program");
    paths.modulePath = Utf8ToWide((dir / "program" / "Kavrin.exe").string());
    paths.moduleFolder = Utf8ToWide((dir / "program").string()) + L"/";
    answer = dir / "KavrinAnns.ini";
  }
  fs::path dir;
  fs::path answer;
  OnlineUpdatePaths paths;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  // An odd first byte puts the rest after the head of an answer that demands an update, so the
  // whole update path is reached without a corpus.
  std::string answer;
  if (size > 0 && (data[0] & 1)) {
    answer = "MagicTag=VpnServerResponse\r\n[VPN]\r\nRequiredClientVersion=9.0.0.0\r\n";
  }
  answer.append(reinterpret_cast<const char*>(data), size);
  const std::wstring file = Utf8ToWide(fixture.answer.string());
  // The answer straight from memory: the fuzzer's bytes are never written to disk.
  NativePrivateProfile files;
  MemoryOverlayProfile profile(files);
  profile.Hold(file, answer);

  QuietView view;
  Downloader downloader;
  Launcher launcher;
  Signatures signatures;
  Version version;
  ProgramSettings settings(profile, fixture.paths.modulePath);
  int exits = 0;
  OnlineUpdate update({view, downloader, launcher, signatures, version, settings, [&] { ++exits; }},
                      fixture.paths);

  AnnouncementBoard board(profile, file, update,
                          {[](const std::wstring&, bool) {}, [](const std::wstring&) {},
                           [](int slot, const std::wstring& caption, const std::wstring& link) {
                             if (slot < 0 || slot > 3) std::abort();
                             if (!link.empty() && (!IsWebAddress(link) || caption.empty()))
                               std::abort();
                             if (!caption.empty() && caption[0] != L'[') std::abort();
                           }});
  board.ShowAnnouncements(false);
  if (exits > 1) std::abort();
  return 0;
}
