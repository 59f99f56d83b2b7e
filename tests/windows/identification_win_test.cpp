#include <gtest/gtest.h>

#include <algorithm>

#include "service/adapter_list_win.h"
#include "service/client_identification_win.h"
#include "service/wmi_query_win.h"

// Whatever this machine answers is fine; a missing device, WMI class or adapter list must only
// leave a value empty.
TEST(IdentificationWin, WmiAnswersOrFailsCleanly) {
  SystemWmiQuery wmi;
  std::vector<WmiRow> rows;
  if (wmi.Query(L"Win32_BIOS", &rows) && !rows.empty()) {
    const std::string bios = BiosIdentification(wmi);
    EXPECT_EQ(std::count(bios.begin(), bios.end(), '|'), 3);
  }
  rows.clear();
  wmi.Query(L"Kavrin_NoSuchClass", &rows);
  EXPECT_TRUE(rows.empty());
}

TEST(IdentificationWin, ComputesAllThreeWithoutCrashing) {
  const ClientIdentification id = ComputeSystemClientIdentification();
  // Up to three 12-digit addresses joined by commas.
  EXPECT_LE(id.adapters.size(), 38u);
  for (size_t i = 0; i < id.adapters.size(); ++i) {
    const char c = id.adapters[i];
    if (i % 13 == 12) {
      EXPECT_EQ(c, ',');
    } else {
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << id.adapters;
    }
  }
  SystemAdapterList adapters;
  const auto records = adapters.Read();
  if (records) {
    EXPECT_EQ(AdapterIdentification(*records), id.adapters);
  }
  std::printf("disk=[%s] bios=[%s] adapters=[%s]\n", id.disk.c_str(), id.bios.c_str(),
              id.adapters.c_str());
}
