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
#include <string>
#include <string_view>

#include "base/text.h"
#include "config/ini_file.h"
#include "config/text_table.h"
#include "service/announcements.h"
#include "service/online_update.h"

namespace {

namespace fs = std::filesystem;

// The answer straight from memory: the fuzzer's bytes are never written to disk.
class MemoryProfile : public PrivateProfile {
 public:
  MemoryProfile(std::wstring file, std::string_view bytes)
      : file_(std::move(file)), ini_(IniFile::Parse(bytes)) {}
  uint32_t GetString(const std::wstring& section, const std::wstring& key,
                     const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                     const std::wstring& file) override {
    const auto raw = file == file_ ? ini_.Find(WideToUtf8(section), WideToUtf8(key))
                                   : std::optional<std::string>();
    return CopyOut(raw ? Utf8ToWide(*raw) : fallback, buffer, size);
  }
  uint32_t GetStringBytes(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, uint32_t size,
                          const std::string& file) override {
    const auto raw =
        AnsiToWide(file) == file_ ? ini_.Find(section, key) : std::optional<std::string>();
    return CopyOut(raw ? *raw : fallback, buffer, size);
  }
  bool WriteString(const std::wstring&, const std::optional<std::wstring>&,
                   const std::optional<std::wstring>&, const std::wstring&) override {
    return false;
  }
  uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring&) override {
    if (size >= 2) buffer[0] = buffer[1] = L'\0';
    return 0;
  }

 private:
  template <typename Char>
  static uint32_t CopyOut(const std::basic_string<Char>& value, Char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const size_t count = std::min<size_t>(value.size(), size - 1);
    std::copy_n(value.data(), count, buffer);
    buffer[count] = Char(0);
    return static_cast<uint32_t>(count);
  }

  std::wstring file_;
  IniFile ini_;
};

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
  Result Download(const std::wstring&, const std::wstring&) override { return Result::kCompleted; }
};

// Only web pages may be opened: nothing was downloaded that could pass.
class Launcher : public ProgramLauncher {
 public:
  bool Open(const std::wstring& file, const std::wstring&) override {
    if (!IsWebAddress(file)) std::abort();
    return true;
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
    paths.installerTarget = Utf8ToWide((dir / "KavrinInstaller.exe").string());
    paths.portableTarget = Utf8ToWide((dir / "Kavrin.exe").string());
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
  const std::string_view bytes = answer;
  const std::wstring file = Utf8ToWide(fixture.answer.string());
  MemoryProfile profile(file, bytes);

  QuietView view;
  Downloader downloader;
  Launcher launcher;
  Version version;
  ProgramSettings settings(profile, fixture.paths.modulePath);
  int exits = 0;
  OnlineUpdate update({view, downloader, launcher, version, profile, settings, [&] { ++exits; }},
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
