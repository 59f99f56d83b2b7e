#include "policy/vpn_policy_controller.h"

#include <algorithm>

#include "base/text.h"
#include "config/text_table.h"
#include "policy/speed_cell.h"

namespace {

struct RegionTab {
  const char* key;
  const char* caption;
  const char* image;
};
constexpr RegionTab kRegionTabs[] = {{"china", "VpnServerCategoryChina", "FlagChina"},
                                     {"usa", "VpnServerCategoryUSA", "FlagUSA"},
                                     {"asia", "VpnServerCategoryAsia", "FlagAsia"}};
// A list filtered by this key accepts every server; no region tab carries it.
constexpr char kEveryCategory[] = "all";

// The words of a server's "Protocols" text that offer each tunnel type (case-sensitive).
constexpr wchar_t kPptpWord[] = L"pptp";
constexpr wchar_t kL2tpWord[] = L"l2tp";
constexpr wchar_t kOpenVpnWord[] = L"openvpn";

bool Offers(const PolicyServer& server, const wchar_t* word) {
  return server.entry.protocols.find(word) != std::wstring::npos;
}

int Sign(int value) { return (value > 0) - (value < 0); }

int DefaultTextOrder(const std::wstring& a, const std::wstring& b) {
  return LowerAscii(a).compare(LowerAscii(b));
}

// A server without a host has nothing to measure; it reads as not answering.
bool Measurable(const PolicyServer& server) { return !TrimText(server.entry.serverHost).empty(); }

}  // namespace

VpnPolicyController::VpnPolicyController(VpnPolicyView& view, Ports ports, ServiceAnswer answer,
                                         TextOrder textOrder)
    : view_(view),
      ports_(ports),
      answer_(std::move(answer)),
      textOrder_(textOrder ? std::move(textOrder) : TextOrder(DefaultTextOrder)) {}

void VpnPolicyController::Start() {
  const std::optional<RouteSetChoice> lastRoute =
      RouteSetFromCode(ports_.settings.GetLastVpnRouteIndex());
  const uint32_t lastTab = ports_.settings.GetLastVpnTabGroupIndex();
  const int32_t lastServer = ports_.settings.GetLastVpnServerId();
  const int32_t lastType = ports_.settings.GetVpnType();

  FillRouteList();
  const auto saved = lastRoute ? std::find(routeChoices_.begin(), routeChoices_.end(), *lastRoute)
                               : routeChoices_.end();
  view_.SelectRouteItem(
      saved == routeChoices_.end() ? 0 : static_cast<int>(saved - routeChoices_.begin()));
  view_.SetTip(TipFor(view_.SelectedRouteItem()));

  if (lastType == kTunnelPptp || lastType == kTunnelL2tp) view_.CheckTypeButton(lastType, true);

  BuildServerTable();
  // A service that never names OpenVPN gets the two buttons of old.
  openvpnOffered_ = std::any_of(servers_.begin(), servers_.end(),
                                [](const auto& item) { return Offers(item.second, kOpenVpnWord); });
  view_.ShowTypeButton(kTunnelOpenVpn, openvpnOffered_);
  if (lastType == kTunnelOpenVpn && openvpnOffered_) view_.CheckTypeButton(lastType, true);
  CreateTabs();
  if (!tabKeys_.empty()) {
    const uint32_t highest = static_cast<uint32_t>(tabKeys_.size() - 1);
    view_.SelectTab(static_cast<int>(std::min(lastTab, highest)));
  }
  FillServerList(lastServer);

  ApplyLayout();
  ports_.speedTest.Start();
}

void VpnPolicyController::FillRouteList() {
  routeChoices_.clear();
  auto add = [this](const std::wstring& text, const RouteSetChoice& choice) {
    view_.AddRouteItem(text, RouteSetCode(choice));
    routeChoices_.push_back(choice);
  };
  add(GetText("VpnRouteForAll"), RouteSetChoice::AllTraffic());
  add(GetText("VpnRouteForApp"), RouteSetChoice::Applications());
  for (size_t n = 0; n < answer_.routeSets.size(); ++n) {
    add(TrimText(answer_.routeSets[n].title), RouteSetChoice::ServiceSet(n));
  }
}

