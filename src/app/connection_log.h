// The connection log: one dated line per step of a connection, kept in the data folder for the
// user to open and hand to support. "Kavrin.log" holds the newest lines; when a line would take
// it past the limit it replaces "Kavrin.log.1" and a new one starts, so at most two files.
//
// Each line is UTF-8: the local date and time ("YYYY-MM-DD HH:MM:SS "), the text with its line
// breaks turned into spaces, then CRLF. The caller (mostly the window's thread) only formats the
// line and queues it; a thread of the log's own writes it, so a slow or failing disk never holds
// up the window and never reaches the user. A queue that stays full drops lines and says how
// many once it can write again. Nothing is written when the data folder is not the program's
// own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "app/connection_log_files.h"
#include "config/program_data_folder.h"


class ConnectionLog {
 public:
  // Lines waiting for the disk beyond this are dropped (and counted).
  static constexpr size_t kQueueLimit = 4096;

  // Writes into `data` when it is the program's own, else nowhere. `now` gives the seconds since
  // 1970 the lines are dated with.
  explicit ConnectionLog(ProgramDataFolder& data, std::function<int64_t()> now = nullptr,
                         size_t queueLimit = kQueueLimit);
  // Writes what is queued, then ends its thread.
  ~ConnectionLog();
  ConnectionLog(const ConnectionLog&) = delete;
  ConnectionLog& operator=(const ConnectionLog&) = delete;

  // Queues one line; returns at once.
  void Write(std::wstring_view text);
  // Whether lines go anywhere at all.
  bool writing() const { return writer_.joinable(); }
  // Waits until every line queued so far has been handed to the file system.
  void Flush();

  // The bytes of one line as the file holds it.
  static std::string FormatLine(int64_t secondsSince1970, std::wstring_view text);

 private:
  void Run();
  // Appends the lines to the file, rolling it over where a line would pass the limit.
  void WriteLines(const std::deque<std::string>& lines);

  const std::wstring folder_;
  const std::function<int64_t()> now_;
  const size_t queueLimit_;
  std::mutex lock_;
  std::condition_variable queued_;
  std::condition_variable written_;
  std::deque<std::string> lines_;
  size_t dropped_ = 0;
  uint64_t taken_ = 0;
  uint64_t done_ = 0;
  bool closing_ = false;
  // The writer's own: the size of the current file as far as it knows.
  uint64_t size_ = 0;
  bool sizeKnown_ = false;
  std::thread writer_;
};
