#include "framework/worker_thread_win.h"

#include <exception>
#include <utility>

CWorkerThread::~CWorkerThread() { Join(); }

bool CWorkerThread::Start(std::function<void()> work) {
  if (thread_.joinable() || !work) return false;
  try {
    thread_ = std::thread(std::move(work));
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void CWorkerThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}
