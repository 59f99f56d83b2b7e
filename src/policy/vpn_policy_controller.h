// The decisions of the policy dialog, apart from its window: what the route list, the type
// buttons, the region tabs and the server list show, how measurements reach the server list, and
// the checks of OK with the settings each writes. The dialog is a VpnPolicyView; tests use a
// fake one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/route_set_code.h"
#include "config/settings_store.h"
#include "policy/bind_module.h"
#include "policy/l2tp_preparation.h"
#include "policy/speed_test.h"
#include "service/policy_chooser.h"
#include "service/server_response.h"
#include "vpn/open_vpn_components.h"

inline constexpr int32_t kTunnelNone = 0;
inline constexpr int32_t kTunnelPptp = 1;
inline constexpr int32_t kTunnelL2tp = 2;
// Offered only by services whose servers name "openvpn"; OK checks its components first.
inline constexpr int32_t kTunnelOpenVpn = 3;

// Server list columns.
enum ServerColumn { kColumnName = 0, kColumnComment = 1, kColumnSpeed = 2, kColumnLoad = 3 };

// One server of the login response as the dialog keeps it.
struct PolicyServer {
  VpnServerEntry entry;
  int32_t position = -1;  // index in the response's server enumeration
  int32_t listRow = -1;   // row in the server list, -1 when not shown in the current tab
  double load = 0.5;
  std::set<std::wstring> categories;  // lower-cased
  int32_t echoSpeed = -3;
  int32_t ntpSpeed = -3;
};

// The dialog's controls as the controller sees them. Route items and rows are indices; rows
// carry their server id.
class VpnPolicyView {
 public:
  virtual ~VpnPolicyView() = default;

  // `code` is the choice's number as the settings keep it (config/route_set_code.h).
  virtual void AddRouteItem(const std::wstring& text, int32_t code) = 0;
  virtual void SelectRouteItem(int index) = 0;
  virtual int SelectedRouteItem() const = 0;  // -1 when none
  virtual void SetTip(const std::wstring& text) = 0;

  // `type` is kTunnelPptp, kTunnelL2tp or kTunnelOpenVpn.
  virtual void CheckTypeButton(int32_t type, bool checked) = 0;
  virtual bool IsTypeButtonChecked(int32_t type) const = 0;
  virtual void EnableTypeButton(int32_t type, bool enabled) = 0;
  virtual bool IsTypeButtonEnabled(int32_t type) const = 0;
  // The OpenVPN button is hidden until the controller shows it.
  virtual void ShowTypeButton(int32_t type, bool shown) = 0;
  // The line under the type buttons that calls PPTP the least safe choice.
  virtual void ShowPptpHint(bool shown) = 0;

  virtual void AddTab(const std::wstring& caption, const std::string& image) = 0;
  virtual void SelectTab(int index) = 0;
  virtual int CurrentTab() const = 0;  // -1 when there are no tabs

  virtual void DeleteAllServerRows() = 0;
  virtual void AppendServerRow(int32_t serverId, const std::array<std::wstring, 4>& cells) = 0;
  // Sorts by the list's current sort column and direction through CompareServers.
  virtual void SortServerRows() = 0;
  virtual std::vector<int32_t> ServerRowIds() const = 0;
  // Selects the row and scrolls it into view. A selection made here is reported back through
  // OnServerSelected like one made by the user.
  virtual void SelectServerRow(int row) = 0;
  virtual std::optional<int32_t> SelectedServerId() const = 0;
  virtual void SetSpeedCell(int row, const std::wstring& text) = 0;

  // Region tabs shortened and the application list shown (true), or the tabs at full height.
  virtual void ShowApplicationLayout(bool applications) = 0;
  // Writes every application's check state to the application list file; true when at least
  // one application is checked.
  virtual bool SaveApplicationChecks() = 0;

  virtual void ShowMessage(const std::wstring& text) = 0;
  virtual bool AskYesNo(const std::wstring& text) = 0;
  virtual void EndDialog(bool ok) = 0;
};

class VpnPolicyController {
 public:
  struct Ports {
    SettingsStore& settings;
    BindModule& bindModule;
    SpeedTestControl& speedTest;
    L2tpPreparation& l2tp;
    OpenVpnComponents& openvpn;
    // The program's own folder, ending with a backslash; the OpenVPN components live below it.
    std::wstring moduleFolder;
  };
  // Case-insensitive order of two texts (names and comments); the system's on Windows.
  using TextOrder = std::function<int(const std::wstring&, const std::wstring&)>;

  // `answer` is the login's, as received.
  VpnPolicyController(VpnPolicyView& view, Ports ports, ServiceAnswer answer,
                      TextOrder textOrder = {});

  // Fills every control from the settings and the answer, then starts the speed test.
  void Start();

  void OnRouteSelectionChanged();
  // The cursor over route item `item`, or off the list (-1): the tip follows it, and falls
  // back to the selected item's.
  void OnRouteHover(int item);
  void OnServerSelected();
  // The user checked one of the type buttons.
  void OnTypeButtonClicked();
  void OnTabChanged();
  void OnRetest();
  // A measurement posted by a worker of the speed test.
  void OnSpeedResult(uint32_t message, int32_t serverId, int32_t value);
  // After the server list sorted itself (a header click).
  void OnServerRowsSorted();
  // OK: the checks in order; closes the dialog when all pass.
  void OnOk();
  void OnCancel();

  // Negative when server `a` goes before `b` in ascending order of `column`.
  int CompareServers(int32_t a, int32_t b, int column) const;

  // Valid once the dialog ended with OK.
  const PolicyChoice& choice() const { return choice_; }

  const std::map<int32_t, PolicyServer>& servers() const { return servers_; }
  const std::vector<std::string>& tabKeys() const { return tabKeys_; }
  const std::vector<RouteSetChoice>& routeChoices() const { return routeChoices_; }
  std::wstring TipFor(int item) const;

 private:
  void FillRouteList();
  void BuildServerTable();
  void CreateTabs();
  // Refills the list for the current tab; selects `selectId` when it is shown.
  void FillServerList(std::optional<int32_t> selectId);
  void RenumberRows();
  void ApplyLayout();
  // `tell`: say so in a box when the server offers no tunnel type.
  void UpdateTypeButtons(const PolicyServer& server, bool tell);
  void UpdatePptpHint();
  int32_t ChosenTunnelType() const;
  void StopSpeedTest();

  // The route choice of list item `item`; empty when there is no such item.
  std::optional<RouteSetChoice> RouteChoiceAt(int item) const;

  VpnPolicyView& view_;
  Ports ports_;
  ServiceAnswer answer_;
  TextOrder textOrder_;

  std::vector<RouteSetChoice> routeChoices_;  // per route-list item
  std::map<int32_t, PolicyServer> servers_;
  std::vector<std::string> tabKeys_;
  bool openvpnOffered_ = false;  // some server of the response names "openvpn"

  PolicyChoice choice_;
  // The list is being refilled (start, retest, tab change): the selection it restores is not
  // the user's, and a box about it would repeat what the user has already been told.
  bool refilling_ = false;
  bool telling_ = false;  // the no-tunnel-type box is open
};
