#include "app/connection_log.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "base/file_path.h"
#include "base/text.h"

namespace {

int64_t SystemSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

ConnectionLog::ConnectionLog(ProgramDataFolder& data, std::function<int64_t()> now,
                             size_t queueLimit)
    // The folder's own rule: not ours, nothing written there.
    : folder_(data.Owned() ? data.Path() : std::wstring()),
      now_(now ? std::move(now) : SystemSeconds),
      queueLimit_(queueLimit) {
  if (folder_.empty()) return;
  try {
    writer_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread, no log: the program goes on without it.
  }
}

ConnectionLog::~ConnectionLog() {
  {
    std::lock_guard lock(lock_);
    closing_ = true;
  }
  queued_.notify_all();
  if (writer_.joinable()) writer_.join();
}

std::string ConnectionLog::FormatLine(int64_t secondsSince1970, std::wstring_view text) {
  std::wstring line = FormatLocalTime(secondsSince1970, L"%Y-%m-%d %H:%M:%S");
  line += L' ';
  // One event, one line: a CRLF, CR or LF inside the text becomes one space.
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      line += L' ';
    } else {
      line += c;
    }
  }
  return WideToUtf8(line) + "\r\n";
}

void ConnectionLog::Write(std::wstring_view text) {
  if (!writer_.joinable()) return;
  std::string line = FormatLine(now_(), text);
  {
    std::lock_guard lock(lock_);
    if (lines_.size() >= queueLimit_) {
      ++dropped_;
      return;
    }
    lines_.push_back(std::move(line));
    ++taken_;
  }
  queued_.notify_one();
}

void ConnectionLog::Flush() {
  std::unique_lock lock(lock_);
  written_.wait(lock, [this] { return done_ == taken_ || !writer_.joinable(); });
}

void ConnectionLog::Run() {
  std::unique_lock lock(lock_);
  for (;;) {
    queued_.wait(lock, [this] { return closing_ || !lines_.empty() || dropped_ != 0; });
    if (lines_.empty() && dropped_ == 0) return;
    std::deque<std::string> batch;
    batch.swap(lines_);
    const size_t dropped = std::exchange(dropped_, 0);
    lock.unlock();
    if (dropped != 0) {
      batch.push_front(
          FormatLine(now_(), L"日志写得太慢，" + std::to_wstring(dropped) + L" 行未记录"));
    }
    WriteLines(batch);
    lock.lock();
    done_ += batch.size() - (dropped != 0 ? 1 : 0);
    written_.notify_all();
  }
}

// A file that cannot be written loses the line and nothing else: the next one tries again.
void ConnectionLog::WriteLines(const std::deque<std::string>& lines) {
  const std::filesystem::path path = FileSystemPath(folder_ + kConnectionLogName);
  std::ofstream file;
  for (const std::string& bytes : lines) {
    std::error_code error;
    if (!sizeKnown_) {
      const uintmax_t size = std::filesystem::file_size(path, error);
      size_ = error ? 0 : static_cast<uint64_t>(size);
      sizeKnown_ = true;
    }
    if (size_ != 0 && size_ + bytes.size() > kConnectionLogLimitBytes) {
      file.close();
      const std::filesystem::path old = FileSystemPath(folder_ + kConnectionLogOldName);
      std::filesystem::remove(old, error);
      std::filesystem::rename(path, old, error);
      // Not rolled over (someone holds the file): it grows until a later try succeeds.
      if (!error) size_ = 0;
    }
    if (!file.is_open()) {
      file.clear();
      file.open(path, std::ios::binary | std::ios::app);
    }
    if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
      // How much of it reached the file is unknown: its size is read again for the next line.
      file.close();
      sizeKnown_ = false;
      continue;
    }
    size_ += bytes.size();
  }
}
