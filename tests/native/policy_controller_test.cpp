#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/native_private_profile.h"
#include "config/text_table.h"
#include "fakes/fake_bind_module.h"
#include "fakes/fake_data_protection.h"
#include "fakes/fake_local_machine_registry.h"
#include "fakes/fake_open_vpn_components.h"
#include "fakes/fake_registry_profile.h"
#include "policy/speed_cell.h"
#include "policy/vpn_policy_controller.h"

namespace {

namespace fs = std::filesystem;

// The dialog's controls as plain state; selections made by the controller are reported back the
// way the list view reports them.
class FakePolicyView : public VpnPolicyView {
 public:
  struct Row {
    int32_t id;
    std::array<std::wstring, 4> cells;
  };

  void AddRouteItem(const std::wstring& text, int32_t code) override {
    routeItems.push_back({text, code});
  }
  void SelectRouteItem(int index) override { routeSelected = index; }
  int SelectedRouteItem() const override { return routeSelected; }
  void SetTip(const std::wstring& text) override { tip = text; }

  void CheckTypeButton(int32_t type, bool checked) override { checked_[Slot(type)] = checked; }
  bool IsTypeButtonChecked(int32_t type) const override { return checked_[Slot(type)]; }
  void EnableTypeButton(int32_t type, bool enabled) override { enabled_[Slot(type)] = enabled; }
  bool IsTypeButtonEnabled(int32_t type) const override { return enabled_[Slot(type)]; }
  void ShowTypeButton(int32_t type, bool shown) override { shown_[Slot(type)] = shown; }
  bool IsTypeButtonShown(int32_t type) const { return shown_[Slot(type)]; }
  void ShowPptpHint(bool shown) override { pptpHint = shown; }

  void AddTab(const std::wstring& caption, const std::string& image) override {
    tabs.push_back({caption, image});
    if (currentTab < 0) currentTab = 0;
  }
  void SelectTab(int index) override { currentTab = index; }
  int CurrentTab() const override { return currentTab; }

  void DeleteAllServerRows() override {
    rows.clear();
    selectedRow = -1;
  }
  void AppendServerRow(int32_t id, const std::array<std::wstring, 4>& cells) override {
    rows.push_back({id, cells});
  }
  void SortServerRows() override {
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
      return controller->CompareServers(a.id, b.id, sortColumn) * sortDirection < 0;
    });
  }
  std::vector<int32_t> ServerRowIds() const override {
    std::vector<int32_t> ids;
    for (const Row& row : rows) ids.push_back(row.id);
    return ids;
  }
  void SelectServerRow(int row) override {
    selectedRow = row;
    controller->OnServerSelected();
  }
  std::optional<int32_t> SelectedServerId() const override {
    if (selectedRow < 0 || static_cast<size_t>(selectedRow) >= rows.size()) return std::nullopt;
    return rows[static_cast<size_t>(selectedRow)].id;
  }
  void SetSpeedCell(int row, const std::wstring& text) override {
    rows.at(static_cast<size_t>(row)).cells[2] = text;
  }

  void ShowApplicationLayout(bool applications) override { applicationLayout = applications; }
  bool SaveApplicationChecks() override {
    ++applicationSaves;
    return anyApplicationChecked;
  }
  void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
  bool AskYesNo(const std::wstring& text) override {
    questions.push_back(text);
    return answerYes;
  }
  void EndDialog(bool ok) override { ended = ok ? 1 : 0; }

  // The user clicks a type button: the radio group leaves only that one checked.
  void UserChecksType(int32_t type) {
    for (int32_t each : {kTunnelPptp, kTunnelL2tp, kTunnelOpenVpn}) CheckTypeButton(each, false);
    CheckTypeButton(type, true);
    controller->OnTypeButtonClicked();
  }
  // The user picks the row showing `id`.
  void UserSelectsServer(int32_t id) {
    const auto ids = ServerRowIds();
    const auto at = std::find(ids.begin(), ids.end(), id);
    ASSERT_NE(at, ids.end()) << "server " << id << " is not shown";
    SelectServerRow(static_cast<int>(at - ids.begin()));
  }
  const std::wstring& Cell(int32_t id, int column) const {
    for (const Row& row : rows) {
      if (row.id == id) return row.cells[static_cast<size_t>(column)];
    }
    static const std::wstring none = L"<not shown>";
    return none;
  }

  VpnPolicyController* controller = nullptr;
  std::vector<std::pair<std::wstring, int32_t>> routeItems;
  int routeSelected = -1;
  std::wstring tip;
  std::vector<std::pair<std::wstring, std::string>> tabs;
  int currentTab = -1;
  std::vector<Row> rows;
  int selectedRow = -1;
  int sortColumn = 0;
  int sortDirection = 1;
  bool applicationLayout = false;
  bool anyApplicationChecked = false;
  int applicationSaves = 0;
  std::vector<std::wstring> messages;
  std::vector<std::wstring> questions;
  bool answerYes = true;
  int ended = -1;
  bool pptpHint = false;

 private:
  static size_t Slot(int32_t type) { return type == kTunnelL2tp ? 1 : type == kTunnelOpenVpn ? 2 : 0; }
  bool checked_[3] = {false, false, false};
  bool enabled_[3] = {true, true, true};
  bool shown_[3] = {true, true, false};
};

