// Runs a console program as a hidden child, keeps what it writes (standard output and standard
// error in one buffer) for its users to search, and writes their answers to its standard input.
// Subclasses see each chunk and the child's end through OnOutput and OnProcessEnded, both on
// the reader thread.
//
// A subclass must call Stop() in its own destructor: the reader thread calls its overrides,
// which must not run on a half-destroyed object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vpn/console_child.h"
#include "vpn/console_output_buffer.h"

class CConsoleRedirector : private ConsoleChildEvents {
 public:
  explicit CConsoleRedirector(std::unique_ptr<ConsoleChild> child);
  CConsoleRedirector(const CConsoleRedirector&) = delete;
  CConsoleRedirector& operator=(const CConsoleRedirector&) = delete;
  virtual ~CConsoleRedirector();

  // Stops an earlier child first. True when the child runs and its reader thread exists.
  bool Start(const std::wstring& commandLine);
  // Safe more than once and from the reader thread; only the first call shuts down.
  void Stop();
  // The text in the ANSI code page, without a terminating zero; callers add the line end.
  // The output buffer is cleared afterwards, even when nothing could be written, so the prompt
  // just answered is not answered again.
  void SendInput(const std::wstring& text);
  // Up to `milliseconds` for the reader thread to end; true when none runs.
  bool WaitForReader(uint32_t milliseconds);

  void AppendOutput(const char* data, size_t length) { output_.Append(data, length); }
  void ClearOutput() { output_.Clear(); }
  std::string GetOutput() const { return output_.Get(); }
  std::string TakeOutput() { return output_.Take(); }
  bool OutputEndsWith(std::string_view text) const { return output_.EndsWith(text); }
  bool OutputContains(std::string_view text) const { return output_.Contains(text); }
  bool ExtractBetween(std::string_view startText, std::string_view endText,
                      std::string& result) const {
    return output_.ExtractBetween(startText, endText, result);
  }

 protected:
  virtual void OnOutput(const char* data, size_t length);
  // After the child ended and the redirector was stopped, whoever stopped it.
  virtual void OnProcessEnded();

 private:
  void OnChildOutput(const char* data, size_t length) override { OnOutput(data, length); }
  void OnChildEnded() override { OnProcessEnded(); }

  const std::unique_ptr<ConsoleChild> child_;
  ConsoleOutputBuffer output_;
};
