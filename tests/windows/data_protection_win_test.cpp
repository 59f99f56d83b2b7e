#include "config/data_protection_win.h"

#include <gtest/gtest.h>
#include <windows.h>
// wincrypt.h needs the types windows.h declares.
#include <wincrypt.h>

#include <cstring>

namespace {

TEST(DpapiDataProtectionTest, RoundTripsTheSecret) {
  DpapiDataProtection protection;
  for (const std::wstring secret : {L"", L"p@ss w0rd", L"中文密码"}) {
    const auto blob = protection.Protect(secret);
    ASSERT_TRUE(blob.has_value());
    EXPECT_FALSE(blob->empty());
    EXPECT_EQ(protection.Unprotect(*blob), secret);
  }
}

// Blobs saved by earlier installs hold UTF-16 with its NUL and the description "Kavrin".
TEST(DpapiDataProtectionTest, BlobHoldsTheTextWithItsTerminator) {
  DpapiDataProtection protection;
  const auto blob = protection.Protect(L"abc");
  ASSERT_TRUE(blob.has_value());

  DATA_BLOB in{static_cast<DWORD>(blob->size()), const_cast<BYTE*>(blob->data())};
  DATA_BLOB out{};
  wchar_t* description = nullptr;
  ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0x10, &out));
  ASSERT_EQ(out.cbData, 8u);
  EXPECT_EQ(std::memcmp(out.pbData, L"abc", 8), 0);
  ASSERT_NE(description, nullptr);
  EXPECT_STREQ(description, L"Kavrin");
  LocalFree(description);
  LocalFree(out.pbData);
}

TEST(DpapiDataProtectionTest, RejectsForeignBytes) {
  DpapiDataProtection protection;
  EXPECT_EQ(protection.Unprotect({1, 2, 3, 4, 5, 6, 7, 8}), std::nullopt);
  EXPECT_EQ(protection.Unprotect({}), std::nullopt);
}

}  // namespace
