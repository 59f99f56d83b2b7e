// ConsoleChild over anonymous pipes: the child gets the far ends of an input pipe and of one
// output pipe shared by its standard output and standard error, runs hidden in a console of its
// own, and a reader thread polls the output pipe.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "base/unique_handle_win.h"
#include "vpn/console_child.h"

class PipedConsoleChild final : public ConsoleChild {
 public:
  // How long the reader sleeps on the child between two reads: output and the child's end are
  // noticed within this time.
  static constexpr DWORD kPollIntervalMs = 100;

  PipedConsoleChild() = default;
  PipedConsoleChild(const PipedConsoleChild&) = delete;
  PipedConsoleChild& operator=(const PipedConsoleChild&) = delete;
  ~PipedConsoleChild() override { Stop(); }

  bool Start(const std::wstring& commandLine, ConsoleChildEvents& events) override;
  void Stop() override;
  bool WriteInput(std::string_view bytes) override;
  bool WaitForReader(uint32_t milliseconds) override;

 private:
  static DWORD WINAPI ReaderMain(void* self);
  void ReadUntilEnded();
  // Reads whatever waits in the output pipe right now. False once the pipe is broken.
  bool Drain();
  bool OnReaderThread() const { return GetCurrentThreadId() == readerThreadId_.load(); }
  // Only once the reader no longer reads or waits on them.
  void CloseChildHandles();

  // Guards `running_`, the process handle and taking the thread handle: exactly one caller of
  // Stop shuts the child down.
  std::mutex lifecycleLock_;
  // Guards the input handle between the owner's writes and the reader's shutdown.
  std::mutex inputLock_;
  bool running_ = false;
  ConsoleChildEvents* events_ = nullptr;
  // Kept after the reader stopped the child itself, so the next Stop from another thread still
  // waits for the thread to finish before anything it uses goes away.
  UniqueHandle readerThread_;
  std::atomic<DWORD> readerThreadId_ = 0;
  UniqueHandle childInput_;
  UniqueHandle childOutput_;
  UniqueHandle childProcess_;
};