std::optional<RouteSetChoice> VpnPolicyController::RouteChoiceAt(int item) const {
  if (item < 0 || static_cast<size_t>(item) >= routeChoices_.size()) return std::nullopt;
  return routeChoices_[static_cast<size_t>(item)];
}

void VpnPolicyController::BuildServerTable() {
  servers_.clear();
  const std::vector<VpnServerEntry>& entries = answer_.servers;
  for (size_t n = 0; n < entries.size(); ++n) {
    PolicyServer server;
    server.entry = entries[n];
    server.position = static_cast<int32_t>(n);
    server.load = ParseServerLoad(server.entry.load);
    for (const std::wstring& category : server.entry.categories) {
      server.categories.insert(LowerAscii(category));
    }
    if (!Measurable(server)) server.echoSpeed = server.ntpSpeed = kSpeedNoAnswer;
    // A later entry with the same id replaces the earlier one.
    servers_[server.entry.serverId] = std::move(server);
  }
}

void VpnPolicyController::CreateTabs() {
  tabKeys_.clear();
  std::set<std::wstring> used;
  for (const auto& [id, server] : servers_) used.insert(server.categories.begin(), server.categories.end());
  for (const RegionTab& tab : kRegionTabs) {
    const std::string key = tab.key;
    if (!used.count(std::wstring(key.begin(), key.end()))) continue;
    view_.AddTab(GetText(tab.caption), tab.image);
    tabKeys_.push_back(key);
  }
}

void VpnPolicyController::FillServerList(std::optional<int32_t> selectId) {
  if (!selectId) selectId = view_.SelectedServerId();
  view_.DeleteAllServerRows();

  const int tab = view_.CurrentTab();
  const bool hasKey = tab >= 0 && static_cast<size_t>(tab) < tabKeys_.size();
  const std::string key = hasKey ? tabKeys_[static_cast<size_t>(tab)] : std::string();
  const std::wstring wideKey(key.begin(), key.end());

  std::vector<SpeedProbeTarget> echoQueue;
  std::vector<SpeedProbeTarget> ntpQueue;
  int32_t row = 0;
  for (auto& [id, server] : servers_) {
    const bool belongs = hasKey && (key == kEveryCategory || server.categories.count(wideKey));
    if (belongs) {
      view_.AppendServerRow(
          id, {server.entry.title, server.entry.comment,
               SpeedCellText(server.echoSpeed, server.ntpSpeed), LoadCellText(server.load)});
      server.listRow = row++;
    } else {
      server.listRow = -1;
    }
    if (id <= 0) continue;
    if (server.echoSpeed == kSpeedToBeTested) echoQueue.push_back({id, server.entry.serverHost});
    if (server.ntpSpeed == kSpeedToBeTested) ntpQueue.push_back({id, server.entry.serverHost});
  }
  ports_.speedTest.ReplaceQueues(std::move(echoQueue), std::move(ntpQueue));

  view_.SortServerRows();
  RenumberRows();

  if (selectId) {
    const auto found = servers_.find(*selectId);
    if (found != servers_.end() && found->second.listRow >= 0) {
      refilling_ = true;
      view_.SelectServerRow(found->second.listRow);
      refilling_ = false;
    }
  }
  // The selection may have gone with the rows.
  UpdatePptpHint();
}

void VpnPolicyController::RenumberRows() {
  for (auto& [id, server] : servers_) server.listRow = -1;
  const std::vector<int32_t> ids = view_.ServerRowIds();
  for (size_t row = 0; row < ids.size(); ++row) {
    const auto found = servers_.find(ids[row]);
    if (found != servers_.end()) found->second.listRow = static_cast<int32_t>(row);
  }
}

void VpnPolicyController::OnServerRowsSorted() { RenumberRows(); }

