#include "vpn/error_advice.h"

#include <utility>

#include "config/text_table.h"

namespace {

// Numbers as "Routing and Remote Access error codes" lists them.
constexpr std::pair<int32_t, const char*> kRasAdvice[] = {
    {619, "ErrorAdviceRas619"}, {628, "ErrorAdviceRas628"}, {691, "ErrorAdviceRas691"},
    {720, "ErrorAdviceRas720"}, {734, "ErrorAdviceRas734"}, {789, "ErrorAdviceRas789"},
    {800, "ErrorAdviceRas800"}, {807, "ErrorAdviceRas807"}, {809, "ErrorAdviceRas809"},
    {812, "ErrorAdviceRas812"}, {868, "ErrorAdviceRas868"},
};

}  // namespace

std::wstring RasErrorAdvice(int32_t rasError) {
  for (const auto& [number, key] : kRasAdvice) {
    if (number == rasError) return GetText(key);
  }
  return {};
}

std::wstring OpenVpnAdvice(OpenVpnCondition condition) {
  switch (condition) {
    case OpenVpnCondition::kAuthFailed:
      return GetText("ErrorAdviceOpenVpnAuthFailed");
    case OpenVpnCondition::kTlsFailed:
      return GetText("ErrorAdviceOpenVpnTls");
    case OpenVpnCondition::kNoAdapter:
      return GetText("ErrorAdviceOpenVpnNoAdapter");
    case OpenVpnCondition::kNotStarted:
      return GetText("ErrorAdviceOpenVpnExec");
  }
  return {};
}
