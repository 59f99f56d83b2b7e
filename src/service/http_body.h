// Where the body of an HTTP response goes: memory, or a file its owner opened.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class HttpBodySink {
 public:
  virtual ~HttpBodySink() = default;
  // False when the bytes could not be stored; the request then ends as incomplete.
  virtual bool Write(const char* data, size_t size) = 0;
};

class StringBodySink final : public HttpBodySink {
 public:
  // std::string grows geometrically, so a long body is not copied over and over as it arrives.
  bool Write(const char* data, size_t size) override {
    data_.append(data, size);
    return true;
  }
  const std::string& data() const { return data_; }
  std::string Detach() { return std::move(data_); }
  void Clear() { data_ = std::string(); }

 private:
  std::string data_;
};

// Writes into a file the caller opened (binary) and keeps owning.
class FileBodySink final : public HttpBodySink {
 public:
  explicit FileBodySink(std::FILE* file) : file_(file) {}
  bool Write(const char* data, size_t size) override {
    return std::fwrite(data, 1, size, file_) == size;
  }

 private:
  std::FILE* file_;
};