std::wstring VpnPolicyController::TipFor(int item) const {
  const std::optional<RouteSetChoice> choice = RouteChoiceAt(item);
  if (!choice) return GetText("VpnRoutesTipPleaseSelect");
  switch (choice->kind) {
    case RouteSetKind::kAllTraffic:
      return GetText("VpnRouteForAll") + L": " + GetText("VpnRoutesTipForAll");
    case RouteSetKind::kApplications:
      return GetText("VpnRouteForApp") + L": " + GetText("VpnRoutesTipForApp");
    case RouteSetKind::kServiceSet:
      break;
  }
  const RouteSetEntry& set = answer_.routeSets[choice->index];
  return TrimText(set.title) + L": " + set.comment;
}

void VpnPolicyController::ApplyLayout() {
  const std::optional<RouteSetChoice> choice = RouteChoiceAt(view_.SelectedRouteItem());
  view_.ShowApplicationLayout(choice && choice->kind == RouteSetKind::kApplications);
}

void VpnPolicyController::OnRouteSelectionChanged() {
  view_.SetTip(TipFor(view_.SelectedRouteItem()));
  ApplyLayout();
}

void VpnPolicyController::OnRouteHover(int item) {
  const bool overItem = RouteChoiceAt(item).has_value();
  view_.SetTip(TipFor(overItem ? item : view_.SelectedRouteItem()));
}

void VpnPolicyController::UpdateTypeButtons(const PolicyServer& server, bool tell) {
  const std::wstring& protocols = server.entry.protocols;
  const struct {
    int32_t type;
    const wchar_t* word;
  } kinds[] = {{kTunnelPptp, kPptpWord}, {kTunnelL2tp, kL2tpWord}, {kTunnelOpenVpn, kOpenVpnWord}};
  for (const auto& kind : kinds) {
    const bool offered = protocols.find(kind.word) != std::wstring::npos;
    view_.EnableTypeButton(kind.type, offered);
    if (!offered) view_.CheckTypeButton(kind.type, false);
  }
  UpdatePptpHint();
  if (protocols.empty() && tell && !telling_) {
    telling_ = true;
    view_.ShowMessage(GetText("ChosenVpnServerHaveNoVpnTypeTryAnother"));
    telling_ = false;
  }
}

// Shown while PPTP is the choice and the selected server offers a safer type. A service that
// never offers OpenVPN gets the dialog exactly as it always was, so no hint there.
void VpnPolicyController::UpdatePptpHint() {
  const std::optional<int32_t> id = view_.SelectedServerId();
  const auto found = id ? servers_.find(*id) : servers_.end();
  const bool pptp = view_.IsTypeButtonChecked(kTunnelPptp) && view_.IsTypeButtonEnabled(kTunnelPptp);
  view_.ShowPptpHint(openvpnOffered_ && pptp && found != servers_.end() &&
                     (Offers(found->second, kL2tpWord) || Offers(found->second, kOpenVpnWord)));
}

void VpnPolicyController::OnTypeButtonClicked() { UpdatePptpHint(); }

void VpnPolicyController::OnServerSelected() {
  const std::optional<int32_t> id = view_.SelectedServerId();
  if (!id) return;
  const auto found = servers_.find(*id);
  if (found != servers_.end()) UpdateTypeButtons(found->second, !refilling_);
}

void VpnPolicyController::OnTabChanged() { FillServerList(std::nullopt); }

// A server a worker holds (-2) keeps that state: the worker's result is on its way and is as
// fresh as a new measurement would be.
void VpnPolicyController::OnRetest() {
  for (auto& [id, server] : servers_) {
    if (server.listRow < 0 || !Measurable(server)) continue;
    if (server.echoSpeed != kSpeedTesting) server.echoSpeed = kSpeedToBeTested;
    if (server.ntpSpeed != kSpeedTesting) server.ntpSpeed = kSpeedToBeTested;
  }
  FillServerList(std::nullopt);
}

void VpnPolicyController::OnSpeedResult(uint32_t message, int32_t serverId, int32_t value) {
  const auto found = servers_.find(serverId);
  if (found == servers_.end()) return;
  PolicyServer& server = found->second;
  if (message == kEchoSpeedMessage) {
    server.echoSpeed = value;
  } else if (message == kNtpSpeedMessage) {
    server.ntpSpeed = value;
  } else {
    return;
  }
  if (server.listRow >= 0) {
    view_.SetSpeedCell(server.listRow, SpeedCellText(server.echoSpeed, server.ntpSpeed));
  }
}

