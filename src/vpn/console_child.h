// The system half of a console redirector: one hidden child process whose standard input,
// output and error are pipes held by us, and a reader thread that hands over what the child
// writes. The redirector keeps the output and answers; this port starts, reads and stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ConsoleChildEvents {
 public:
  // On the reader thread, once per chunk read (never more than kConsoleChunkBytes), with no
  // lock of the child held: the handler may write input or query anything.
  virtual void OnChildOutput(const char* data, size_t length) = 0;
  // On the reader thread, once per started child, after its last output was delivered and the
  // child was stopped.
  virtual void OnChildEnded() = 0;

 protected:
  ~ConsoleChildEvents() = default;
};

inline constexpr size_t kConsoleChunkBytes = 4096;
inline constexpr uint32_t kConsoleWaitForever = 0xFFFFFFFF;

class ConsoleChild {
 public:
  virtual ~ConsoleChild() = default;

  // Stops an earlier child, then starts `commandLine` (program and arguments, as the system's
  // command line) with its streams redirected and a reader thread delivering to `events`.
  // False when anything failed; nothing runs then.
  virtual bool Start(const std::wstring& commandLine, ConsoleChildEvents& events) = 0;
  // Ends the child and the reader thread. Only the first of several calls shuts the child down;
  // called from the reader thread it does not wait for itself.
  virtual void Stop() = 0;
  // All of `bytes` to the child's standard input; false when no child input is open or the
  // write failed.
  virtual bool WriteInput(std::string_view bytes) = 0;
  // Waits up to `milliseconds` for the reader thread to end. True when none is left running.
  virtual bool WaitForReader(uint32_t milliseconds) = 0;
};