class FakeSpeedTest : public SpeedTestControl {
 public:
  void Start() override { ++starts; }
  void Stop() override { ++stops; }
  void ReplaceQueues(std::vector<SpeedProbeTarget> echo,
                     std::vector<SpeedProbeTarget> ntp) override {
    echoIds.clear();
    ntpIds.clear();
    for (const auto& t : echo) echoIds.push_back(t.serverId);
    for (const auto& t : ntp) ntpIds.push_back(t.serverId);
  }
  int starts = 0;
  int stops = 0;
  std::vector<int32_t> echoIds;
  std::vector<int32_t> ntpIds;
};

class CountingRunner : public BlockedOperationRunner {
 public:
  void RestartVpnRelatedServices() override { ++restarts; }
  void Run(const std::function<void()>& work) override { work(); }
  int restarts = 0;
};

struct Server {
  std::string id;
  std::string title;
  std::string categories;
  std::string protocols = "pptp,l2tp";
  std::string load = "0.42";
  std::string host = "10.0.0.1";
};

class PolicyController : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    dir_ = fs::temp_directory_path() /
           ("kv_policy_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    machine_.keys[kRasManParametersKey];
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Respond(const std::vector<std::pair<std::string, std::string>>& routes,
               const std::vector<Server>& servers) {
    std::string body = "[VPN]\r\nAuthResult=OK\r\nMagicTag=VpnServerResponse\r\n[Routes]\r\n";
    for (size_t n = 0; n < routes.size(); ++n) {
      body += "Title" + std::to_string(n) + "=" + routes[n].first + "\r\n";
      body += "Comment" + std::to_string(n) + "=" + routes[n].second + "\r\n";
    }
    body += "[Servers]\r\n";
    for (size_t n = 0; n < servers.size(); ++n) {
      const std::string i = std::to_string(n);
      const Server& s = servers[n];
      body += "ServerId" + i + "=" + s.id + "\r\nTitle" + i + "=" + s.title + "\r\nComment" + i +
              "=c" + s.id + "\r\nCategories" + i + "=" + s.categories + "\r\nProtocols" + i +
              "=" + s.protocols + "\r\nLoad" + i + "=" + s.load + "\r\nServerHost" + i + "=" +
              s.host + "\r\n";
    }
    answer_ = ParseServiceAnswer(body, L"");
  }

  VpnPolicyController& Start() {
    controller_ = std::make_unique<VpnPolicyController>(
        view_,
        VpnPolicyController::Ports{.settings = settings_,
                                   .bindModule = bind_,
                                   .speedTest = speed_,
                                   .l2tp = l2tp_,
                                   .openvpn = openvpn_,
                                   .moduleFolder = L"C:\\Kavrin\\"},
        answer_);
    view_.controller = controller_.get();
    controller_->Start();
    return *controller_;
  }

  std::optional<uint32_t> Saved(const wchar_t* entry) {
    const auto value = registry_.Get(L"Main", entry);
    if (!value) return std::nullopt;
    return std::get<uint32_t>(*value);
  }
  std::optional<uint32_t> ProhibitIpSec() {
    return machine_.Dword(kRasManParametersKey, kProhibitIpSecValue);
  }

  fs::path dir_;
  ServiceAnswer answer_;
  FakeRegistryProfile registry_;
  FakeDataProtection protection_;
  SettingsStore settings_{registry_, protection_};
  FakeBindModule bind_;
  FakeSpeedTest speed_;
  FakeLocalMachineRegistry machine_;
  CountingRunner runner_;
  uint32_t osMajor_ = 5;
  L2tpPreparation l2tp_{machine_, runner_, osMajor_};
  FakeOpenVpnComponents openvpn_;
  FakePolicyView view_;
  std::unique_ptr<VpnPolicyController> controller_;
};

