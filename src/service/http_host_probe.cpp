#include "service/http_host_probe.h"

namespace {

class HttpHostProbe : public HostProbe {
 public:
  HttpHostProbe(const std::wstring& url, MessageTarget& target, uint32_t message)
      : request_(url), target_(target), message_(message) {}

  bool Start() override { return request_.Start(target_, message_); }
  const void* Id() const override { return &request_; }
  int32_t StatusCode() const override { return request_.statusCode(); }
  bool Complete() const override { return request_.Complete(); }
  const std::string& Body() const override { return request_.body(); }

 private:
  HttpRequest request_;
  MessageTarget& target_;
  uint32_t message_;
};

}  // namespace

std::unique_ptr<HostProbe> HttpHostProbeFactory::Create(const std::wstring& url) {
  return std::make_unique<HttpHostProbe>(url, target_, message_);
}
