#include "skin/skin_scale.h"

#include <gtest/gtest.h>

#include "skin/skin_artwork.h"
#include "skin/skin_startup_table.h"

namespace {

TEST(SkinScale, RoundsToTheNearestPixelAtTheCommonScales) {
  // 125 %, 150 %, 175 %, 200 %: halves go away from zero, so a negative font height scales to
  // the same size as a positive one.
  EXPECT_EQ(ScaleForDpi(27, 120), 34);   // 33.75
  EXPECT_EQ(ScaleForDpi(9, 144), 14);    // 13.5
  EXPECT_EQ(ScaleForDpi(-9, 144), -14);
  EXPECT_EQ(ScaleForDpi(-12, 168), -21);
  EXPECT_EQ(ScaleForDpi(15, 168), 26);   // 26.25
  EXPECT_EQ(ScaleForDpi(327, 192), 654);
  EXPECT_EQ(ScaleForDpi(327, 96), 327);
  EXPECT_EQ(ScaleForPercent(19, 150), 29);  // 28.5
}

TEST(SkinScale, RectanglesThatTouchKeepTouching) {
  // The main window's five buttons along the bottom, 5 pixels apart, and a row of cells that
  // abut: scaled edge by edge, the gaps and joins survive at every DPI.
  for (int dpi : {96, 120, 144, 168, 192}) {
    SkinRect previous = ScaleRectForDpi({15, 410, 70, 459}, dpi);
    for (int i = 1; i < 5; ++i) {
      const SkinRect next = ScaleRectForDpi({15 + 60 * i, 410, 70 + 60 * i, 459}, dpi);
      EXPECT_GT(next.left, previous.right) << dpi;
      EXPECT_EQ(next.top, previous.top);
      EXPECT_EQ(next.bottom, previous.bottom);
      previous = next;
    }
    const SkinRect a = ScaleRectForDpi({0, 0, 27, 19}, dpi);
    const SkinRect b = ScaleRectForDpi({27, 0, 54, 19}, dpi);
    EXPECT_EQ(a.right, b.left) << dpi;
    EXPECT_LE(std::abs(a.Width() - b.Width()), 1) << dpi;
  }
}

TEST(SkinScale, ArtworkIsTheExactOrNextLargerSet) {
  EXPECT_EQ(ChooseArtworkScale(96), 100);
  EXPECT_EQ(ChooseArtworkScale(72), 100);
  EXPECT_EQ(ChooseArtworkScale(120), 150);  // shrunk from 150, never stretched from 100
  EXPECT_EQ(ChooseArtworkScale(144), 150);
  EXPECT_EQ(ChooseArtworkScale(145), 200);
  EXPECT_EQ(ChooseArtworkScale(168), 200);
  EXPECT_EQ(ChooseArtworkScale(192), 200);
  EXPECT_EQ(ChooseArtworkScale(288), 200);  // nothing larger: the largest there is
  const int32_t onlyBase[] = {100};
  EXPECT_EQ(ChooseArtworkScale(192, onlyBase), 100);
}

TEST(SkinArtwork, PartsComeFromTheChosenSetWhereTheGridPutsThem) {
  SkinArtwork artwork;
  const std::string_view frame =
      "WindowPictureTopLeft,0,0,300,47\nWindowPictureBottom,14,60,100,11\n";
  artwork.AddImage(3, frame, {339, 71});
  artwork.AddImage(0, "SystemButtonMinimizeHovered,1/4\n", {108, 19});
  artwork.AddScale(3, 150, {509, 107});
  artwork.AddScale(0, 200, {216, 38});

  SkinPartTable parts;
  parts.AddPartList(frame, 3, 339, 71);
  parts.AddPartList("SystemButtonMinimizeHovered,1/4\n", 0, 108, 19);
  const SkinPart& bottom = parts.Find("WindowPictureBottom");

  // Explicit rectangles land where their edges went: 14..114 x 60..71 at 150 %.
  auto at120 = artwork.SourceFor(bottom, 120);
  ASSERT_TRUE(at120);
  EXPECT_EQ(at120->percent, 150);
  EXPECT_EQ(at120->source, (SkinRect{21, 90, 171, 107}));
  auto at96 = artwork.SourceFor(bottom, 96);
  EXPECT_EQ(at96->percent, 100);
  EXPECT_EQ(at96->source, (SkinRect{14, 60, 114, 71}));
  // No 200 % set of this picture: 192 DPI stretches the largest it has.
  EXPECT_EQ(artwork.SourceFor(bottom, 192)->percent, 150);

  // A grid part is its cell of the larger picture.
  const SkinPart& hovered = parts.Find("SystemButtonMinimizeHovered");
  EXPECT_EQ(artwork.SourceFor(hovered, 192)->source, (SkinRect{54, 0, 108, 38}));
  EXPECT_EQ(artwork.SourceFor(hovered, 144)->percent, 200);
  EXPECT_FALSE(artwork.SourceFor(SkinPartTable::EmptyPart(), 96));
  EXPECT_EQ(PartSizeForDpi(hovered, 144), (SkinSize{41, 29}));
}

TEST(SkinArtwork, LargerSetsKeepEveryGridCellForCell) {
  // Every startup picture's larger sets have whole cells, so "i/n" lines cut equal cells.
  for (const SkinStartupImage& image : SkinStartupImages()) {
    const ArtworkGrid grid = ArtworkGridOf(image.partList);
    for (int32_t percent : kArtworkScales) {
      const SkinSize size = ArtworkSizeForScale(image, percent);
      if (image.width % grid.columns == 0) EXPECT_EQ(size.width % grid.columns, 0) << image.file;
      if (image.height % grid.rows == 0) EXPECT_EQ(size.height % grid.rows, 0) << image.file;
    }
  }
  EXPECT_EQ(ArtworkGridOf("TabButtonLeftInactive,0/4\nTabButtonMiddleInactive,1/8\n"),
            (ArtworkGrid{8, 1}));
  EXPECT_EQ(ArtworkGridOf("Button,0/4,0/2\nWindowPictureTop,300,0,30,47\n"), (ArtworkGrid{4, 2}));
  EXPECT_EQ(ArtworkFileForScale("buttons.bmp", 150), "buttons_150.png");
  EXPECT_EQ(ArtworkFileForScale("frame.jpg", 200), "frame_200.jpg");
}

}  // namespace
