// The policy dialog: the route set, server and tunnel type of the next connection, with the
// speed test running behind the server list. Its decisions live in VpnPolicyController; this
// class is the skinned window that shows them.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "config/private_profile.h"
#include "config/settings_store.h"
#include "framework/dialog_win.h"
#include "framework/message_box_win.h"
#include "framework/window_message_target_win.h"
#include "policy/bind_module.h"
#include "policy/l2tp_preparation.h"
#include "policy/policy_dialog_layout.h"
#include "policy/speed_test.h"
#include "policy/vpn_app_list_ctrl_win.h"
#include "policy/vpn_policy_controller.h"
#include "policy/vpn_server_list_ctrl_win.h"
#include "service/policy_chooser.h"
#include "skin/skin_button_win.h"
#include "skin/skin_header_panel_win.h"
#include "skin/skin_list_box_win.h"
#include "skin/skin_list_ctrl_win.h"
#include "skin/skin_radio_box_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_tab_ctrl_win.h"
#include "skin/skin_window_win.h"
#include "vpn/open_vpn_components_win.h"

class CDlgVpnPolicy : public CDialog, private VpnPolicyView {
 public:
  static constexpr UINT kRouteListId = 1005;
  static constexpr UINT kAppListId = 1018;
  static constexpr UINT kPptpId = 1019;
  static constexpr UINT kL2tpId = 1020;
  static constexpr UINT kOpenVpnId = 1021;
  static constexpr UINT kServerListId = 1022;
  static constexpr UINT kRetestId = 1023;
  static constexpr UINT kPptpHintId = 1024;
  static constexpr UINT kRegionTabsId = 1032;
  static constexpr UINT kStaticId = 0xFFFF;

  struct Ports {
    // Reads the accelerated-application list.
    PrivateProfile& profile;
    SettingsStore& settings;
    BindModule& bindModule;
    RegistryKeyFactory& registry;
    BlockedOperationRunner& restarter;
    uint32_t osMajorVersion;
    EchoProbeFactory echoProbe;
    SpeedTest::Options speedTest;
    // The accelerated-application list; empty means "applist.ini" in the program data folder.
    std::wstring appListFile = {};
    // The dialog's boxes; plain ones when empty.
    MessageBoxFn messageBox = {};
  };

  // `answer` is the login's, as received; the dialog keeps its own copy.
  CDlgVpnPolicy(const ServiceAnswer& answer, Ports ports);
  ~CDlgVpnPolicy() override;

  // The three results; valid after the dialog ended with IDOK.
  const PolicyChoice& choice() const { return controller_->choice(); }
  // For tests and the preview: the logic behind the window, alive while the window is.
  VpnPolicyController* controller() { return controller_.get(); }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  bool OnCommand(UINT id, UINT notifyCode) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnDestroy() override;
  void LayoutForDpi(int dpi) override;

 private:
  // The route list, which tells the dialog where the cursor is before handling the message.
  class CRouteList : public CSkinListBox {
   public:
    std::function<void(int)> onHover;  // item index, -1 when the cursor left

   protected:
    bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  };

  void CreateControls();
  PolicyDialogLayout CurrentLayout() const;
  void ApplyLayout();
  void PaintApplicationFrame();

  // VpnPolicyView
  void AddRouteItem(const std::wstring& text, int32_t code) override;
  void SelectRouteItem(int index) override;
  int SelectedRouteItem() const override;
  void SetTip(const std::wstring& text) override;
  void CheckTypeButton(int32_t type, bool checked) override;
  bool IsTypeButtonChecked(int32_t type) const override;
  void EnableTypeButton(int32_t type, bool enabled) override;
  bool IsTypeButtonEnabled(int32_t type) const override;
  void ShowTypeButton(int32_t type, bool shown) override;
  void ShowPptpHint(bool shown) override;
  void AddTab(const std::wstring& caption, const std::string& image) override;
  void SelectTab(int index) override;
  int CurrentTab() const override;
  void DeleteAllServerRows() override;
  void AppendServerRow(int32_t serverId, const std::array<std::wstring, 4>& cells) override;
  void SortServerRows() override;
  std::vector<int32_t> ServerRowIds() const override;
  void SelectServerRow(int row) override;
  std::optional<int32_t> SelectedServerId() const override;
  void SetSpeedCell(int row, const std::wstring& text) override;
  void ShowApplicationLayout(bool applications) override;
  bool SaveApplicationChecks() override;
  void ShowMessage(const std::wstring& text) override;
  bool AskYesNo(const std::wstring& text) override;
  void EndDialog(bool ok) override;

  HWND TypeButton(int32_t type) const;

  Ports ports_;
  WindowMessageTarget target_;
  SpeedTest speedTest_;
  L2tpPreparation l2tp_;
  SystemOpenVpnComponents openvpn_;
  BlockedOpenVpnComponents blockedOpenvpn_{openvpn_, ports_.restarter};
  std::unique_ptr<VpnPolicyController> controller_;

  CSkinWindow frame_;
  CSkinButton ok_;
  CSkinButton cancel_;
  CSkinHeaderPanel routePanel_;
  CRouteList routeList_;
  CSkinHeaderPanel typePanel_;
  CSkinRadioBox pptp_;
  CSkinRadioBox l2tpButton_;
  CSkinRadioBox openvpnButton_;
  CSkinStatic pptpHint_;
  CSkinTabCtrl tabs_;
  CVpnServerListCtrl servers_;
  CSkinStatic serversTitle_;
  CSkinButton retest_{"LinkButton"};
  CVpnAppListCtrl applications_;
  CSkinStatic tip_;
  // What the layout depends on besides the DPI.
  int dpi_ = 96;
  bool openVpnShown_ = false;
  bool applicationsShown_ = false;
};
