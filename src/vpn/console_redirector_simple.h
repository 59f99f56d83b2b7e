// A redirector that only collects: for short commands whose whole output is read once they
// have ended.
#pragma once

#include <memory>

#include "vpn/console_redirector.h"

class CCConsoleRedirectorSimple : public CConsoleRedirector {
 public:
  explicit CCConsoleRedirectorSimple(std::unique_ptr<ConsoleChild> child)
      : CConsoleRedirector(std::move(child)) {}
  ~CCConsoleRedirectorSimple() override { Stop(); }

 protected:
  void OnOutput(const char* data, size_t length) override { AppendOutput(data, length); }
};