int VpnPolicyController::CompareServers(int32_t a, int32_t b, int column) const {
  const auto first = servers_.find(a);
  const auto second = servers_.find(b);
  if (first == servers_.end() || second == servers_.end()) return 0;
  const PolicyServer& x = first->second;
  const PolicyServer& y = second->second;
  switch (column) {
    case kColumnName:
      return Sign(textOrder_(x.entry.title, y.entry.title));
    case kColumnComment:
      return Sign(textOrder_(x.entry.comment, y.entry.comment));
    case kColumnSpeed:
      return CompareSpeedCells(SpeedCellText(x.echoSpeed, x.ntpSpeed),
                               SpeedCellText(y.echoSpeed, y.ntpSpeed));
    case kColumnLoad:
      return x.load < y.load ? -1 : (y.load < x.load ? 1 : 0);
    default:
      return 0;
  }
}

int32_t VpnPolicyController::ChosenTunnelType() const {
  if (view_.IsTypeButtonChecked(kTunnelL2tp) && view_.IsTypeButtonEnabled(kTunnelL2tp)) {
    return kTunnelL2tp;
  }
  if (view_.IsTypeButtonChecked(kTunnelPptp) && view_.IsTypeButtonEnabled(kTunnelPptp)) {
    return kTunnelPptp;
  }
  if (view_.IsTypeButtonChecked(kTunnelOpenVpn) && view_.IsTypeButtonEnabled(kTunnelOpenVpn)) {
    return kTunnelOpenVpn;
  }
  return kTunnelNone;
}

// Each check leaves what the steps before it wrote: the route choice is remembered even when no
// server is chosen yet, so the next login starts from it.
void VpnPolicyController::OnOk() {
  const std::optional<RouteSetChoice> route = RouteChoiceAt(view_.SelectedRouteItem());
  if (!route) {
    view_.ShowMessage(GetText("YouHavenotChosenVpnRoute"));
    return;
  }
  if (route->kind == RouteSetKind::kApplications) {
    if (!ports_.bindModule.IsLoaded(kBindModuleFile)) {
      view_.ShowMessage(GetText("AcceleratorModuleIsNotRegisteredGetFullVersion"));
      return;
    }
    if (!view_.SaveApplicationChecks()) {
      view_.ShowMessage(GetText("YouHavenotChosenVpnApp"));
      return;
    }
  }
  ports_.settings.SetLastVpnRouteIndex(RouteSetCode(route));

  const std::optional<int32_t> id = view_.SelectedServerId();
  const auto found = id ? servers_.find(*id) : servers_.end();
  if (found == servers_.end()) {
    view_.ShowMessage(GetText("YouHavenotChosenVpnServer"));
    return;
  }
  ports_.settings.SetLastVpnServerId(found->first);
  ports_.settings.SetLastVpnTabGroupIndex(static_cast<uint32_t>(std::max(view_.CurrentTab(), 0)));

  const int32_t type = ChosenTunnelType();
  if (type == kTunnelNone) {
    view_.ShowMessage(GetText("YouHavenotChosenVpnType"));
    return;
  }
  ports_.settings.SetVpnType(type);
  StopSpeedTest();

  if (type == kTunnelOpenVpn &&
      !PrepareOpenVpnComponents(ports_.openvpn, ports_.moduleFolder,
                                [this](const char* key) { view_.ShowMessage(GetText(key)); })) {
    return;
  }

  if (type == kTunnelL2tp) {
    ports_.l2tp.Prepare([this] { return view_.AskYesNo(GetText("FirstL2TPTipForceYesOrNo")); });
  }
  // The results change only here, so a cancelled run leaves the caller's choice as it was.
  choice_.routes = route;
  choice_.server = found->second.entry;
  choice_.tunnelType = type;
  view_.EndDialog(true);
}

void VpnPolicyController::OnCancel() {
  StopSpeedTest();
  view_.EndDialog(false);
}

void VpnPolicyController::StopSpeedTest() { ports_.speedTest.Stop(); }