const std::vector<Server> kTwoRegions = {
    {"7", "Shanghai", "china", "pptp,l2tp"},
    {"3", "Beijing", " China , USA ", "pptp"},
    {"12", "Dallas", "usa", "l2tp", "0.9"},
};

}  // namespace

TEST_F(PolicyController, RouteListHasTheFixedItemsThenRouteSetsUpToTheFirstBlankTitle) {
  Respond({}, kTwoRegions);
  Start();
  ASSERT_EQ(view_.routeItems.size(), 2u);
  EXPECT_EQ(view_.routeItems[0], std::make_pair(GetText("VpnRouteForAll"), kRouteSetAllTraffic));
  EXPECT_EQ(view_.routeItems[1], std::make_pair(GetText("VpnRouteForApp"), kRouteSetApplications));
  EXPECT_EQ(view_.routeSelected, 0) << "an absent saved route means all traffic";
  EXPECT_EQ(view_.tip, GetText("VpnRouteForAll") + L": " + GetText("VpnRoutesTipForAll"));
  EXPECT_FALSE(view_.applicationLayout);
  EXPECT_EQ(speed_.starts, 1);
}

TEST_F(PolicyController, SavedRouteSetIsPreselectedAndAVanishedOneFallsBackToTheFirstItem) {
  Respond({{"Games", "game servers"}, {" Video ", "streams"}, {"  ", "gap"}, {"Hidden", "x"}},
          kTwoRegions);
  settings_.SetLastVpnRouteIndex(1);
  Start();
  ASSERT_EQ(view_.routeItems.size(), 4u) << "the blank third title ends the list";
  EXPECT_EQ(view_.routeItems[3], std::make_pair(std::wstring(L"Video"), 1));
  EXPECT_EQ(view_.routeSelected, 3);
  EXPECT_EQ(view_.tip, L"Video: streams");

  // Hovering shows the item under the cursor; leaving goes back to the selected one.
  controller_->OnRouteHover(2);
  EXPECT_EQ(view_.tip, L"Games: game servers");
  controller_->OnRouteHover(1);
  EXPECT_EQ(view_.tip, GetText("VpnRouteForApp") + L": " + GetText("VpnRoutesTipForApp"));
  controller_->OnRouteHover(-1);
  EXPECT_EQ(view_.tip, L"Video: streams");

  // Choosing the application route set switches the layout.
  view_.routeSelected = 1;
  controller_->OnRouteSelectionChanged();
  EXPECT_TRUE(view_.applicationLayout);
  view_.routeSelected = -1;
  controller_->OnRouteSelectionChanged();
  EXPECT_FALSE(view_.applicationLayout);
  EXPECT_EQ(view_.tip, GetText("VpnRoutesTipPleaseSelect"));

  registry_.Put(L"Main", L"LastVpnRouteIndex", uint32_t{9});
  view_ = FakePolicyView();
  Start();
  EXPECT_EQ(view_.routeSelected, 0);
}

TEST_F(PolicyController, ServersWithoutKnownRegionsGiveNoTabsAndOkAsksForAServer) {
  Respond({}, {{"5", "Paris", "europe"}, {"6", "Rome", ""}});
  Start();
  EXPECT_TRUE(view_.tabs.empty());
  EXPECT_TRUE(view_.rows.empty());
  EXPECT_EQ(speed_.echoIds, (std::vector<int32_t>{5, 6})) << "unshown servers are measured too";

  controller_->OnOk();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{GetText("YouHavenotChosenVpnServer")});
  EXPECT_EQ(view_.ended, -1);
  EXPECT_EQ(Saved(L"LastVpnRouteIndex"), static_cast<uint32_t>(kRouteSetAllTraffic))
      << "the route check passed and was saved";
  EXPECT_FALSE(Saved(L"LastVpnServerId"));
}

