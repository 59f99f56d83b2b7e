// One sentence for the errors users meet most: what happened and what to try. It is shown after
// the error's own text (the status line, the box, the connection log), never in its place.
#pragma once

#include <cstdint>
#include <string>

// For a dial-up error number (RAS); empty for one without advice.
std::wstring RasErrorAdvice(int32_t rasError);

// OpenVPN's conditions that have advice.
enum class OpenVpnCondition { kAuthFailed, kTlsFailed, kNoAdapter, kNotStarted };
std::wstring OpenVpnAdvice(OpenVpnCondition condition);
