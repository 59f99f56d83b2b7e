#include "vpn/console_output_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void Append(ConsoleOutputBuffer& buffer, const std::string& text) {
  buffer.Append(text.data(), text.size());
}

TEST(ConsoleOutputBufferTest, EndsWithComparesOnlyTheLastBytes) {
  ConsoleOutputBuffer buffer;
  Append(buffer, "Enter");
  EXPECT_FALSE(buffer.EndsWith("Enter Auth Username:"));  // shorter than the text
  Append(buffer, " Auth Username:");
  EXPECT_TRUE(buffer.EndsWith("Enter Auth Username:"));
  Append(buffer, "\n");
  EXPECT_FALSE(buffer.EndsWith("Enter Auth Username:"));
}

TEST(ConsoleOutputBufferTest, ExtractBetweenLooksForTheEndAfterTheFirstStart) {
  ConsoleOutputBuffer buffer;
  std::string result = "left over";
  Append(buffer, "x, route-gateway 10.8.0.5");
  EXPECT_FALSE(buffer.ExtractBetween("route-gateway", ",", result));  // the comma comes before
  EXPECT_TRUE(result.empty());

  Append(buffer, ",ping 10, route-gateway 10.9.9.9,");
  ASSERT_TRUE(buffer.ExtractBetween("route-gateway", ",", result));
  EXPECT_EQ(result, " 10.8.0.5");
}

TEST(ConsoleOutputBufferTest, EndlessOutputWithoutLineEndsStaysWithinTheLimit) {
  ConsoleOutputBuffer buffer(64 * 1024);
  const std::string chunk(4096, 'x');
  for (int i = 0; i < 2560; ++i) Append(buffer, chunk);  // 10 MiB
  // The newest bytes survive, so a prompt after the flood is still seen.
  Append(buffer, "Enter Auth Password:");
  EXPECT_EQ(buffer.size(), buffer.limit());
  EXPECT_TRUE(buffer.EndsWith("xxEnter Auth Password:"));

  // One chunk larger than the whole buffer keeps its own tail.
  Append(buffer, std::string(100 * 1024, 'y') + "tail");
  EXPECT_EQ(buffer.size(), buffer.limit());
  EXPECT_TRUE(buffer.EndsWith("yytail"));
  EXPECT_FALSE(buffer.Contains("x"));
}

}  // namespace