TEST_F(PolicyController, ServerTableTabsAndRowsFollowTheResponse) {
  // Ids up to the first zero; a later duplicate replaces the earlier entry.
  Respond({}, {{"7", "Shanghai", "china"},
               {"3", "Beijing", " China , USA ", "pptp", "0.5"},
               {"12", "Dallas", "usa", "l2tp", "1.5"},
               {"7", "Shanghai 2", "CHINA,,", "pptp", "0.057"},
               {"-4", "Test", "china", "pptp", "0.1"},
               {"0", "Never", "asia"},
               {"9", "Tokyo", "asia"}});
  Start();
  const auto& servers = controller_->servers();
  ASSERT_EQ(servers.size(), 4u);
  EXPECT_EQ(servers.at(7).entry.title, L"Shanghai 2");
  EXPECT_EQ(servers.at(7).position, 3);
  EXPECT_EQ(servers.at(3).categories, (std::set<std::wstring>{L"china", L"usa"}));

  ASSERT_EQ(view_.tabs.size(), 2u) << "asia only appears after the zero id";
  EXPECT_EQ(view_.tabs[0], std::make_pair(GetText("VpnServerCategoryChina"), std::string("FlagChina")));
  EXPECT_EQ(view_.tabs[1], std::make_pair(GetText("VpnServerCategoryUSA"), std::string("FlagUSA")));
  EXPECT_EQ(view_.currentTab, 0);

  // Sorted by name: Beijing, Shanghai 2, Test.
  EXPECT_EQ(view_.ServerRowIds(), (std::vector<int32_t>{3, 7, -4}));
  EXPECT_EQ(servers.at(7).listRow, 1);
  EXPECT_EQ(servers.at(12).listRow, -1);
  EXPECT_EQ(view_.Cell(7, kColumnLoad), L"  5%");
  EXPECT_EQ(view_.Cell(12, kColumnLoad), L"<not shown>");
  EXPECT_EQ(view_.Cell(3, kColumnLoad), L" 50%");
  EXPECT_EQ(view_.Cell(3, kColumnSpeed), GetText("VpnServerSpeed_ToBeTested"));
  // Every positive id is queued, shown or not, in ascending order.
  EXPECT_EQ(speed_.echoIds, (std::vector<int32_t>{3, 7, 12}));
  EXPECT_EQ(speed_.ntpIds, (std::vector<int32_t>{3, 7, 12}));

  // Changing tab keeps the selected server when it is shown there too.
  view_.UserSelectsServer(3);
  view_.currentTab = 1;
  controller_->OnTabChanged();
  EXPECT_EQ(view_.ServerRowIds(), (std::vector<int32_t>{3, 12}));
  EXPECT_EQ(view_.SelectedServerId(), 3);
}

TEST_F(PolicyController, RememberedServerOutsideTheSelectedTabStaysUnselected) {
  Respond({}, kTwoRegions);
  settings_.SetLastVpnServerId(12);  // Dallas, usa only
  settings_.SetLastVpnTabGroupIndex(0);
  Start();
  EXPECT_EQ(view_.currentTab, 0);
  EXPECT_EQ(view_.SelectedServerId(), std::nullopt);

  // A tab index beyond the tabs is clamped to the last one, where the server is shown.
  settings_.SetLastVpnTabGroupIndex(7);
  view_ = FakePolicyView();
  Start();
  EXPECT_EQ(view_.currentTab, 1);
  EXPECT_EQ(view_.SelectedServerId(), 12);
}

