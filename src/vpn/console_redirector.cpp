#include "vpn/console_redirector.h"

#include <utility>

#include "base/text.h"

CConsoleRedirector::CConsoleRedirector(std::unique_ptr<ConsoleChild> child)
    : child_(std::move(child)) {}

CConsoleRedirector::~CConsoleRedirector() { Stop(); }

bool CConsoleRedirector::Start(const std::wstring& commandLine) {
  if (!child_) return false;
  return child_->Start(commandLine, *this);
}

void CConsoleRedirector::Stop() {
  if (child_) child_->Stop();
}

void CConsoleRedirector::SendInput(const std::wstring& text) {
  const std::string bytes = WideToAnsi(text);
  if (child_ && !bytes.empty()) child_->WriteInput(bytes);
  ClearOutput();
}

bool CConsoleRedirector::WaitForReader(uint32_t milliseconds) {
  return !child_ || child_->WaitForReader(milliseconds);
}

void CConsoleRedirector::OnOutput(const char*, size_t) {}

void CConsoleRedirector::OnProcessEnded() {}
