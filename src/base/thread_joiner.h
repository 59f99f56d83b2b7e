// Ends threads for someone who must not wait for them: a window that closes while its workers
// still finish what they hold. Threads handed over are joined on the joiner's own thread, one
// after another; the joiner's destructor waits for all of them, so its owner decides the one
// place where that wait happens (the end of the program).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class ThreadJoiner {
 public:
  ThreadJoiner() = default;
  // Joins every thread handed over and not yet ended, then its own.
  ~ThreadJoiner();
  ThreadJoiner(const ThreadJoiner&) = delete;
  ThreadJoiner& operator=(const ThreadJoiner&) = delete;

  // Takes the threads and returns at once. Should the joiner's own thread fail to start, the
  // caller joins them after all, so nothing is ever left running unowned.
  void Hand(std::vector<std::thread> threads);

  // Threads handed over that have not been joined yet.
  size_t pending();

 private:
  void Run();

  std::mutex lock_;
  std::condition_variable handed_;
  std::deque<std::thread> waiting_;
  size_t joining_ = 0;
  bool closing_ = false;
  std::thread own_;
};