TEST_F(PolicyController, TunnelTypesFollowTheSelectedServersProtocols) {
  Respond({}, {{"1", "Both", "china", "pptp,l2tp"},
               {"2", "PptpOnly", "china", "pptp"},
               {"3", "Capitals", "china", "PPTP, L2TP"},
               {"4", "None", "china", ""}});
  settings_.SetVpnType(2);
  settings_.SetLastVpnServerId(1);
  Start();
  EXPECT_TRUE(view_.IsTypeButtonChecked(kTunnelL2tp));
  EXPECT_TRUE(view_.IsTypeButtonEnabled(kTunnelPptp));
  EXPECT_TRUE(view_.IsTypeButtonEnabled(kTunnelL2tp));

  view_.UserSelectsServer(2);
  EXPECT_TRUE(view_.IsTypeButtonEnabled(kTunnelPptp));
  EXPECT_FALSE(view_.IsTypeButtonEnabled(kTunnelL2tp));
  EXPECT_FALSE(view_.IsTypeButtonChecked(kTunnelL2tp)) << "a disabled button is unchecked";
  EXPECT_TRUE(view_.messages.empty());

  view_.CheckTypeButton(kTunnelPptp, true);
  view_.UserSelectsServer(3);
  EXPECT_FALSE(view_.IsTypeButtonEnabled(kTunnelPptp)) << "the protocol search is case-sensitive";
  EXPECT_FALSE(view_.IsTypeButtonEnabled(kTunnelL2tp));
  EXPECT_FALSE(view_.IsTypeButtonChecked(kTunnelPptp));
  EXPECT_TRUE(view_.messages.empty()) << "a protocols text was given";

  view_.UserSelectsServer(4);
  EXPECT_EQ(view_.messages,
            std::vector<std::wstring>{GetText("ChosenVpnServerHaveNoVpnTypeTryAnother")});
  // Refills keep the selection without telling the user again.
  controller_->OnRetest();
  controller_->OnTabChanged();
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.SelectedServerId(), std::optional<int32_t>(4));
}

