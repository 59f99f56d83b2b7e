// The connection log's files in the data folder, shared by its writer and its reader: the newest
// lines in "Kavrin.log", the ones before in "Kavrin.log.1", neither past the limit.
#pragma once

#include <cstdint>

inline constexpr wchar_t kConnectionLogName[] = L"Kavrin.log";
inline constexpr wchar_t kConnectionLogOldName[] = L"Kavrin.log.1";
inline constexpr uint64_t kConnectionLogLimitBytes = 1048576;
