#include "policy/policy_dialog_layout.h"

#include <gtest/gtest.h>

#include "skin/skin_scale.h"

namespace {

bool Overlap(const SkinRect& a, const SkinRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// No control crosses the border lines of its group or runs into its title bar, and none covers
// another: at every common scale, in every state the type group can show.
TEST(PolicyDialogLayout, EveryControlStaysInsideItsGroup) {
  for (int dpi : {96, 120, 144, 168, 192}) {
    for (bool openVpn : {false, true}) {
      for (bool hint : {false, true}) {
        const PolicyDialogLayout layout = LayoutPolicyDialog(dpi, openVpn, false);
        for (const LayoutGroup& group : PolicyDialogGroups(layout, openVpn, hint)) {
          const SkinRect inside{1 + group.margin, group.titleHeight,
                                group.frame.Width() - 1 - group.margin,
                                group.frame.Height() - 1 - group.margin};
          for (const auto& [name, r] : group.children) {
            const std::string what = group.name + "/" + name + " at " + std::to_string(dpi) +
                                     (openVpn ? " with OpenVPN" : "") + (hint ? " and hint" : "");
            EXPECT_GE(r.left, inside.left) << what;
            EXPECT_GE(r.top, inside.top) << what;
            EXPECT_LE(r.right, inside.right) << what;
            EXPECT_LE(r.bottom, inside.bottom) << what;
            for (const auto& [other, o] : group.children) {
              if (other != name) EXPECT_FALSE(Overlap(r, o)) << what << " covers " << other;
            }
          }
          EXPECT_LE(group.frame.right, layout.window.width) << group.name;
          EXPECT_LE(group.frame.bottom, layout.window.height) << group.name;
        }
      }
    }
  }
}

TEST(PolicyDialogLayout, DesignedAt96AndScaledElsewhere) {
  const PolicyDialogLayout base = LayoutPolicyDialog(96, false, false);
  EXPECT_EQ(base.window, (SkinSize{720, 420}));
  EXPECT_EQ(base.pptp, (SkinRect{15, 40, 95, 55}));
  EXPECT_EQ(base.l2tp, (SkinRect{15, 70, 95, 85}));
  EXPECT_EQ(base.tabs, (SkinRect{150, 50, 690, 360}));
  EXPECT_EQ(LayoutPolicyDialog(96, false, true).tabs.Height(), 200);
  const PolicyDialogLayout large = LayoutPolicyDialog(144, false, true);
  EXPECT_EQ(large.window, (SkinSize{1080, 630}));
  EXPECT_EQ(large.tabs, (SkinRect{225, 75, 1035, 375}));
  EXPECT_EQ(large.tabBarHeight, 30);
}

}  // namespace
