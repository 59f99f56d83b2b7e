#include "service/online_update.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/text_table.h"
#include "fakes/fake_login_ports.h"
#include "fakes/loopback_http_server.h"
#include "service/http_request.h"
#include "service/md5.h"

namespace {

namespace fs = std::filesystem;

const std::string kPackage = "MZ the new client, version 2.1.0.1";
const std::wstring kUpdatePage = L"http://www.example.com/update.html";

class FixedVersion : public ClientVersionSource {
 public:
  uint64_t CurrentVersion() override { return 0x0002000100000000ULL; }  // 2.1.0.0
};

// A package as the dialog hands it over; `held` counts the packages not yet let go.
class HeldFile : public DownloadedPackage {
 public:
  HeldFile(std::wstring path, int& held) : path_(std::move(path)), held_(held) { ++held_; }
  ~HeldFile() override { --held_; }
  const std::wstring& Path() const override { return path_; }
  std::wstring Md5Hex() override { return FileMd5Hex(path_); }
  void Discard() override {
    std::error_code ignored;
    fs::remove(fs::path(path_), ignored);
  }

 private:
  const std::wstring path_;
  int& held_;
};

// The download dialog, reduced to what it leaves behind.
class ScriptedDownloader : public UpdateDownloader {
 public:
  explicit ScriptedDownloader(fs::path folder) : folder_(std::move(folder)) {}
  Result Download(const std::wstring& url, const std::wstring& fileName,
                  std::unique_ptr<DownloadedPackage>& package) override {
    urls.push_back(url);
    const fs::path file = folder_ / fs::path(fileName);
    if (writes) std::ofstream(file, std::ios::binary) << kPackage;
    if (result == Result::kCompleted) package = std::make_unique<HeldFile>(file.wstring(), held);
    return result;
  }
  Result result = Result::kCompleted;
  bool writes = true;
  std::vector<std::wstring> urls;
  int held = 0;

 private:
  const fs::path folder_;
};

// What the dialog does, without the window: the request writes into the file through the size
// bound, and the download ends when the request does.
class HttpFileDownloader : public UpdateDownloader {
 public:
  HttpFileDownloader(fs::path folder, int64_t limit) : folder_(std::move(folder)), limit_(limit) {}
  Result Download(const std::wstring& url, const std::wstring& fileName,
                  std::unique_ptr<DownloadedPackage>& package) override {
    const fs::path target = folder_ / fs::path(fileName);
    std::FILE* file = std::fopen(target.string().c_str(), "wb");
    if (!file) return Result::kFailed;
    FileBodySink sink(file);
    BoundedBodySink bounded(sink, limit_);
    QueueTarget queue;
    HttpRequest request(url);
    request.SetOutput(&bounded);
    if (request.Start(queue, 1)) queue.WaitFor(HttpRequest::kEventEnded);
    request.Close();
    outcome = request.outcome();
    std::fclose(file);
    package = std::make_unique<HeldFile>(Utf8ToWide(target.string()), held);
    return Result::kCompleted;
  }
  HttpOutcome outcome = HttpOutcome::kRunning;
  int held = 0;

 private:
  const fs::path folder_;
  const int64_t limit_;
};

FileSignature Signature(FileSignature::State state, uint32_t status = 0,
                        std::vector<uint8_t> key = {}) {
  FileSignature signature;
  signature.state = state;
  signature.status = status;
  signature.publisherKey = std::move(key);
  return signature;
}
FileSignature Signed(std::vector<uint8_t> key) {
  return Signature(FileSignature::State::kVerified, 0, std::move(key));
}

// WinVerifyTrust and the signer certificate, reduced to their verdict per file (the Win32 part
// follows "Example C Program: Verifying the Signature of a PE File"): a file nobody described
// is unsigned, as a developer build is.
class FakeSignatures : public SignatureVerifier {
 public:
  FileSignature Examine(const std::wstring& path) override {
    examined.push_back(path);
    const auto found = files.find(path);
    return found == files.end() ? Signature(FileSignature::State::kUnsigned) : found->second;
  }
  std::map<std::wstring, FileSignature> files;
  std::vector<std::wstring> examined;
};

class RecordingLauncher : public ProgramLauncher {
 public:
  explicit RecordingLauncher(const int& held) : held_(held) {}
  bool Open(const std::wstring& file, const std::wstring& parameters) override {
    opened.push_back(file + L"|" + parameters);
    heldWhenOpened.push_back(held_);
    return succeeds;
  }
  // Pages apart: one given to Open would run the browser with our rights.
  bool OpenWebPage(const std::wstring& url) override {
    opened.push_back(L"page " + url);
    return true;
  }
  bool succeeds = true;
  std::vector<std::wstring> opened;
  std::vector<int> heldWhenOpened;

