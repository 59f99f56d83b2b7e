// ConsoleChild stand-ins. FakeConsoleChild never runs: the test plays the output through
// OnOutput and sees what would have gone to standard input. PipedConsoleChild runs a child
// thread that writes into a bounded pipe and a real reader thread that delivers what it reads,
// as the anonymous-pipe redirection does (CreatePipe, ReadFile reference pages: a writer
// blocks while the pipe's buffer is full, the reader gets at most what it asked for).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vpn/console_child.h"
#include "vpn/open_vpn.h"

class FakeConsoleChild : public ConsoleChild {
 public:
  bool Start(const std::wstring& commandLine, ConsoleChildEvents&) override {
    commandLines.push_back(commandLine);
    return !refuseStart;
  }
  void Stop() override { ++stops; }
  bool WriteInput(std::string_view bytes) override {
    written.emplace_back(bytes);
    return true;
  }
  bool WaitForReader(uint32_t milliseconds) override {
    waits.push_back(milliseconds);
    return readerEnds;
  }

  bool refuseStart = false;
  bool readerEnds = true;
  std::vector<std::wstring> commandLines;
  std::vector<std::string> written;
  std::vector<uint32_t> waits;
  int stops = 0;
};

class PipedConsoleChild : public ConsoleChild {
 public:
  static constexpr size_t kPipeBytes = 4096;

  ~PipedConsoleChild() override { Stop(); }

  // The child's life: `script` first, then `line` written every `linePeriod` until it is asked
  // to exit, then `goodbye` (its own clean-up) and the end.
  std::string script;
  std::string line = "Tue Dec  8 08:00:00 2026 us=1 KEEPALIVE wWrR\n";
  std::chrono::microseconds linePeriod{200};
  std::function<void()> goodbye;

  bool Start(const std::wstring&, ConsoleChildEvents& events) override {
    events_ = &events;
    child_ = std::thread([this] { RunChild(); });
    reader_ = std::thread([this] { RunReader(); });
    return true;
  }
  void Stop() override {
    {
      std::lock_guard lock(mutex_);
      killed_ = exitAsked_ = true;
      changed_.notify_all();
    }
    Join(child_);
    Join(reader_);
  }
  bool WriteInput(std::string_view bytes) override {
    std::lock_guard lock(mutex_);
    input_.append(bytes);
    return true;
  }
  bool WaitForReader(uint32_t milliseconds) override {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return readerEnded_; });
  }
  // The exit event.
  void AskToExit() {
    std::lock_guard lock(mutex_);
    exitAsked_ = true;
    changed_.notify_all();
  }
  // The longest the child waited for room in the pipe.
  std::chrono::microseconds LongestBlockedWrite() {
    std::lock_guard lock(mutex_);
    return longestBlock_;
  }
  // The longest time between two reads of the reader while the child was writing.
  std::chrono::microseconds LongestReadGap() {
    std::lock_guard lock(mutex_);
    return longestGap_;
  }
  std::string Input() {
    std::lock_guard lock(mutex_);
    return input_;
  }

 private:
  static void Join(std::thread& thread) {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
  }
  void Write(std::string_view bytes) {
    std::unique_lock lock(mutex_);
    for (const char c : bytes) {
      const auto start = std::chrono::steady_clock::now();
      changed_.wait(lock, [this] { return pipe_.size() < kPipeBytes || killed_; });
      const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - start);
      if (waited > longestBlock_) longestBlock_ = waited;
      if (killed_) return;
      pipe_.push_back(c);
      changed_.notify_all();
    }
  }
  void RunChild() {
    Write(script);
    while (true) {
      {
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, linePeriod, [this] { return exitAsked_; })) break;
      }
      Write(line);
    }
    bool killed = false;
    {
      std::lock_guard lock(mutex_);
      killed = killed_;
    }
    if (!killed && goodbye) goodbye();
    std::lock_guard lock(mutex_);
    writerGone_ = true;
    changed_.notify_all();
  }
  void RunReader() {
    while (true) {
      std::string chunk;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pipe_.empty() || writerGone_ || killed_; });
        if (pipe_.empty() || killed_) break;
        const auto now = std::chrono::steady_clock::now();
        if (lastRead_ != std::chrono::steady_clock::time_point{} && !exitAsked_) {
          const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(now - lastRead_);
          if (gap > longestGap_) longestGap_ = gap;
        }
        lastRead_ = now;
        const size_t take = std::min(pipe_.size(), kConsoleChunkBytes);
        chunk.assign(pipe_.begin(), pipe_.begin() + static_cast<std::ptrdiff_t>(take));
        pipe_.erase(pipe_.begin(), pipe_.begin() + static_cast<std::ptrdiff_t>(take));
        changed_.notify_all();
      }
      events_->OnChildOutput(chunk.data(), chunk.size());
    }
    events_->OnChildEnded();
    std::lock_guard lock(mutex_);
    readerEnded_ = true;
    changed_.notify_all();
  }

  ConsoleChildEvents* events_ = nullptr;
  std::thread child_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<char> pipe_;
  std::string input_;
  bool exitAsked_ = false;
  bool killed_ = false;
  bool writerGone_ = false;
  bool readerEnded_ = false;
  std::chrono::microseconds longestBlock_{0};
  std::chrono::microseconds longestGap_{0};
  std::chrono::steady_clock::time_point lastRead_{};
};

// The exit event, wired to a piped child when there is one. Each Create names a new event;
// `refuseCreate` is a system that made none (every name taken, no memory).
class FakeExitSignal : public ExitSignal {
 public:
  std::wstring Create() override {
    if (refuseCreate) return {};
    name_ = L"exit-" + std::to_wstring(++created);
    calls.push_back(L"create " + name_);
    return name_;
  }
  void Raise() override {
    calls.push_back(L"raise " + name_);
    if (child != nullptr) child->AskToExit();
  }
  void Clear() override { calls.push_back(L"clear"); }
  std::vector<std::wstring> calls;
  PipedConsoleChild* child = nullptr;
  bool refuseCreate = false;
  int created = 0;

 private:
  std::wstring name_;
};
