// What the server list shows for a server's two speed measurements, and how it orders and draws
// them. Measurements are milliseconds (>= 0) or one of the states below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int32_t kSpeedNoAnswer = -1;
inline constexpr int32_t kSpeedTesting = -2;
inline constexpr int32_t kSpeedToBeTested = -3;

// The better measured value as "VpnServerSpeed_ms"; without one, the time-out text when both
// probes got no answer, testing while either runs, to-be-tested while both wait, else unknown.
std::wstring SpeedCellText(int32_t echoSpeed, int32_t ntpSpeed);

enum class SpeedQuality { kGood, kNormal, kBad };
SpeedQuality QualityOfSpeed(uint64_t milliseconds);

// The picture and alignment of a speed cell, decided from its text alone (the list keeps no
// other state per cell). An empty image draws nothing.
struct SpeedCellLook {
  std::string image;
  bool alignRight = false;
};
SpeedCellLook LookOfSpeedCell(std::wstring_view text);

// Ascending order of speed cells: measured values fastest first, then testing, unknown,
// to-be-tested and time-out. Negative when `a` goes first, 0 when neither does.
int CompareSpeedCells(std::wstring_view a, std::wstring_view b);

// "Load%d" as the service sends it (a fraction, 0.5 when absent) and as the list shows it:
// the percentage truncated, at least three characters wide.
double ParseServerLoad(std::wstring_view text);
std::wstring LoadCellText(double load);