 private:
  const int& held_;
};

class OnlineUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    dir_ = fs::temp_directory_path() /
           ("kv-update-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "program");
    paths_ = {Path("program/Kavrin.exe"), Path("program/")};
    settings_ = std::make_unique<ProgramSettings>(SystemPrivateProfile(), paths_.modulePath);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::wstring Path(const std::string& relative) const {
    return Utf8ToWide((dir_ / relative).string());
  }
  void Installed() { std::ofstream(dir_ / "program" / "KavrinBind.dll") << "module"; }
  void Force(const std::string& value) {
    std::ofstream(dir_ / "program" / "Kavrin.exe.ini")
        << "[Main]\r\nForceOnlineUpdateTest=" << value << "\r\n";
  }

  // An answer requiring `required` and offering both packages from `base` with `md5`.
  std::wstring Offer(const std::string& required, const std::string& md5,
                     const std::string& base = "http://dl.example.com/") {
    std::ofstream(dir_ / "answer.ini", std::ios::binary)
        << "[VPN]\r\nRequiredClientVersion=" << required
        << "\r\nUpdateURL=" << WideToUtf8(kUpdatePage) << "\r\nDownloadSetup=" << base
        << "setup.exe\r\nDownloadSetupMD5=" << md5 << "\r\nDownloadGreen=" << base
        << "green.exe\r\nDownloadGreenMD5=" << md5 << "\r\n";
    return Path("answer.ini");
  }
  std::string Md5() const { return WideToUtf8(Md5Hex(kPackage)); }

  int Check(const std::wstring& file, UpdateDownloader* downloader = nullptr) {
    view_ = {};
    launcher_.opened.clear();
    launcher_.heldWhenOpened.clear();
    signatures_.examined.clear();
    OnlineUpdate update({view_, downloader ? *downloader : downloader_, launcher_, signatures_,
                         version_, *settings_, [this] { ++exits_; }, downloadsAllowed_},
                        paths_);
    const int result = update.Check(ReadServiceAnswer(SystemPrivateProfile(), file, L""));
    refusal_ = update.refusal();
    return result;
  }

  std::wstring LastBox() const { return view_.boxes.empty() ? L"" : view_.boxes.back().text; }
  static std::wstring Failure(const char* key) {
    return GetText(key) + L"\n\n" + GetText("OnlineUpdateFailureTip");
  }

  fs::path dir_;
  OnlineUpdatePaths paths_;
  std::unique_ptr<ProgramSettings> settings_;
  RecordingLoginView view_;
  ScriptedDownloader downloader_{fs::temp_directory_path() /
                                 ("kv-update-" + std::string(::testing::UnitTest::GetInstance()
                                                                 ->current_test_info()
                                                                 ->name()))};
  RecordingLauncher launcher_{downloader_.held};
  FakeSignatures signatures_;
  std::wstring refusal_;
  FixedVersion version_;
  int exits_ = 0;
  bool downloadsAllowed_ = true;
};

}  // namespace

TEST_F(OnlineUpdateTest, RequiredVersionDecidesAndMustScanAsFourNumbers) {
  EXPECT_EQ(Check(Offer("2.1.0.0", Md5())), OnlineUpdateCheck::kContinue);
  EXPECT_EQ(Check(Offer("2.0.65535.65535", Md5())), OnlineUpdateCheck::kContinue);
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_EQ(exits_, 0);
  for (const char* required : {"2.1", "", "2.1.0.", "latest"}) {
    EXPECT_EQ(Check(Offer(required, Md5())), OnlineUpdateCheck::kInvalidResponse) << required;
  }
  Force("setup");  // even a forced update needs a usable answer
  EXPECT_EQ(Check(Offer("2.1", Md5())), OnlineUpdateCheck::kInvalidResponse);
  EXPECT_EQ(exits_, 0);
  for (const char* required : {"2.1.0.1", "2.1.1.0", "3.0.0.0"}) {
    EXPECT_EQ(Check(Offer(required, Md5())), OnlineUpdateCheck::kUpdateStarted) << required;
  }
  EXPECT_EQ(exits_, 3);
}

