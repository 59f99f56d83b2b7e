#include "service/announcements.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/text_table.h"
#include "fakes/fake_login_ports.h"

namespace {

namespace fs = std::filesystem;

struct Slot {
  std::wstring caption;
  std::wstring link;
  bool operator==(const Slot&) const = default;
};
const Slot kBlank{L"", L""};
const Slot kUntouched{L"untouched", L"untouched"};

const char kAnswer[] =
    "[VPN]\r\nRequiredClientVersion=2.1.0.0\r\nClientIP=203.0.113.7\r\n"
    "[Announcements]\r\n"
    "Title0=\xE4\xB8\x9C\xE4\xBA\xAC\xE8\x8A\x82\xE7\x82\xB9\r\nUrl0=http://news.example/0\r\n"
    "DatetimeGMT0=1714550400\r\n"
    "Title2=Second\r\nUrl2=http://news.example/2?a=1&b=2\r\nDatetimeGMT2=0\r\n"
    "Url3=http://news.example/3\r\n";

class AnnouncementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    path_ = fs::temp_directory_path() / "kv-anns-test.ini";
    fs::remove(path_);
    for (Slot& slot : slots_) slot = kUntouched;
  }
  void TearDown() override { fs::remove(path_); }

  void Store(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }

  void Show(bool storedOnly, const char* held = nullptr) {
    MemoryOverlayProfile profile(SystemPrivateProfile());
    AnnouncementBoard board(
        profile, Utf8ToWide(path_.string()), update_,
        {[this](const std::wstring& text, bool box) {
           statuses_.push_back({text, box});
         },
         [this](const std::wstring& ip) { clientIps_.push_back(ip); },
         [this](int slot, const std::wstring& caption, const std::wstring& link) {
           slots_.at(static_cast<size_t>(slot)) = {caption, link};
         }});
    if (held) board.HoldAnswer(held);
    board.ShowAnnouncements(storedOnly);
  }

  // The date the local clock gives for a time, as the slot shows it.
  static std::wstring LocalDate(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return Utf8ToWide(text);
  }

  fs::path path_;
  FakeUpdateCheck update_;
  std::vector<std::pair<std::wstring, bool>> statuses_;
  std::vector<std::wstring> clientIps_;
  std::array<Slot, 4> slots_;
};

}  // namespace

TEST_F(AnnouncementsTest, EachSlotIsReadByItsOwnIndex) {
  Store(kAnswer);
  Show(true);
  EXPECT_EQ(slots_[0],
            (Slot{L"[" + LocalDate(1714550400) + L"] 东京节点", L"http://news.example/0"}));
  EXPECT_EQ(slots_[1], kBlank);
  EXPECT_EQ(slots_[2], (Slot{L"[" + LocalDate(0) + L"] Second", L"http://news.example/2?a=1&b=2"}));
  EXPECT_EQ(slots_[3], kBlank);  // a link without a headline opens nothing
  EXPECT_TRUE(update_.answers.empty());
  EXPECT_TRUE(clientIps_.empty());
}

TEST_F(AnnouncementsTest, TimeZeroIsTheLocalDateOfTheEpoch) {
  const char* previous = std::getenv("TZ");
  const std::string saved = previous ? previous : "";
  Store("[Announcements]\r\nTitle0=Epoch\r\nDatetimeGMT0=0\r\n");
  for (const char* zone : {"UTC0", "PST8", "CST-8"}) {
    setenv("TZ", zone, 1);
    tzset();
    Show(true);
    EXPECT_EQ(slots_[0].caption,
              std::string(zone) == "PST8" ? L"[1969-12-31] Epoch" : L"[1970-01-01] Epoch");
  }
  previous ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  EXPECT_EQ(AnnouncementCaption(L"x", INT64_MAX), L"[] x");
}

TEST_F(AnnouncementsTest, AnswerTheFileCouldNotTakeIsReadFromMemory) {
  Store("[VPN]\r\nClientIP=198.51.100.1\r\n[Announcements]\r\nTitle1=Stale\r\n");
  Show(false, kAnswer);
  EXPECT_EQ(clientIps_, std::vector<std::wstring>{L"203.0.113.7"});
  EXPECT_EQ(slots_[1], kBlank);
  EXPECT_EQ(slots_[2].caption, L"[" + LocalDate(0) + L"] Second");
}

TEST_F(AnnouncementsTest, FreshAnswerPassesTheUpdateCheckFirst) {
  Store(kAnswer);
  Show(false);
  ASSERT_EQ(update_.answers.size(), 1u);
  EXPECT_EQ(update_.answers[0].requiredClientVersion, ParseClientVersion(L"2.1.0.0"));
  EXPECT_EQ(clientIps_, std::vector<std::wstring>{L"203.0.113.7"});
  EXPECT_EQ(slots_[2].caption, L"[" + LocalDate(0) + L"] Second");

  update_.result = OnlineUpdateCheck::kInvalidResponse;
  Show(false);
  EXPECT_EQ(
      statuses_,
      (std::vector<std::pair<std::wstring, bool>>{{GetText("NetworkOrServerErrorToLogin"), true}}));
  EXPECT_EQ(clientIps_.size(), 1u);

  // The program is closing for an update: the file goes, the window is left alone.
  for (Slot& slot : slots_) slot = kUntouched;
  update_.result = OnlineUpdateCheck::kUpdateStarted;
  Show(false);
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(slots_[0], kUntouched);
  EXPECT_EQ(clientIps_.size(), 1u);

  update_.result = OnlineUpdateCheck::kContinue;
  Show(false);  // no file: the address is unknown and every slot blank
  EXPECT_EQ(clientIps_.back(), GetText("UnknownClientIP"));
  for (const Slot& slot : slots_) EXPECT_EQ(slot, kBlank);
}

TEST_F(AnnouncementsTest, LinksThatAreNoWebAddressStayDead) {
  Store(
      "[Announcements]\r\nTitle0=a\r\nUrl0=C:\\Windows\\system32\\cmd.exe\r\n"
      "Title1=b\r\nUrl1=file:///etc/passwd\r\nTitle2=c\r\nUrl2=HTTPS://secure.example/\r\n");
  Show(true);
  EXPECT_EQ(slots_[0].link, L"");
  EXPECT_EQ(slots_[1].link, L"");
  EXPECT_EQ(slots_[2].link, L"HTTPS://secure.example/");
}
