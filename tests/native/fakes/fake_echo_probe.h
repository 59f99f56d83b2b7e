// EchoProbe stand-in: answers per address as told, after an optional real delay, and counts the
// echoes. Thread-safe, as five workers share one set of answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "policy/echo_probe.h"

class FakeEchoNetwork {
 public:
  struct Answer {
    bool replies = true;
    uint32_t roundTripMs = 10;
    uint32_t status = 0;
    std::vector<uint8_t> body;  // empty: the request is echoed
    uint32_t delayMs = 0;
  };

  void Set(uint32_t address, Answer answer) {
    std::lock_guard<std::mutex> hold(mutex_);
    answers_[address].push_back(answer);
  }
  int Echoes(uint32_t address) {
    std::lock_guard<std::mutex> hold(mutex_);
    return echoes_[address];
  }
  EchoProbeFactory Factory() {
    return [this] { return std::make_unique<Probe>(*this); };
  }

 private:
  class Probe : public EchoProbe {
   public:
    explicit Probe(FakeEchoNetwork& network) : network_(network) {}
    bool SendEcho(uint32_t address, const std::vector<uint8_t>& request, uint32_t,
                  EchoReply& reply) override {
      const Answer answer = network_.Next(address);
      if (answer.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
      if (!answer.replies) return false;
      reply.address = address;
      reply.roundTripMs = answer.roundTripMs;
      reply.status = answer.status;
      reply.body = answer.body.empty() ? request : answer.body;
      return true;
    }

   private:
    FakeEchoNetwork& network_;
  };

  // Answers given for an address are used in turn; the last one repeats.
  Answer Next(uint32_t address) {
    std::lock_guard<std::mutex> hold(mutex_);
    const int n = echoes_[address]++;
    const auto found = answers_.find(address);
    if (found == answers_.end() || found->second.empty()) {
      Answer silent;
      silent.replies = false;
      return silent;
    }
    const auto& list = found->second;
    return list[std::min(static_cast<size_t>(n), list.size() - 1)];
  }

  std::mutex mutex_;
  std::map<uint32_t, std::vector<Answer>> answers_;
  std::map<uint32_t, int> echoes_;
};