TEST_F(OnlineUpdateTest, InstallerOrPortableProgramWithItsTargetAndParameters) {
  Installed();
  EXPECT_EQ(Check(Offer("2.1.0.1", Md5())), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_EQ(launcher_.opened, std::vector<std::wstring>{Path("KavrinInstaller.exe") + L"|"});
  // Started while the download still held it, and let go afterwards.
  EXPECT_EQ(launcher_.heldWhenOpened, std::vector<int>{1});
  EXPECT_EQ(downloader_.held, 0);
  ASSERT_EQ(view_.boxes.size(), 2u);
  EXPECT_EQ(view_.boxes[0].text, GetText("ClientNeedUpdate"));
  EXPECT_EQ(view_.boxes[1].text, GetText("DownloadUpdateCompletedReadyToExecuteUpdateFile"));
  EXPECT_EQ(view_.boxes[1].icon, MessageIcon::kInformation);

  Force("green");  // on an installation, with equal versions
  EXPECT_EQ(Check(Offer("2.1.0.0", Md5())), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_EQ(launcher_.opened, std::vector<std::wstring>{Path("Kavrin.exe") + L"| /update \"" +
                                                        paths_.modulePath + L"\""});
  fs::remove(dir_ / "program" / "KavrinBind.dll");
  Force("setup");  // on a portable installation
  EXPECT_EQ(Check(Offer("2.1.0.0", Md5())), OnlineUpdateCheck::kUpdateStarted);
  Force("yes");  // any other text forces the update, the kind as installed
  EXPECT_EQ(Check(Offer("2.1.0.0", Md5())), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_EQ(downloader_.urls,
            (std::vector<std::wstring>{
                L"http://dl.example.com/setup.exe", L"http://dl.example.com/green.exe",
                L"http://dl.example.com/setup.exe", L"http://dl.example.com/green.exe"}));
  EXPECT_EQ(exits_, 4);
}

TEST_F(OnlineUpdateTest, DigestMustMatchAsSent) {
  EXPECT_EQ(Check(Offer("2.1.0.1", " \t" + Md5() + " ")), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_EQ(launcher_.opened.size(), 1u);  // blanks around it do not matter

  std::string upper = Md5();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // Upper case, and no digest at all for a download that left no file: two empty texts.
  for (const std::string& digest : {upper, std::string()}) {
    fs::remove(dir_ / "Kavrin.exe");
    downloader_.writes = !digest.empty();
    EXPECT_EQ(Check(Offer("2.1.0.1", digest)), OnlineUpdateCheck::kUpdateStarted);
    EXPECT_EQ(LastBox(), Failure("CanNotDownloadFileCorrectly_Tip")) << digest;
    EXPECT_EQ(view_.boxes.back().icon, MessageIcon::kWarning);
    EXPECT_EQ(launcher_.opened, std::vector<std::wstring>{L"page " + kUpdatePage}) << digest;
  }
}

TEST_F(OnlineUpdateTest, EachFailureShowsItsTextAndIconThenTheUpdatePage) {
  const struct {
    UpdateDownloader::Result download;
    bool starts;
    const char* key;
    MessageIcon icon;
  } cases[] = {
      {UpdateDownloader::Result::kCancelled, true, "UpdateCancelledByUser_Tip",
       MessageIcon::kInformation},
      {UpdateDownloader::Result::kFailed, true, "DownloadUpdateFileFailed_Tip",
       MessageIcon::kWarning},
      {UpdateDownloader::Result::kCompleted, false, "CanNotExecuteUpdateFile_Tip",
       MessageIcon::kWarning},
  };
  for (const auto& c : cases) {
    downloader_.result = c.download;
    launcher_.succeeds = c.starts;
    EXPECT_EQ(Check(Offer("2.1.0.1", Md5())), OnlineUpdateCheck::kUpdateStarted);
    EXPECT_EQ(LastBox(), Failure(c.key));
    EXPECT_EQ(view_.boxes.back().icon, c.icon);
    EXPECT_EQ(launcher_.opened.back(), L"page " + kUpdatePage);
  }
  EXPECT_EQ(exits_, 3);

  // No address: the dialog never opens. An update page that is no web address stays shut.
  downloader_.urls.clear();
  std::ofstream(dir_ / "answer.ini") << "[VPN]\r\nRequiredClientVersion=9.0.0.0\r\n"
                                     << "UpdateURL=C:\\Windows\\system32\\cmd.exe\r\n";
  EXPECT_EQ(Check(Path("answer.ini")), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_TRUE(downloader_.urls.empty());
  EXPECT_EQ(LastBox(), Failure("CanNotFindDownloadURL_Tip"));
  EXPECT_TRUE(launcher_.opened.empty());
  EXPECT_TRUE(IsWebAddress(L" HTTPS://a/"));
  EXPECT_FALSE(IsWebAddress(L"file:///c:/x.exe"));
}

TEST_F(OnlineUpdateTest, BrokenDownloadsAreRefusedAndLeftForTheNextStart) {
  auto sends = [](std::string bytes) {
    return [bytes](LoopbackHttpServer::Connection& c) { c.Send(bytes); };
  };
  const std::string length = "Content-Length: " + std::to_string(kPackage.size()) + "\r\n\r\n";
  LoopbackHttpServer whole(sends("HTTP/1.1 200 OK\r\n" + length + kPackage));
  LoopbackHttpServer cut(sends("HTTP/1.1 200 OK\r\n" + length + kPackage.substr(0, 10)));
  LoopbackHttpServer errorPage(sends("HTTP/1.1 404 X\r\nContent-Length: 7\r\n\r\n<html/>"));
  LoopbackHttpServer endless([](LoopbackHttpServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\n\r\n");
    while (c.Send(std::string(4096, 'x'))) {
    }
  });
  const struct {
    LoopbackHttpServer* server;
    bool started;
  } cases[] = {{&whole, true}, {&cut, false}, {&errorPage, false}, {&endless, false}};
  for (const auto& c : cases) {
    HttpFileDownloader downloader(dir_, 64 * 1024);
    const std::wstring base = c.server->Url(L"127.0.0.1/");
    EXPECT_EQ(Check(Offer("2.1.0.1", Md5(), WideToUtf8(base)), &downloader),
              OnlineUpdateCheck::kUpdateStarted);
    const std::wstring start = Path("Kavrin.exe") + L"| /update \"" + paths_.modulePath + L"\"";
    EXPECT_EQ(launcher_.opened == std::vector<std::wstring>{start}, c.started) << WideToUtf8(base);
    // Whatever arrived stays, within the bound, for start-up to delete.
    EXPECT_LE(fs::file_size(dir_ / "Kavrin.exe"), 64u * 1024);
  }
}

TEST(FormatByteSize, UnitsAndDecimals) {
  EXPECT_EQ(FormatByteSize(1024), L"1024 B");
  EXPECT_EQ(FormatByteSize(1536), L"1.50 KB");
  EXPECT_EQ(FormatByteSize(5.0 * 1024 * 1024 * 1024 * 1024), L"5120 GB");
  EXPECT_EQ(FormatByteSize(1025), L"1 KB");  // 1.00098: closer than 0.01 to a whole number
  EXPECT_EQ(FormatByteSize(-5), L"0 B");
}

TEST(DownloadMeter, SpeedLineAndProgressFromTheCounters) {
  BuildTextTable();
  const std::wstring prefix = GetText("DownloadingUpdateFileSpeed");
  DownloadMeter meter(10000);
  DownloadMeter::Reading r = meter.Measure(10500, 1536, 3072);
  EXPECT_EQ(r.status, prefix + L"3 KB/s");
  EXPECT_EQ(r.position, 50);
  r = meter.Measure(10500, 4000, 3072);  // same tick, and more than announced
  EXPECT_EQ(r.status, L"");
  EXPECT_EQ(r.position, 100);

  DownloadMeter unknown(0xFFFFFE00u);  // the tick count wraps during the download
  r = unknown.Measure(0x00000200u, 512 * 1024, -1);
  EXPECT_EQ(r.status, prefix + L"500 KB/s");
  EXPECT_EQ(r.position, -1);
}

// The data folder is not ours: a required update is never downloaded there; the user is sent to
// the update page the way a failed download sends them.
TEST_F(OnlineUpdateTest, PausedUpdatesTakeTheFailedUpdatePathWithoutADownload) {
  downloadsAllowed_ = false;
  EXPECT_EQ(Check(Offer("2.1.0.1", Md5())), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_TRUE(downloader_.urls.empty());
  EXPECT_EQ(LastBox(), Failure("DownloadUpdateFileFailed_Tip"));
  EXPECT_EQ(launcher_.opened, std::vector<std::wstring>{L"page " + kUpdatePage});
  EXPECT_EQ(exits_, 1);
}

// The running program's signature decides whether the package's is looked at; when it is, only
// an accepted signature by the very same key lets the package run.
TEST(JudgeUpdateSignature, OnlyTheRunningProgramsOwnPublisherPasses) {
  using State = FileSignature::State;
  const FileSignature ours = Signed({1, 2, 3});
  const FileSignature unsigned_ = Signature(State::kUnsigned);
  const struct {
    FileSignature program;
    FileSignature package;
    bool run;
    const wchar_t* reason;
  } cases[] = {
      {ours, Signed({1, 2, 3}), true, L""},
      {ours, Signed({1, 2, 4}), false, L"another publisher"},
      {ours, Signed({}), false, L"public key could not be read"},
      {ours, unsigned_, false, L"the package is not signed"},
      {ours, Signature(State::kRejected, 0x80096010), false, L"refused (0x80096010)"},
      {ours, Signature(State::kUnreadable, 0x80070020), false, L"could not be read (0x80070020)"},
      // A developer build: nothing to compare with, the digest alone decides.
      {unsigned_, unsigned_, true, L""},
      // A program whose own signature does not hold vouches for nobody.
      {Signature(State::kRejected, 0x800B0101), Signed({1, 2, 3}), false, L"running program"},
      {Signature(State::kUnreadable, 0), Signed({1, 2, 3}), false, L"running program"},
      {Signed({}), Signed({}), false, L"running program"},
  };
  for (const auto& c : cases) {
    const UpdateTrust trust = JudgeUpdateSignature(c.program, c.package);
    const std::string label = WideToUtf8(c.reason);
    EXPECT_EQ(trust.run, c.run) << label;
    EXPECT_EQ(trust.signatureChecked, c.program.state != State::kUnsigned) << label;
    EXPECT_NE(trust.reason.find(c.reason), std::wstring::npos) << WideToUtf8(trust.reason);
    EXPECT_EQ(trust.reason.empty(), c.run) << label;
  }
}

// A refused package is deleted and never started; the user sees the download failure and the
// update page. The digest is checked first, so a package of the wrong bytes is not examined.
TEST_F(OnlineUpdateTest, SignedProgramStartsOnlyItsPublishersPackage) {
  const std::wstring package = Path("Kavrin.exe");
  signatures_.files[paths_.modulePath] = Signed({7, 7});
  signatures_.files[package] = Signed({7, 7});
  EXPECT_EQ(Check(Offer("2.1.0.1", Md5())), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_EQ(signatures_.examined, (std::vector<std::wstring>{paths_.modulePath, package}));
  EXPECT_EQ(launcher_.opened.size(), 1u);
  EXPECT_EQ(launcher_.opened[0].rfind(package + L"|", 0), 0u);
  EXPECT_EQ(refusal_, L"");

  for (const FileSignature& other : {Signed({7, 8}), FileSignature{}}) {
    signatures_.files[package] = other;
    EXPECT_EQ(Check(Offer("2.1.0.1", Md5())), OnlineUpdateCheck::kUpdateStarted);
    EXPECT_EQ(LastBox(), Failure("CanNotDownloadFileCorrectly_Tip"));
    EXPECT_EQ(launcher_.opened, std::vector<std::wstring>{L"page " + kUpdatePage});
    EXPECT_FALSE(fs::exists(dir_ / "Kavrin.exe")) << "a refused package is deleted";
    EXPECT_FALSE(refusal_.empty());
  }
  EXPECT_EQ(downloader_.held, 0);

  EXPECT_EQ(Check(Offer("2.1.0.1", std::string(32, '0'))), OnlineUpdateCheck::kUpdateStarted);
  EXPECT_TRUE(signatures_.examined.empty());
  EXPECT_NE(refusal_.find(L"MD5"), std::wstring::npos);
  EXPECT_EQ(exits_, 4);
}
