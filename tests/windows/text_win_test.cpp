#include <windows.h>

#include <gtest/gtest.h>

#include "base/text.h"

// Our users run with code page 936; the test prefix runs zh_CN too.
TEST(AnsiConversion, UsesTheThreadCodePage) {
  const std::wstring wide = L"加速器 VPN";
  const std::string ansi = WideToAnsi(wide);
  if (GetACP() == 936) {
    EXPECT_EQ(ansi.size(), 10u);  // two bytes per Chinese character
  }
  EXPECT_EQ(AnsiToWide(ansi), wide);
  EXPECT_EQ(AnsiToWide(""), L"");
}
