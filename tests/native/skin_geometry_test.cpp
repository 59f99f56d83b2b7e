#include "skin/skin_geometry.h"

#include <gtest/gtest.h>

#include "skin/busy_bar_layout.h"

namespace {

SkinPart Part(int32_t w, int32_t h) { return SkinPart{"P", 10, 20, 10 + w, 20 + h, 0}; }

TEST(PlacePart, NaturalSizeCentringAndRefusals) {
  EXPECT_EQ(PlacePart(Part(13, 13), {5, 6, 5, 6}, kSkinNaturalSize), (SkinRect{5, 6, 18, 19}));
  EXPECT_EQ(PlacePart(Part(13, 13), {0, 0, 50, 30}, kSkinNaturalSize),
            (SkinRect{0, 0, 50, 30}));
  // Odd sizes keep their size when centred.
  EXPECT_EQ(PlacePart(Part(13, 7), {0, 0, 40, 20}, kSkinCenterHorizontal | kSkinCenterVertical),
            (SkinRect{14, 7, 27, 14}));
  EXPECT_FALSE(PlacePart(Part(4, 4), {10, 0, 9, 5}, 0));
  EXPECT_FALSE(PlacePart(SkinPartTable::EmptyPart(), {0, 0, 10, 10}, 0));
}

TEST(PlacePart, SourceIsClippedToTheImage) {
  // The frame's right-hand parts reach one column past a 339-pixel image.
  const SkinPart right{"WindowPictureTopRight", 330, 0, 340, 47, 3};
  EXPECT_EQ(ClipPartToImage(right, {339, 71}), (SkinRect{330, 0, 339, 47}));
  EXPECT_EQ(ClipPartToImage(right, {0, 0}), (SkinRect{0, 0, 0, 0}));
}

TEST(TextWithIcon, LeftCentredAndVerticallyCentred) {
  const SkinRect cell{0, 0, 100, 20};
  const auto left = LayoutTextWithIcon(cell, {12, 12}, 30, kIconLeft | kIconTop);
  EXPECT_EQ(left.icon, (SkinRect{0, 0, 12, 12}));
  EXPECT_EQ(left.text.left, 16);
  EXPECT_FALSE(left.singleLineCentered);
  const auto centred = LayoutTextWithIcon(cell, {12, 12}, 30, kIconCenterWithText |
                                                                  kIconCenterVertical);
  EXPECT_EQ(centred.icon, (SkinRect{27, 4, 39, 16}));
  EXPECT_EQ(centred.text.left, 43);
  EXPECT_TRUE(centred.singleLineCentered);
}

TEST(ButtonContent, IconAndTextCentredTogetherAndShiftedWhenPushed) {
  const SkinRect item{60, 335, 160, 362};
  const auto up = LayoutButtonContent(item, SkinSize{18, 18}, 40, false);
  ASSERT_TRUE(up.icon);
  EXPECT_EQ(*up.icon, (SkinRect{81, 339, 99, 357}));
  EXPECT_EQ(up.text.left, 103);
  const auto down = LayoutButtonContent(item, SkinSize{18, 18}, 40, true);
  EXPECT_EQ(*down.icon, up.icon->Offset(1, 1));
  EXPECT_EQ(down.text, up.text.Offset(1, 1));
  const auto plain = LayoutButtonContent(item, std::nullopt, 40, false);
  EXPECT_FALSE(plain.icon);
  EXPECT_EQ(plain.text, item);
}

TEST(SystemButtons, RightToLeftWithTheTitleBandEndingAtTheFirst) {
  const auto none = LayoutSystemButtons(720, {}, 0, 8, 0, 25);
  EXPECT_EQ(none.titleBand, (SkinRect{0, 0, 712, 25}));

  const auto all = LayoutSystemButtons(400, {{27, 19}, {30, 19}, {29, 19}}, 0, 8, 0, 25);
  EXPECT_EQ(all.buttons[2], (SkinRect{363, 0, 392, 19}));  // close, 8 from the edge
  EXPECT_EQ(all.buttons[1], (SkinRect{333, 0, 363, 19}));
  EXPECT_EQ(all.buttons[0], (SkinRect{306, 0, 333, 19}));  // minimize leftmost
  EXPECT_EQ(all.titleBand.right, 306);

  const auto spaced = LayoutSystemButtons(327, {{27, 19}, {29, 19}}, 2, 8, 3, 30);
  EXPECT_EQ(spaced.buttons[1], (SkinRect{290, 2, 319, 21}));
  EXPECT_EQ(spaced.buttons[0], (SkinRect{260, 2, 287, 21}));
  EXPECT_EQ(spaced.titleBand, (SkinRect{0, 0, 257, 30}));
}

TEST(ScrollThumb, LengthMinimumAndPosition) {
  // 100 rows, 10 visible, a 200-pixel track after the arrows.
  EXPECT_EQ(ComputeScrollThumb(17, 200, 0, 99, 10, 0), (ScrollThumb{17, 20}));
  EXPECT_EQ(ComputeScrollThumb(17, 200, 0, 99, 10, 90), (ScrollThumb{197, 20}));
  EXPECT_EQ(ComputeScrollThumb(17, 200, 0, 99, 10, 45), (ScrollThumb{107, 20}));
  // A huge range still leaves a thumb that can be grabbed.
  EXPECT_EQ(ComputeScrollThumb(0, 100, 0, 9999, 1, 0)->length, 6);
  // A position past the end is pulled back inside the track.
  EXPECT_EQ(ComputeScrollThumb(0, 100, 0, 9, 5, 50)->start, 50);
  // Everything visible, or no range: no thumb.
  EXPECT_FALSE(ComputeScrollThumb(0, 100, 0, 9, 11, 0));
  EXPECT_FALSE(ComputeScrollThumb(0, 100, 0, 2147483647, 1, 0));
  EXPECT_FALSE(ComputeScrollThumb(0, 0, 0, 99, 10, 0));
}

TEST(ScrollThumb, DraggingMapsBackToPositions) {
  const auto thumb = ComputeScrollThumb(17, 200, 0, 99, 10, 0);
  for (int32_t position : {0, 1, 45, 90}) {
    const auto at = ComputeScrollThumb(17, 200, 0, 99, 10, position);
    EXPECT_EQ(ScrollPositionForThumb(17, 200, 0, 99, 10, thumb->length, at->start), position);
  }
  EXPECT_EQ(ScrollPositionForThumb(17, 200, 0, 99, 10, 20, 5000), 90);
  EXPECT_EQ(ScrollPositionForThumb(17, 200, 0, 99, 10, 20, -50), 0);
}

TEST(Tabs, HeightByDpiLayoutAndClamping) {
  EXPECT_EQ(TabHeightForDpi(96), 20);
  EXPECT_EQ(TabHeightForDpi(120), 25);
  EXPECT_EQ(TabHeightForDpi(144), 30);
  const auto tabs = LayoutTabs({40, 24}, 100, 20);
  EXPECT_EQ(tabs[0], (SkinRect{102, 0, 174, 20}));
  EXPECT_EQ(tabs[1], (SkinRect{174, 0, 230, 20}));
  EXPECT_EQ(ClampTabIndex(5, 3), 2);
  EXPECT_EQ(ClampTabIndex(-4, 3), 0);
  EXPECT_EQ(ClampTabIndex(0, 0), -1);
}

TEST(CustomBackground, FieldsAndDefaults) {
  const auto main = ParseCustomBackground(L"DlgVpnMain,0,0");
  ASSERT_TRUE(main);
  EXPECT_EQ(main->suffix, "DlgVpnMain");
  EXPECT_EQ(main->width, 0);
  const auto sized = ParseCustomBackground(L" Logo , 12, 30 ,64,20");
  EXPECT_EQ(sized->suffix, "Logo");
  EXPECT_EQ(sized->x, 12);
  EXPECT_EQ(sized->height, 20);
  EXPECT_FALSE(ParseCustomBackground(L""));
}

TEST(BusyBar, TrainPositionsAndReset) {
  // 300 pixels of content, 18-pixel blocks: 16 fit, so 100 steps move 16 * 99 / 100 = 15
  // pitches of 20 pixels and the leading block stands at the right edge.
  const BusyBarFrame at100 = ComputeBusyBarFrame(2, 302, 18, 100, 20);
  ASSERT_FALSE(at100.blocks.empty());
  EXPECT_EQ(at100.blocks[0], (BusyBarBlock{302, 302}));
  EXPECT_EQ(at100.blocks[1], (BusyBarBlock{282, 300}));
  EXPECT_EQ(at100.blocks.size(), 16u);
  EXPECT_FALSE(at100.resetStep);

  const BusyBarFrame first = ComputeBusyBarFrame(2, 302, 18, 1, 20);
  ASSERT_EQ(first.blocks.size(), 1u);
  EXPECT_EQ(first.blocks[0], (BusyBarBlock{2, 20}));
  EXPECT_TRUE(ComputeBusyBarFrame(2, 302, 18, 0, 20).blocks.empty());
  EXPECT_TRUE(ComputeBusyBarFrame(2, 302, 0, 50, 20).blocks.empty());

  // The step is reset once the last block has gone far past the right edge.
  uint32_t step = 1;
  while (!ComputeBusyBarFrame(2, 302, 18, step, 20).resetStep) ++step;
  const BusyBarFrame last = ComputeBusyBarFrame(2, 302, 18, step - 1, 20);
  EXPECT_TRUE(last.blocks.empty());
  EXPECT_GT(step, 100u);
  EXPECT_EQ(ClassicBusyBlockWidth(14), 10);
}

}  // namespace
