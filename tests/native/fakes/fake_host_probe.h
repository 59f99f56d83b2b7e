// Race requests that answer what the test set: a status, a body and whether it all arrived.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "service/first_answer_race.h"

class FakeProbe : public HostProbe {
 public:
  explicit FakeProbe(std::wstring url = L"") : url(std::move(url)) {}
  bool Start() override { return startResult; }
  const void* Id() const override { return this; }
  int32_t StatusCode() const override { return status; }
  bool Complete() const override { return complete; }
  const std::string& Body() const override { return body; }

  void Answer(int32_t answerStatus, std::string answerBody, bool answerComplete = true) {
    status = answerStatus;
    body = std::move(answerBody);
    complete = answerComplete;
  }

  std::wstring url;
  bool startResult = true;
  int32_t status = 0;
  bool complete = false;
  std::string body;
};

class FakeProbes : public HostProbeFactory {
 public:
  std::unique_ptr<HostProbe> Create(const std::wstring& url) override {
    auto probe = std::make_unique<FakeProbe>(url);
    probe->startResult = startResult;
    live.push_back(probe.get());
    urls.push_back(url);
    return probe;
  }
  // Probes of the pass in progress, in creation order.
  std::vector<FakeProbe*> live;
  std::vector<std::wstring> urls;
  bool startResult = true;
};
