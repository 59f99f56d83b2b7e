#include "base/thread_joiner.h"

#include <system_error>

ThreadJoiner::~ThreadJoiner() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  handed_.notify_all();
  if (own_.joinable()) own_.join();
  // Whatever is left was handed over after the own thread ended, or it never started.
  for (std::thread& thread : waiting_) {
    if (thread.joinable()) thread.join();
  }
}

void ThreadJoiner::Hand(std::vector<std::thread> threads) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    bool running = own_.joinable();
    if (!running && !closing_) {
      try {
        own_ = std::thread([this] { Run(); });
        running = true;
      } catch (const std::system_error&) {
      }
    }
    if (running) {
      for (std::thread& thread : threads) waiting_.push_back(std::move(thread));
      handed_.notify_all();
      return;
    }
  }
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

size_t ThreadJoiner::pending() {
  std::lock_guard<std::mutex> hold(lock_);
  return waiting_.size() + joining_;
}

void ThreadJoiner::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    handed_.wait(hold, [this] { return closing_ || !waiting_.empty(); });
    if (waiting_.empty()) return;  // closing, and nothing left
    std::thread thread = std::move(waiting_.front());
    waiting_.pop_front();
    ++joining_;
    hold.unlock();
    if (thread.joinable()) thread.join();
    hold.lock();
    --joining_;
  }
}
