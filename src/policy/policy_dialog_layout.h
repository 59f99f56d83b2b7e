// Where everything of the policy dialog goes, at any DPI: its 96-DPI layout scaled edge by edge.
// Portable, so that the native tests can check that no control crosses the border of the group
// it sits in, at every scale and in every state the dialog can show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "skin/skin_geometry.h"

struct PolicyDialogLayout {
  SkinSize window;
  SkinRect ok;
  SkinRect cancel;
  SkinRect tip;
  // Framed groups, in the dialog's client coordinates; their controls in the group's own.
  SkinRect routePanel;
  SkinRect routeList;
  SkinRect typePanel;
  SkinRect pptp;
  SkinRect pptpHint;  // the row under PPTP, kept for the hint whether it shows or not
  SkinRect l2tp;
  SkinRect openVpn;   // only when shown
  SkinRect tabs;      // its height follows whether the application list shows
  SkinRect applications;
  // The two windows on the tab bar; the tab control places them (left and right aligned).
  SkinSize serversTitle;
  SkinSize retest;
  int32_t panelTitleHeight = 0;  // the title bar of the two panels
  int32_t tabBarHeight = 0;      // the tab row; the framed body starts one pixel above its end
};

// The dialog at `dpi`. With OpenVPN the type group holds a third button: its rows move up and
// closer together, so the last one keeps its margin from the group's border.
PolicyDialogLayout LayoutPolicyDialog(int32_t dpi, bool openVpnShown, bool applicationsShown);

// One framed group and the rectangles of the controls it shows, for checking.
struct LayoutGroup {
  std::string name;
  SkinRect frame;        // in the dialog
  int32_t titleHeight;   // controls stay below it
  int32_t margin;        // and this far inside the border lines
  std::vector<std::pair<std::string, SkinRect>> children;  // in the group
};
std::vector<LayoutGroup> PolicyDialogGroups(const PolicyDialogLayout& layout, bool openVpnShown,
                                            bool hintShown);
