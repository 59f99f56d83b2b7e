#include "config/text_table.h"

#include <gtest/gtest.h>

#include <set>

#include "config/text_table_defaults.h"
#include "vpn/error_advice.h"

namespace {

TextTable BuiltTable() {
  TextTable table;
  BuildTextTable(table);
  return table;
}

TEST(TextTableTest, HoldsEveryKeyOnceInBuildOrder) {
  const TextTable table = BuiltTable();
  const auto& keys = table.keysInBuildOrder();
  // The service's 133 texts come first, in their order; our own texts follow them.
  ASSERT_GE(keys.size(), 133u);
  ASSERT_EQ(table.size(), keys.size());
  EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size());
  EXPECT_EQ(keys.front(), "RegisterModulesSuccessfully");
  EXPECT_EQ(keys[4], "OK");
  EXPECT_EQ(keys[63], "VpnServerSpeed_ms");
  EXPECT_EQ(keys[96], "GENERAL_VPN_ERROR_SUCCESS");
  EXPECT_EQ(keys[109], "GENERAL_VPN_STATE_DISCONNECT");
  EXPECT_EQ(keys[132], "OnlineUpdateFailureTip");
  for (const auto& key : keys) EXPECT_FALSE(table.Get(key).empty()) << key;
}

TEST(TextTableTest, LooksUpByExactKeyAndMarksMissingOnes) {
  const TextTable table = BuiltTable();
  EXPECT_EQ(table.Get("Ready"), L"就绪");
  EXPECT_EQ(table.Get("OK"), L"确定");
  EXPECT_EQ(table.Get("ready"), L"[!] ready");
  EXPECT_EQ(table.Get("ok"), L"[!] ok");
  EXPECT_EQ(table.Get(""), L"[!] ");
  EXPECT_EQ(table.size(), BuiltTable().size()) << "a lookup must not add keys";
  EXPECT_FALSE(table.Contains("ready"));
}

TEST(TextTableTest, ComposedTextsUseTheTitlesTheyName) {
  const TextTable table = BuiltTable();
  EXPECT_EQ(table.Get("YouHavenotChosenVpnType"), L"您没有选择合适的连接类型");
  EXPECT_EQ(table.Get("YouHavenotChosenVpnServer"), L"您没有选择合适的加速节点");
  EXPECT_EQ(table.Get("YouHavenotChosenVpnRoute"), L"您没有选择合适的加速方式");
  EXPECT_EQ(table.Get("VpnRoutesTipPleaseSelect"), L"请选择一种加速方式");
  EXPECT_EQ(table.Get("ChosenVpnServerHaveNoVpnTypeTryAnother"),
            L"您选择的加速节点暂时没有提供可用的连接方式，请使用其他的加速节点");
  EXPECT_NE(table.Get("VpnRoutesTipForAll").find(L"建议使用“针对程序加速”方式。"),
            std::wstring::npos);
}

TEST(TextTableTest, KeepsFormatsAndLineBreaksForTheirCallers) {
  const TextTable table = BuiltTable();
  EXPECT_EQ(table.Get("VpnServerSpeed_ms"), L"%d 毫秒");
  EXPECT_EQ(table.Get("AddAcceleratedAppFileDialogFilter"),
            L"快捷方式或可执行文件(*.lnk;*.exe)|*.lnk;*.exe||");
  const std::wstring routes = table.Get("CannotModifyFollowingRoutesContinueYesOrNot");
  EXPECT_EQ(routes.substr(routes.size() - 2), L"\r\n");
  for (const char* key :
       {"AcceleratorModuleIsNotRegisteredGetFullVersion", "VpnAppWithoutOpenVPNPleaseDownload",
        "CanNotUpdateGreenFile", "ClientNeedUpdate", "OnlineUpdateFailureTip"}) {
    EXPECT_NE(table.Get(key).find(L"http://www.orumavpn.com/"), std::wstring::npos) << key;
  }
}

TEST(TextTableTest, ComposesFromTextsCurrentAtBuildTime) {
  const TextRow rows[] = {
      {"Title", {{L"first", nullptr}}},
      {"Message", {{nullptr, "Title"}, {L"-", nullptr}, {nullptr, "Absent"}}},
      {"Title", {{L"second", nullptr}}},
  };
  TextTable table;
  BuildTextTable(table, rows);
  EXPECT_EQ(table.Get("Message"), L"first-");
  EXPECT_EQ(table.Get("Title"), L"second");
  EXPECT_EQ(table.Get("Absent"), L"");
  EXPECT_EQ(table.keysInBuildOrder(), (std::vector<std::string>{"Title", "Absent", "Message"}));
}

TEST(TextTableTest, ProgramTableAnswersAfterItIsBuilt) {
  BuildTextTable();
  EXPECT_EQ(GetText("Cancel"), L"取消");
  EXPECT_EQ(GetText("NoSuchKey"), L"[!] NoSuchKey");
  EXPECT_EQ(GetText(nullptr), L"[!] ");
  BuildTextTable();
  EXPECT_EQ(ProgramTextTable().size(), BuiltTable().size());
}

}  // namespace

// The errors users meet most each get a sentence of their own; the rest get none, so nothing
// misleading is added to an error we know nothing more about.
TEST(TextTableTest, CommonErrorsHaveOneSentenceOfAdviceEach) {
  BuildTextTable();
  std::set<std::wstring> sentences;
  for (const int32_t code : {619, 628, 691, 720, 734, 789, 800, 807, 809, 812, 868}) {
    const std::wstring advice = RasErrorAdvice(code);
    EXPECT_FALSE(advice.empty()) << code;
    EXPECT_EQ(advice.find_first_of(L"\r\n["), std::wstring::npos) << code;
    sentences.insert(advice);
  }
  for (const OpenVpnCondition condition :
       {OpenVpnCondition::kAuthFailed, OpenVpnCondition::kTlsFailed, OpenVpnCondition::kNoAdapter,
        OpenVpnCondition::kNotStarted}) {
    EXPECT_FALSE(OpenVpnAdvice(condition).empty());
    sentences.insert(OpenVpnAdvice(condition));
  }
  EXPECT_EQ(sentences.size(), 15u);
  EXPECT_NE(RasErrorAdvice(809).find(L"UDP 500/4500"), std::wstring::npos);
  EXPECT_TRUE(RasErrorAdvice(0).empty());
  EXPECT_TRUE(RasErrorAdvice(649).empty());
}
