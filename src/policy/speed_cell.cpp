#include "policy/speed_cell.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <optional>

#include "base/text.h"
#include "config/text_table.h"

namespace {

// The text carries one integer placeholder; it is filled here rather than handed to a printf as
// its format, so a text with any other directive cannot read beyond the argument.
std::wstring FormatMilliseconds(int32_t milliseconds) {
  std::wstring text = GetText("VpnServerSpeed_ms");
  const size_t at = text.find(L"%d");
  const std::wstring number = std::to_wstring(milliseconds);
  if (at == std::wstring::npos) return number + L" " + text;
  return text.replace(at, 2, number);
}

bool StartsWithDigit(std::wstring_view text) {
  return !text.empty() && text[0] >= L'0' && text[0] <= L'9';
}

// The leading decimal number, saturated (a cell is never that long, but it is only text).
uint64_t LeadingNumber(std::wstring_view text) {
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c - L'0'), UINT32_MAX);
  }
  return value;
}

// Rank of an unmeasured cell in ascending order; texts that are none of these go last.
int UnmeasuredRank(std::wstring_view text) {
  static const char* const kOrder[] = {"VpnServerSpeed_Testing", "VpnServerSpeed_Unknown",
                                       "VpnServerSpeed_ToBeTested", "VpnServerSpeed_Timeout"};
  for (int rank = 0; rank < 4; ++rank) {
    if (text == GetText(kOrder[rank])) return rank;
  }
  return 4;
}

}  // namespace

std::wstring SpeedCellText(int32_t echoSpeed, int32_t ntpSpeed) {
  std::optional<int32_t> best;
  for (int32_t value : {echoSpeed, ntpSpeed}) {
    if (value >= 0 && (!best || value < *best)) best = value;
  }
  if (best) return FormatMilliseconds(*best);
  if (echoSpeed == kSpeedNoAnswer && ntpSpeed == kSpeedNoAnswer) {
    return GetText("VpnServerSpeed_Timeout");
  }
  if (echoSpeed == kSpeedTesting || ntpSpeed == kSpeedTesting) {
    return GetText("VpnServerSpeed_Testing");
  }
  if (echoSpeed == kSpeedToBeTested && ntpSpeed == kSpeedToBeTested) {
    return GetText("VpnServerSpeed_ToBeTested");
  }
  return GetText("VpnServerSpeed_Unknown");
}

SpeedQuality QualityOfSpeed(uint64_t milliseconds) {
  if (milliseconds <= 100) return SpeedQuality::kGood;
  if (milliseconds <= 500) return SpeedQuality::kNormal;
  return SpeedQuality::kBad;
}

SpeedCellLook LookOfSpeedCell(std::wstring_view text) {
  if (StartsWithDigit(text)) {
    switch (QualityOfSpeed(LeadingNumber(text))) {
      case SpeedQuality::kGood:
        return {"IconSpeedTestGood", true};
      case SpeedQuality::kNormal:
        return {"IconSpeedTestNormal", true};
      case SpeedQuality::kBad:
        return {"IconSpeedTestBad", true};
    }
  }
  if (text == GetText("VpnServerSpeed_Timeout")) return {"IconSpeedTestTimeout", false};
  if (text == GetText("VpnServerSpeed_Unknown") || text == GetText("VpnServerSpeed_Testing") ||
      text == GetText("VpnServerSpeed_ToBeTested")) {
    return {"IconSpeedTestTesting", false};
  }
  return {};
}

// Equal measurements compare equal, so the order is consistent both ways round (a comparison
// that puts the second first for equal values in both calls is no order at all).
int CompareSpeedCells(std::wstring_view a, std::wstring_view b) {
  if (a == b) return 0;
  const bool aMeasured = StartsWithDigit(a);
  const bool bMeasured = StartsWithDigit(b);
  if (aMeasured && bMeasured) {
    const uint64_t x = LeadingNumber(a);
    const uint64_t y = LeadingNumber(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (aMeasured != bMeasured) return aMeasured ? -1 : 1;
  const int x = UnmeasuredRank(a);
  const int y = UnmeasuredRank(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

double ParseServerLoad(std::wstring_view text) {
  const std::wstring trimmed = TrimText(text);
  if (trimmed.empty()) return 0.5;
  const double value = std::wcstod(trimmed.c_str(), nullptr);
  return std::isfinite(value) ? value : 0.5;
}

// Clamped before the conversion: a service-sent "1e300" must not turn into undefined behaviour.
// The small nudge keeps 0.57, which is 56.99999... times 100 in binary, at 57.
std::wstring LoadCellText(double load) {
  double percent = std::trunc(load * 100.0 + (load >= 0 ? 1e-9 : -1e-9));
  if (!std::isfinite(percent)) percent = 0;
  percent = std::clamp(percent, -999999.0, 999999.0);
  wchar_t text[32];
  std::swprintf(text, 32, L"%3d%%", static_cast<int>(percent));
  return text;
}
