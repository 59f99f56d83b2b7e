#include "bind/bind_target.h"

#include <gtest/gtest.h>

namespace {

// 10.8.0.6 as inet_addr returns it on a little-endian machine.
constexpr uint32_t kTunnelAddress = 0x0600080Au;

TEST(BindTargetTest, OnlyAnAddressThatNamesATunnelStartsTheBinding) {
  const auto target = MakeBindTarget(8, kTunnelAddress);
  ASSERT_TRUE(target.has_value());
  EXPECT_EQ(target->count, 8u);
  EXPECT_EQ(target->localAddress, kTunnelAddress);  // kept in network byte order

  EXPECT_FALSE(MakeBindTarget(8, 0).has_value());            // no address known
  EXPECT_FALSE(MakeBindTarget(8, 0xFFFFFFFFu).has_value());  // inet_addr of a malformed text
}

}  // namespace