TEST_F(PolicyController, NoBoxAboutTheRememberedServerBeforeTheUserActs) {
  Respond({}, {{"4", "None", "china", ""}});
  settings_.SetLastVpnServerId(4);
  Start();
  EXPECT_EQ(view_.SelectedServerId(), std::optional<int32_t>(4));
  EXPECT_FALSE(view_.IsTypeButtonEnabled(kTunnelPptp));
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(PolicyController, ServerWithoutHostIsNeverMeasured) {
  Server hostless{"5", "Nowhere", "china"};
  hostless.host = " ";
  Respond({}, {{"7", "Shanghai", "china"}, hostless});
  Start();
  EXPECT_EQ(speed_.echoIds, std::vector<int32_t>{7});
  EXPECT_EQ(speed_.ntpIds, std::vector<int32_t>{7});
  EXPECT_EQ(view_.Cell(5, kColumnSpeed), GetText("VpnServerSpeed_Timeout"));
  controller_->OnRetest();
  EXPECT_EQ(speed_.echoIds, std::vector<int32_t>{7});
  EXPECT_EQ(view_.Cell(5, kColumnSpeed), GetText("VpnServerSpeed_Timeout"));
}

TEST_F(PolicyController, ServiceWithoutOpenVpnKeepsTwoButtonsAndIgnoresARememberedThree) {
  Respond({}, kTwoRegions);
  settings_.SetVpnType(3);
  settings_.SetLastVpnServerId(7);
  Start();
  EXPECT_FALSE(view_.IsTypeButtonShown(kTunnelOpenVpn));
  EXPECT_FALSE(view_.IsTypeButtonChecked(kTunnelOpenVpn));
  controller_->OnOk();
  EXPECT_EQ(view_.messages.back(), GetText("YouHavenotChosenVpnType"));
}

TEST_F(PolicyController, OpenVpnButtonFollowsTheServersProtocolsLikeTheOthers) {
  Respond({}, {{"1", "All", "china", "pptp,l2tp,openvpn"},
               {"2", "PptpOnly", "china", "pptp"},
               {"3", "Capitals", "china", "pptp,OpenVPN"}});
  settings_.SetVpnType(3);
  settings_.SetLastVpnServerId(1);
  Start();
  EXPECT_TRUE(view_.IsTypeButtonShown(kTunnelOpenVpn));
  EXPECT_TRUE(view_.IsTypeButtonChecked(kTunnelOpenVpn)) << "the remembered type";
  EXPECT_TRUE(view_.IsTypeButtonEnabled(kTunnelOpenVpn));

  view_.UserSelectsServer(2);
  EXPECT_FALSE(view_.IsTypeButtonEnabled(kTunnelOpenVpn));
  EXPECT_FALSE(view_.IsTypeButtonChecked(kTunnelOpenVpn));
  view_.UserSelectsServer(3);
  EXPECT_FALSE(view_.IsTypeButtonEnabled(kTunnelOpenVpn)) << "the search is case-sensitive";

  view_.UserSelectsServer(1);
  view_.UserChecksType(kTunnelOpenVpn);
  controller_->OnOk();
  EXPECT_EQ(view_.ended, 1);
  EXPECT_EQ(Saved(L"VpnType"), 3u);
  EXPECT_EQ(controller_->choice().tunnelType, kTunnelOpenVpn);
}

TEST_F(PolicyController, PptpHintShowsWhileASaferTypeIsOffered) {
  Respond({}, {{"1", "Both", "china", "pptp,l2tp"},
               {"2", "PptpOnly", "china", "pptp"},
               {"3", "WithOpenVpn", "china", "pptp,openvpn"},
               {"4", "NoPptp", "china", "l2tp,openvpn"}});
  settings_.SetVpnType(1);
  settings_.SetLastVpnServerId(1);
  Start();
  EXPECT_TRUE(view_.pptpHint);

  view_.UserSelectsServer(2);
  EXPECT_FALSE(view_.pptpHint) << "nothing safer on offer";
  view_.UserSelectsServer(3);
  EXPECT_TRUE(view_.pptpHint);
  view_.UserChecksType(kTunnelOpenVpn);
  EXPECT_FALSE(view_.pptpHint);
  view_.UserChecksType(kTunnelPptp);
  EXPECT_TRUE(view_.pptpHint);
  view_.UserSelectsServer(4);
  EXPECT_FALSE(view_.pptpHint) << "PPTP was unchecked with its button";

  // A tab without the selected server leaves no server for the hint to speak of.
  view_.UserSelectsServer(3);
  view_.UserChecksType(kTunnelPptp);
  view_.currentTab = 1;  // a tab the controller does not know shows no rows
  controller_->OnTabChanged();
  EXPECT_FALSE(view_.pptpHint);
}

TEST_F(PolicyController, NoPptpHintFromAServiceThatNeverOffersOpenVpn) {
  Respond({}, {{"1", "Both", "china", "pptp,l2tp"}});
  settings_.SetVpnType(1);
  settings_.SetLastVpnServerId(1);
  Start();
  EXPECT_TRUE(view_.IsTypeButtonChecked(kTunnelPptp));
  EXPECT_FALSE(view_.pptpHint) << "the dialog stays as it always was";
}

TEST_F(PolicyController, EachFailedCheckKeepsWhatTheEarlierStepsWrote) {
  Respond({{"Games", "g"}}, kTwoRegions);
  settings_.SetVpnType(0);
  Start();

  // The application route set without the binding module: nothing written.
  view_.routeSelected = 1;
  controller_->OnOk();
  EXPECT_EQ(view_.messages.back(), GetText("AcceleratorModuleIsNotRegisteredGetFullVersion"));
  EXPECT_EQ(view_.applicationSaves, 0);
  EXPECT_FALSE(Saved(L"LastVpnRouteIndex"));

  // With the module, but no application checked: still nothing written.
  bind_.loaded = true;
  controller_->OnOk();
  EXPECT_EQ(view_.messages.back(), GetText("YouHavenotChosenVpnApp"));
  EXPECT_EQ(view_.applicationSaves, 1);
  EXPECT_FALSE(Saved(L"LastVpnRouteIndex"));

  // A route set, no server: the route is remembered.
  view_.routeSelected = 2;
  controller_->OnOk();
  EXPECT_EQ(view_.messages.back(), GetText("YouHavenotChosenVpnServer"));
  EXPECT_EQ(Saved(L"LastVpnRouteIndex"), 0u);
  EXPECT_FALSE(Saved(L"LastVpnServerId"));

  // A server, no tunnel type: route, server and tab are remembered, the type is not.
  view_.currentTab = 1;
  controller_->OnTabChanged();
  view_.UserSelectsServer(12);
  controller_->OnOk();
  EXPECT_EQ(view_.messages.back(), GetText("YouHavenotChosenVpnType"));
  EXPECT_EQ(Saved(L"LastVpnServerId"), 12u);
  EXPECT_EQ(Saved(L"LastVpnTabGroupIndex"), 1u);
  EXPECT_EQ(Saved(L"VpnType"), 0u) << "still the value set before the dialog";
  EXPECT_EQ(speed_.stops, 0) << "the test goes on while the dialog stays open";
  EXPECT_EQ(view_.ended, -1);
  EXPECT_FALSE(controller_->choice().routes) << "results change only on success";

  // L2TP is the only type Dallas offers; a checked but disabled PPTP does not count.
  view_.CheckTypeButton(kTunnelPptp, true);
  controller_->OnOk();
  EXPECT_EQ(view_.messages.back(), GetText("YouHavenotChosenVpnType"));
  view_.CheckTypeButton(kTunnelL2tp, true);
  const size_t messages = view_.messages.size();
  controller_->OnOk();
  EXPECT_EQ(view_.messages.size(), messages);
  EXPECT_EQ(Saved(L"VpnType"), 2u);
  EXPECT_EQ(speed_.stops, 1);
  EXPECT_EQ(view_.ended, 1);
  EXPECT_EQ(controller_->choice().routes, RouteSetChoice::ServiceSet(0));
  EXPECT_EQ(controller_->choice().tunnelType, kTunnelL2tp);
  EXPECT_EQ(controller_->choice().server.serverId, 12);
  EXPECT_EQ(controller_->choice().server.serverHost, L"10.0.0.1");
}

TEST_F(PolicyController, CancelStopsTheTestAndLeavesTheChoiceAlone) {
  Respond({}, kTwoRegions);
  Start();
  controller_->OnCancel();
  EXPECT_EQ(speed_.stops, 1);
  EXPECT_EQ(view_.ended, 0);
  EXPECT_FALSE(controller_->choice().routes);
  EXPECT_EQ(registry_.size(), 0u);
}

TEST_F(PolicyController, L2tpChoiceSetsProhibitIpSecOnceAndOffersTheRestart) {
  Respond({}, kTwoRegions);
  settings_.SetVpnType(2);
  settings_.SetLastVpnServerId(7);
  Start();
  controller_->OnOk();
  EXPECT_EQ(view_.ended, 1);
  EXPECT_EQ(ProhibitIpSec(), 1u);
  EXPECT_EQ(view_.questions, std::vector<std::wstring>{GetText("FirstL2TPTipForceYesOrNo")});
  EXPECT_EQ(runner_.restarts, 1);

  // Already 1: nothing written, nothing asked.
  const size_t writes = machine_.writes.size();
  view_ = FakePolicyView();
  Start();
  controller_->OnOk();
  EXPECT_EQ(view_.ended, 1);
  EXPECT_EQ(machine_.writes.size(), writes);
  EXPECT_TRUE(view_.questions.empty());
}

TEST_F(PolicyController, OpenVpnChoiceNeedsItsComponentsAndAnAdapter) {
  Respond({}, {{"7", "Shanghai", "china", "pptp,l2tp,openvpn"}});
  settings_.SetLastVpnServerId(7);
  Start();
  view_.UserChecksType(kTunnelOpenVpn);

  openvpn_.filesPresent = false;
  controller_->OnOk();
  EXPECT_EQ(openvpn_.checkedFolder, L"C:\\Kavrin\\");
  EXPECT_EQ(view_.messages.back(), GetText("VpnAppWithoutOpenVPNPleaseDownload"));
  EXPECT_EQ(view_.ended, -1);

  openvpn_.filesPresent = true;
  openvpn_.adapter = TapAdapterProbe::kAbsent;
  view_.messages.clear();
  controller_->OnOk();
  EXPECT_EQ(view_.messages, (std::vector<std::wstring>{GetText("InstallOpenVPNTapTip"),
                                                        GetText("CannotInstallOpenVPN")}));
  EXPECT_EQ(view_.ended, -1);
  EXPECT_EQ(controller_->choice().tunnelType, kTunnelNone);

  openvpn_.afterInstall = TapAdapterProbe::kPresent;
  controller_->OnOk();
  EXPECT_EQ(std::count(openvpn_.calls.begin(), openvpn_.calls.end(), "install"), 2);
  EXPECT_EQ(view_.ended, 1);
  EXPECT_EQ(Saved(L"VpnType"), 3u);
  EXPECT_EQ(controller_->choice().tunnelType, kTunnelOpenVpn);
}

TEST(L2tpPreparationTest, AsksOnlyAfterAWriteAndOnlyBeforeVista) {
  FakeLocalMachineRegistry machine;
  CountingRunner runner;
  int asked = 0;
  auto ask = [&](bool answer) {
    return [&asked, answer] {
      ++asked;
      return answer;
    };
  };
  auto ipsec = [&] { return machine.Dword(kRasManParametersKey, kProhibitIpSecValue); };

  // Vista, 7, 8 and a program that declares Windows 10 support sees 10 there; 0 is unknown.
  for (const uint32_t version : {6u, 10u, 0u}) {
    SCOPED_TRACE(version);
    L2tpPreparation later(machine, runner, version);
    machine.SetDword(kRasManParametersKey, kProhibitIpSecValue, 0);
    later.Prepare(ask(true));
    EXPECT_EQ(ipsec(), 1u);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(runner.restarts, 0);
  }

  L2tpPreparation xp(machine, runner, 5);
  machine.SetDword(kRasManParametersKey, kProhibitIpSecValue, 0);
  xp.Prepare(ask(true));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(runner.restarts, 1);
  // not a number: rewritten
  machine.SetUnits(kRasManParametersKey, kProhibitIpSecValue, registry::kTypeText, u"1");
  xp.Prepare(ask(false));
  EXPECT_EQ(ipsec(), 1u);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(runner.restarts, 1) << "the user said no";

  machine.SetDword(kRasManParametersKey, kProhibitIpSecValue, 2);
  machine.failWrites = true;
  xp.Prepare(ask(true));
  EXPECT_EQ(asked, 2) << "a failed write asks nothing";

  machine.keys.clear();
  machine.failWrites = false;
  xp.Prepare(ask(true));
  EXPECT_EQ(asked, 2) << "a missing key is silent";
  EXPECT_EQ(runner.restarts, 1);
}

TEST_F(PolicyController, MeasurementsReachTheirCellsAndRetestRequeuesAllButHeldServers) {
  Respond({}, kTwoRegions);
  Start();
  controller_->OnSpeedResult(kEchoSpeedMessage, 7, kSpeedTesting);
  EXPECT_EQ(view_.Cell(7, kColumnSpeed), GetText("VpnServerSpeed_Testing"));
  controller_->OnSpeedResult(kEchoSpeedMessage, 7, 42);
  controller_->OnSpeedResult(kNtpSpeedMessage, 7, 30);
  EXPECT_EQ(view_.Cell(7, kColumnSpeed), SpeedCellText(-3, 30));
  controller_->OnSpeedResult(kNtpSpeedMessage, 3, kSpeedTesting);
  controller_->OnSpeedResult(kEchoSpeedMessage, 12, 80);  // not shown in this tab
  controller_->OnSpeedResult(kEchoSpeedMessage, 999, 5);  // unknown: ignored

  speed_.echoIds.clear();
  controller_->OnRetest();
  EXPECT_EQ(view_.Cell(7, kColumnSpeed), GetText("VpnServerSpeed_ToBeTested"));
  EXPECT_EQ(speed_.echoIds, (std::vector<int32_t>{3, 7})) << "Dallas was not shown: kept";
  EXPECT_EQ(speed_.ntpIds, (std::vector<int32_t>{7, 12})) << "Beijing's NTP probe is held";
  EXPECT_EQ(controller_->servers().at(3).ntpSpeed, kSpeedTesting);

  // The held worker's result still lands.
  controller_->OnSpeedResult(kNtpSpeedMessage, 3, 25);
  EXPECT_EQ(view_.Cell(3, kColumnSpeed), SpeedCellText(-3, 25));
}

TEST_F(PolicyController, ServersCompareByEveryColumnConsistently) {
  Respond({}, {{"1", "beta", "china", "pptp", "0.3"},
               {"2", "Alpha", "china", "pptp", "0.3"},
               {"3", "gamma", "china", "pptp", "0.1"}});
  Start();
  EXPECT_EQ(view_.ServerRowIds(), (std::vector<int32_t>{2, 1, 3})) << "names without case";
  EXPECT_LT(controller_->CompareServers(3, 1, kColumnLoad), 0);
  EXPECT_EQ(controller_->CompareServers(1, 2, kColumnLoad), 0);
  EXPECT_EQ(controller_->CompareServers(2, 1, kColumnLoad), 0);

  controller_->OnSpeedResult(kEchoSpeedMessage, 1, 300);
  controller_->OnSpeedResult(kEchoSpeedMessage, 3, 20);
  controller_->OnSpeedResult(kNtpSpeedMessage, 2, -1);
  controller_->OnSpeedResult(kEchoSpeedMessage, 2, -1);
  view_.sortColumn = kColumnSpeed;
  view_.SortServerRows();
  controller_->OnServerRowsSorted();
  EXPECT_EQ(view_.ServerRowIds(), (std::vector<int32_t>{3, 1, 2}));
  EXPECT_EQ(controller_->servers().at(2).listRow, 2);
}
