// Race requests over the HTTP client: each reports its events to one window's target.
#pragma once

#include <memory>
#include <string>

#include "base/message_target.h"
#include "service/first_answer_race.h"
#include "service/http_request.h"

class HttpHostProbeFactory : public HostProbeFactory {
 public:
  // The message is posted with the event as wParam and the request as lParam.
  HttpHostProbeFactory(MessageTarget& target, uint32_t message)
      : target_(target), message_(message) {}
  std::unique_ptr<HostProbe> Create(const std::wstring& url) override;

 private:
  MessageTarget& target_;
  uint32_t message_;
};
