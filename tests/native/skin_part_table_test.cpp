#include "skin/skin_part_table.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const SkinPart& part, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  EXPECT_EQ(part.left, left) << part.name;
  EXPECT_EQ(part.top, top) << part.name;
  EXPECT_EQ(part.right, right) << part.name;
  EXPECT_EQ(part.bottom, bottom) << part.name;
}

TEST(SkinPartGrammar, FractionsPickColumnsAndRows) {
  SkinPartTable table;
  table.AddPartList("TabButtonMiddleInactive,1/8\nTabButtonRightInactive,1/4\n", 8, 24, 24);
  ExpectRect(table.Find("TabButtonMiddleInactive"), 3, 0, 6, 24);
  ExpectRect(table.Find("TabButtonRightInactive"), 6, 0, 12, 24);

  table.AddPartList("ButtonPushed,2/4,0/2\nCancelButtonDisabled,3/4,1/2", 4, 352, 56);
  ExpectRect(table.Find("ButtonPushed"), 176, 0, 264, 28);
  ExpectRect(table.Find("CancelButtonDisabled"), 264, 28, 352, 56);
  EXPECT_EQ(table.Find("ButtonPushed").image, 4);
}

TEST(SkinPartGrammar, ExplicitRectanglesAndPartialLines) {
  SkinPartTable table;
  table.AddPartList(
      "WindowPictureBottom,14,60,100,11\nWindowPictureDlgVpnMain\n  Shifted , 0x10 \n"
      "Octal,010,2\n",
      3, 339, 71);
  ExpectRect(table.Find("WindowPictureBottom"), 14, 60, 114, 71);
  ExpectRect(table.Find("WindowPictureDlgVpnMain"), 0, 0, 339, 71);
  // A plain x alone moves the left edge and keeps the right one at the image's width.
  ExpectRect(table.Find("Shifted"), 16, 0, 339, 71);
  ExpectRect(table.Find("Octal"), 8, 2, 339, 71);
  // A fractional width or height is a share of the image.
  ExpectRect(ParseSkinPartLine("Half,10,4,1/2,1/4", 0, 100, 40), 10, 4, 60, 14);
}

TEST(SkinPartGrammar, ReadingStopsAtBlankLinesAndEmptyFields) {
  SkinPartTable table;
  table.AddPartList("\n\nFirst,1/2\nCut,5,,7,7\n   \nNeverRead\n", 0, 20, 10);
  EXPECT_TRUE(table.Contains("First"));
  ExpectRect(table.Find("Cut"), 5, 0, 20, 10);
  EXPECT_FALSE(table.Contains("NeverRead"));
  EXPECT_EQ(table.size(), 2u);
}

TEST(SkinPartGrammar, ZeroDenominatorLeavesTheFieldOut) {
  ExpectRect(ParseSkinPartLine("Broken,1/0,2", 0, 30, 20), 0, 2, 30, 20);
}

TEST(SkinPartTable, RepeatedNameMovesToTheNewerImageAndMissesAreEmpty) {
  SkinPartTable table;
  table.AddPartList("Shared,0/2\nOnlyOld\n", 0, 10, 10);
  table.AddPartList("Shared\n", 1, 40, 20);
  EXPECT_EQ(table.Find("Shared").image, 1);
  ExpectRect(table.Find("Shared"), 0, 0, 40, 20);
  EXPECT_EQ(table.Find("OnlyOld").image, 0);

  table.AddPartList("IconSpeedTestGood,0/5\n", 2, 60, 12);
  EXPECT_EQ(table.Find("IconSpeedTest", "Good").Width(), 12);
  const SkinPart& missing = table.Find("IconSpeedTest", "Unknown");
  EXPECT_TRUE(missing.IsEmpty());
  EXPECT_EQ(&missing, &SkinPartTable::EmptyPart());
  EXPECT_EQ(missing.image, -1);
}

}  // namespace
