#include "skin/skin_attributes.h"

#include <gtest/gtest.h>

namespace {

TEST(SkinAttributes, IndexingCreatesAndFindFallsBackToTheBareName) {
  CSkinAttributes set;
  EXPECT_EQ(set.FindInt("TextColor"), nullptr);
  EXPECT_EQ(set.IntAttribute("TextColor"), 0);
  EXPECT_NE(set.FindInt("TextColor"), nullptr);
  EXPECT_TRUE(set.TextAttribute("Title").empty());

  set.IntAttribute("TextColor") = 5;
  set.IntAttribute("TextColorHovered") = 7;
  EXPECT_EQ(set.FindInt("TextColor", "Hovered", -1), 7);
  EXPECT_EQ(set.FindInt("TextColor", "Disabled", -1), 5);
  EXPECT_EQ(set.FindInt("Cursor", "Hovered", -1), -1);
  set.TextAttribute("Align") = L"Left";
  EXPECT_EQ(set.FindText("Align", "Pushed", L"Center"), L"Left");
  EXPECT_EQ(set.FindText("VAlign", "", L"Center"), L"Center");
}

TEST(SkinAttributes, ControlsResolveOwnThenGlobalStyleThenDefault) {
  CSkinAttributes global;
  global.IntAttribute("LinkButtonTextColorHovered") = 0x0453EA;
  global.IntAttribute("ButtonTextColor") = 0xFFFFFF;
  global.TextAttribute("LinkButtonAlign") = L"Left";

  CSkinAttributes own;
  EXPECT_EQ(own.ResolveInt(global, "LinkButton", "TextColor", "Hovered", 1), 0x0453EA);
  EXPECT_EQ(own.ResolveInt(global, "LinkButton", "TextColor", "", 1), 1);
  EXPECT_EQ(own.ResolveInt(global, "Button", "TextColor", "Pushed", 1), 0xFFFFFF);
  EXPECT_EQ(own.ResolveText(global, "LinkButton", "Align", "Hovered", L"Center"), L"Left");
  EXPECT_EQ(own.ResolveText(global, "Button", "Align", "", L"Center"), L"Center");

  // The control's own value wins, with its state-specific one first.
  own.IntAttribute("TextColor") = 0x14FF;
  EXPECT_EQ(own.ResolveInt(global, "LinkButton", "TextColor", "Hovered", 1), 0x14FF);
  own.IntAttribute("TextColorHovered") = 3;
  EXPECT_EQ(own.ResolveInt(global, "LinkButton", "TextColor", "Hovered", 1), 3);
}

}  // namespace
