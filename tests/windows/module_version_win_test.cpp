#include "framework/module_version_win.h"

#include <gtest/gtest.h>

namespace {

TEST(ModuleVersionTest, ReadsASystemModulesVersion) {
  CModuleVersion version;
  ASSERT_TRUE(version.Load(L"kernel32.dll"));
  EXPECT_EQ(version.FixedFileInfo().dwSignature, 0xFEEF04BDu);
  EXPECT_NE(version.GetValue(L"FileVersion"), L"");
  EXPECT_EQ(version.GetValue(L"NoSuchValue"), L"");
}

TEST(ModuleVersionTest, NothingLoadedGivesNoValues) {
  CModuleVersion version;
  EXPECT_EQ(version.GetValue(L"FileVersion"), L"");
  EXPECT_EQ(version.Language(), 0);
  EXPECT_EQ(version.CodePage(), 1252);

  EXPECT_FALSE(version.Load(L"KavrinModuleNotLoaded.dll"));
  EXPECT_FALSE(version.Load(nullptr));  // this test program carries no version resource
  EXPECT_EQ(version.GetValue(L"FileVersion"), L"");
}

TEST(ModuleVersionTest, FailedLoadForgetsAnEarlierOne) {
  CModuleVersion version;
  ASSERT_TRUE(version.Load(L"kernel32.dll"));
  EXPECT_FALSE(version.Load(L"KavrinModuleNotLoaded.dll"));
  EXPECT_EQ(version.GetValue(L"FileVersion"), L"");
  EXPECT_EQ(version.FixedFileInfo().dwSignature, 0u);
  EXPECT_EQ(version.CodePage(), 1252);
}

}  // namespace
