#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/text_table.h"
#include "policy/speed_cell.h"

namespace {

class ServerList : public ::testing::Test {
 protected:
  void SetUp() override { BuildTextTable(); }
  static std::wstring Ms(int value) {
    std::wstring text = GetText("VpnServerSpeed_ms");
    return text.replace(text.find(L"%d"), 2, std::to_wstring(value));
  }
};

}  // namespace

TEST_F(ServerList, SpeedCellTextForEveryCombination) {
  const std::wstring timeout = GetText("VpnServerSpeed_Timeout");
  const std::wstring testing = GetText("VpnServerSpeed_Testing");
  const std::wstring waiting = GetText("VpnServerSpeed_ToBeTested");
  const std::wstring unknown = GetText("VpnServerSpeed_Unknown");
  const struct {
    int32_t echo, ntp;
    std::wstring expected;
  } cases[] = {
      {40, 25, Ms(25)},        {25, 40, Ms(25)},     {0, 7, Ms(0)},
      {40, -1, Ms(40)},        {-2, 40, Ms(40)},     {-3, 40, Ms(40)},
      {-1, -1, timeout},       {-2, -1, testing},    {-1, -2, testing},
      {-2, -2, testing},       {-2, -3, testing},    {-3, -3, waiting},
      {-1, -3, unknown},       {-3, -1, unknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SpeedCellText(c.echo, c.ntp), c.expected) << c.echo << " / " << c.ntp;
  }
}

TEST_F(ServerList, QualityBoundariesAndCellLooks) {
  EXPECT_EQ(QualityOfSpeed(0), SpeedQuality::kGood);
  EXPECT_EQ(QualityOfSpeed(100), SpeedQuality::kGood);
  EXPECT_EQ(QualityOfSpeed(101), SpeedQuality::kNormal);
  EXPECT_EQ(QualityOfSpeed(500), SpeedQuality::kNormal);
  EXPECT_EQ(QualityOfSpeed(501), SpeedQuality::kBad);

  EXPECT_EQ(LookOfSpeedCell(Ms(100)).image, "IconSpeedTestGood");
  EXPECT_EQ(LookOfSpeedCell(Ms(101)).image, "IconSpeedTestNormal");
  EXPECT_EQ(LookOfSpeedCell(Ms(500)).image, "IconSpeedTestNormal");
  EXPECT_EQ(LookOfSpeedCell(Ms(501)).image, "IconSpeedTestBad");
  EXPECT_TRUE(LookOfSpeedCell(Ms(501)).alignRight);
  EXPECT_EQ(LookOfSpeedCell(GetText("VpnServerSpeed_Timeout")).image, "IconSpeedTestTimeout");
  EXPECT_FALSE(LookOfSpeedCell(GetText("VpnServerSpeed_Timeout")).alignRight);
  for (const char* key :
       {"VpnServerSpeed_Testing", "VpnServerSpeed_Unknown", "VpnServerSpeed_ToBeTested"}) {
    EXPECT_EQ(LookOfSpeedCell(GetText(key)).image, "IconSpeedTestTesting") << key;
  }
  EXPECT_EQ(LookOfSpeedCell(L"").image, "");
  EXPECT_EQ(LookOfSpeedCell(L"x").image, "");
}

TEST_F(ServerList, SpeedSortsFastestFirstThenTestingUnknownWaitingTimeout) {
  std::vector<std::wstring> cells = {SpeedCellText(-1, -1), SpeedCellText(-3, -3),
                                     SpeedCellText(-3, 900), SpeedCellText(-1, -3),
                                     SpeedCellText(-2, -3), SpeedCellText(12, -1),
                                     SpeedCellText(-1, 120)};
  std::sort(cells.begin(), cells.end(),
            [](const std::wstring& a, const std::wstring& b) { return CompareSpeedCells(a, b) < 0; });
  EXPECT_EQ(cells, (std::vector<std::wstring>{
                       Ms(12), Ms(120), Ms(900), GetText("VpnServerSpeed_Testing"),
                       GetText("VpnServerSpeed_Unknown"), GetText("VpnServerSpeed_ToBeTested"),
                       GetText("VpnServerSpeed_Timeout")}));
  // A consistent order: equal measurements and equal texts compare equal both ways round.
  EXPECT_EQ(CompareSpeedCells(Ms(50), Ms(50)), 0);
  EXPECT_EQ(CompareSpeedCells(L"50 x", Ms(50)), 0);
  EXPECT_EQ(CompareSpeedCells(Ms(50), L"50 x"), 0);
  EXPECT_LT(CompareSpeedCells(Ms(9), Ms(10)), 0) << "by number, not by text";
  EXPECT_LT(CompareSpeedCells(GetText("VpnServerSpeed_Timeout"), L"other"), 0);
  EXPECT_EQ(CompareSpeedCells(L"other", L"another"), 0);
}

TEST_F(ServerList, LoadCellsAreTruncatedPercentagesEvenForNonsense) {
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"0.42")), L" 42%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"0.999")), L" 99%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"0.57")), L" 57%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"")), L" 50%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"1.5")), L"150%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"busy")), L"  0%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"1e300")), L"999999%");
  EXPECT_EQ(LoadCellText(ParseServerLoad(L"nan")), L" 50%");
}
