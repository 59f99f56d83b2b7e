// Downloads from a server on 127.0.0.1 through HttpRequest: 64 MiB into a file, and 1 MiB and
// 8 MiB into memory (the per-byte cost must not grow with the size); a short run downloads 4 MiB
// into the file and 1 and 4 MiB into memory, once each. When curl is installed the same file
// download is timed with it, for comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "base/message_target.h"
#include "bench_check.h"
#include "base/socket.h"
#include "service/http_request.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;

// Serves GET /<size> with a Content-Length body of that many bytes, one connection at a time.
class BulkServer {
 public:
  BulkServer() : block_(kMiB, 'k') {
    SocketLibraryStartup();
    listening_ = ListenOnLoopback(0, &port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BulkServer() {
    AbortSocket(listening_);
    thread_.join();
    ReleaseAbortedSocket(listening_);
    SocketLibraryCleanup();
  }
  std::string Url(int64_t size) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::to_string(size);
  }

 private:
  void Serve() {
    while (true) {
      const SocketHandle socket = AcceptConnection(listening_);
      if (socket == kNoSocket) return;
      std::string request;
      char buffer[2048];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const long got = ReceiveOnce(socket, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      int64_t size = std::atoll(request.c_str() + std::min<size_t>(request.size(), 5));
      const std::string head =
          "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
      bool ok = SendAll(socket, head.data(), head.size());
      while (ok && size > 0) {
        const size_t piece = static_cast<size_t>(std::min<int64_t>(size, kMiB));
        ok = SendAll(socket, block_.data(), piece);
        size -= static_cast<int64_t>(piece);
      }
      ShutdownSending(socket);
      while (ReceiveOnce(socket, buffer, sizeof buffer) > 0) {
      }
      CloseSocket(socket);
    }
  }

  std::string block_;
  SocketHandle listening_ = kNoSocket;
  uint16_t port_ = 0;
  std::thread thread_;
};

BulkServer& Server() {
  static BulkServer server;
  return server;
}

class EndSignal final : public MessageTarget {
 public:
  bool Post(uint32_t, uintptr_t event, intptr_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = ended_ || event == HttpRequest::kEventEnded;
    changed_.notify_all();
    return true;
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return ended_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool Download(int64_t size, HttpBodySink* output) {
  HttpRequest request(Wide(Server().Url(size)));
  request.SetOutput(output);
  EndSignal ended;
  if (!request.Start(ended, 0x0401)) return false;
  ended.Wait();
  const bool whole = request.Complete() && request.bytesReceived() == size;
  request.Close();
  return whole;
}

void Report(benchmark::State& state, int64_t size) {
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["MiB/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * size) / kMiB, benchmark::Counter::kIsRate);
}

void BM_DownloadToFile(benchmark::State& state) {
  const int64_t size = state.range(0) * kMiB;
  const std::string path = "/tmp/kavrin_bench_download.bin";
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FileBodySink sink(file);
    const bool whole = Download(size, &sink);
    std::fclose(file);
    if (!whole) BenchFail(state, "download incomplete");
  }
  std::remove(path.c_str());
  Report(state, size);
}

void BM_DownloadToMemory(benchmark::State& state) {
  const int64_t size = state.range(0) * kMiB;
  for (auto _ : state) {
    if (!Download(size, nullptr)) BenchFail(state, "download incomplete");
  }
  Report(state, size);
}

void BM_CurlDownloadToFile(benchmark::State& state) {
  const int64_t size = state.range(0) * kMiB;
  if (std::system("command -v curl >/dev/null 2>&1") != 0) {
    state.SkipWithError("curl is not installed");
    return;
  }
  const std::string command = "curl -s -o /tmp/kavrin_bench_curl.bin " + Server().Url(size);
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  }
  std::remove("/tmp/kavrin_bench_curl.bin");
  Report(state, size);
}

}  // namespace

const int64_t kFileMiB = BenchCount(64, 4);
BENCHMARK(BM_DownloadToFile)
    ->Arg(kFileMiB)
    ->Apply(OnceWhenShort)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CurlDownloadToFile)
    ->Arg(kFileMiB)
    ->Apply(OnceWhenShort)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DownloadToMemory)
    ->Arg(1)
    ->Arg(BenchCount(8, 4))
    ->Apply(OnceWhenShort)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
