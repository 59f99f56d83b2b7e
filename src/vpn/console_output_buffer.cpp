#include "vpn/console_output_buffer.h"

void ConsoleOutputBuffer::Append(const char* data, size_t length) {
  if (length == 0) return;
  std::lock_guard lock(mutex_);
  if (length >= limit_) {
    bytes_.assign(data + (length - limit_), limit_);
    return;
  }
  const size_t total = bytes_.size() + length;
  if (total > limit_) bytes_.erase(0, total - limit_);
  bytes_.append(data, length);
}

void ConsoleOutputBuffer::Clear() {
  std::lock_guard lock(mutex_);
  bytes_.clear();
}

std::string ConsoleOutputBuffer::Get() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

std::string ConsoleOutputBuffer::Take() {
  std::string taken;
  std::lock_guard lock(mutex_);
  taken.swap(bytes_);
  return taken;
}

bool ConsoleOutputBuffer::EndsWith(std::string_view text) const {
  std::lock_guard lock(mutex_);
  return std::string_view(bytes_).ends_with(text);
}

bool ConsoleOutputBuffer::Contains(std::string_view text) const {
  std::lock_guard lock(mutex_);
  return bytes_.find(text) != std::string::npos;
}

bool ConsoleOutputBuffer::ExtractBetween(std::string_view start, std::string_view end,
                                         std::string& result) const {
  result.clear();
  std::lock_guard lock(mutex_);
  const size_t opening = bytes_.find(start);
  if (opening == std::string::npos) return false;
  const size_t from = opening + start.size();
  const size_t closing = bytes_.find(end, from);
  if (closing == std::string::npos) return false;
  result.assign(bytes_, from, closing - from);
  return true;
}

size_t ConsoleOutputBuffer::size() const {
  std::lock_guard lock(mutex_);
  return bytes_.size();
}
