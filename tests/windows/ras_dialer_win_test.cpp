#include "vpn/ras_dialer_win.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

// The sizes the calls are made with are what the oldest supported system accepts; a header
// update must not change them.
TEST(RasRecordsWinTest, HaveTheFixedSizesAndOffsets) {
#ifdef _WIN64
  GTEST_SKIP() << "the fixed sizes are the 32-bit program's; this is the 64-bit test build";
#endif
  EXPECT_EQ(sizeof(RasEntryRecord), 4048u);
  EXPECT_EQ(offsetof(RasEntryRecord, dwVpnStrategy), 4044u);
  EXPECT_EQ(sizeof(RasDialParamsRecord), 2104u);
  EXPECT_EQ(offsetof(RasDialParamsRecord, dwCallbackId), 2100u);
  EXPECT_EQ(sizeof(RasConnRecord), 1356u);
  EXPECT_EQ(sizeof(RasStatsRecord), 60u);
  EXPECT_EQ(sizeof(RasPppIpRecord), 80u);
}

TEST(RasDialerWinTest, ConnectionListAnswersWithoutTouchingPastItsBuffer) {
  RasApiDialer dialer;
  uint32_t bytes = RasDialer::kConnectionRecordSize;
  std::vector<RasConnectionInfo> connections;
  const uint32_t result = dialer.EnumConnections(bytes, connections);
  if (result == 0) {
    EXPECT_LE(connections.size() * RasDialer::kConnectionRecordSize,
              std::max<size_t>(bytes, RasDialer::kConnectionRecordSize));
  } else {
    EXPECT_TRUE(connections.empty());
  }
}

TEST(RasDialerWinTest, TextsTooLongForTheEntryAreRefusedBeforeTheSystem) {
  RasApiDialer dialer;
  RasEntryProperties entry;
  entry.localPhoneNumber = std::wstring(129, L'a');
  EXPECT_EQ(dialer.SetEntryProperties(L"Kavrin", entry),
            static_cast<uint32_t>(ERROR_INVALID_PARAMETER));

  RasDialParameters parameters;
  parameters.entryName = L"Kavrin";
  parameters.password = std::wstring(257, L'p');
  RasConnectionHandle connection = 0;
  EXPECT_EQ(dialer.Dial(parameters, {}, connection),
            static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(connection, 0u);
}

}  // namespace
