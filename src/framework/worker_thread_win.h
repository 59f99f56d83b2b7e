// A worker thread with one owner, who joins it before letting it go. Never detached: a thread
// that outlives its owner would run on freed state.
#pragma once

#include <functional>
#include <thread>

class CWorkerThread {
 public:
  CWorkerThread() = default;
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;
  // Joins a thread still running: the owner should have joined already, but waiting is the
  // only safe thing left to do here.
  ~CWorkerThread();

  // Starts `work` on a new thread. False when one is still joinable or no thread could be
  // started.
  bool Start(std::function<void()> work);
  // Waits for the thread to end; does nothing when there is none, or when called from the
  // worker itself (which would deadlock).
  void Join();
  bool Joinable() const { return thread_.joinable(); }

 private:
  std::thread thread_;
};
