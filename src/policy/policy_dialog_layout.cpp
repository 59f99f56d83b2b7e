#include "policy/policy_dialog_layout.h"

#include "skin/skin_geometry.h"
#include "skin/skin_scale.h"

namespace {

// The panels' title bar is their title picture, 27 pixels high at 96 DPI.
constexpr int32_t kPanelTitleHeight = 27;

struct TypeRows {
  SkinRect pptp, hint, l2tp, openVpn;
};

// PPTP and L2TP where the design has them, the hint in the gap between; with a third button the
// rows close up under the title bar, 15 pixels each, so the last one ends 4 pixels above the
// group's bottom border (the group is 100 high).
constexpr TypeRows kTwoTypes = {{15, 40, 95, 55}, {32, 55, 118, 70}, {15, 70, 95, 85}, {}};
constexpr TypeRows kThreeTypes = {
    {15, 31, 95, 46}, {32, 46, 118, 61}, {15, 63, 95, 78}, {15, 80, 95, 95}};

}  // namespace

PolicyDialogLayout LayoutPolicyDialog(int32_t dpi, bool openVpnShown, bool applicationsShown) {
  const auto at = [dpi](const SkinRect& r) { return ScaleRectForDpi(r, dpi); };
  PolicyDialogLayout layout;
  layout.window = ScaleSizeForDpi({720, 420}, dpi);
  layout.ok = at({470, 375, 570, 405});
  layout.cancel = at({590, 375, 690, 405});
  layout.tip = at({22, 370, 462, 415});
  layout.routePanel = at({20, 50, 140, 250});
  layout.routeList = at({3, 28, 118, 198});
  layout.typePanel = at({20, 260, 140, 360});
  const TypeRows& rows = openVpnShown ? kThreeTypes : kTwoTypes;
  layout.pptp = at(rows.pptp);
  layout.pptpHint = at(rows.hint);
  layout.l2tp = at(rows.l2tp);
  layout.openVpn = openVpnShown ? at(rows.openVpn) : SkinRect{};
  // The tabs keep left, top and width; the list of applications takes the lower part.
  layout.tabs = at({150, 50, 690, applicationsShown ? 250 : 360});
  layout.applications = at({151, 261, 689, 359});
  layout.serversTitle = ScaleSizeForDpi({100, 20}, dpi);
  layout.retest = ScaleSizeForDpi({100, 20}, dpi);
  layout.panelTitleHeight = ScaleForDpi(kPanelTitleHeight, dpi);
  layout.tabBarHeight = TabHeightForDpi(dpi);
  return layout;
}

std::vector<LayoutGroup> PolicyDialogGroups(const PolicyDialogLayout& layout, bool openVpnShown,
                                            bool hintShown) {
  // A free pixel between every control and the border line, as the design has round the list.
  constexpr int32_t margin = 1;
  std::vector<LayoutGroup> groups;
  groups.push_back({"routes", layout.routePanel, layout.panelTitleHeight, margin,
                    {{"route list", layout.routeList}}});
  LayoutGroup types{"types", layout.typePanel, layout.panelTitleHeight, margin,
                    {{"PPTP", layout.pptp}, {"L2TP", layout.l2tp}}};
  if (hintShown) types.children.push_back({"PPTP hint", layout.pptpHint});
  if (openVpnShown) types.children.push_back({"OpenVPN", layout.openVpn});
  groups.push_back(std::move(types));
  // The tab body's frame runs along the page's edges; the page fills what lies inside it.
  const SkinRect tabs = layout.tabs;
  groups.push_back({"tabs", tabs, layout.tabBarHeight, 0,
                    {{"server list", {1, layout.tabBarHeight, tabs.Width() - 1,
                                      tabs.Height() - 1}}}});
  return groups;
}
