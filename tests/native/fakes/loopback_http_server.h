// A small HTTP server on 127.0.0.1 for the HTTP client's tests, built on the program's own socket
// layer so that the same tests run natively and under Wine. Each connection's request header
// block is recorded, then a script decides what the connection gets back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/socket.h"

class LoopbackHttpServer {
 public:
  class Connection {
   public:
    Connection(LoopbackHttpServer& server, SocketHandle socket)
        : server_(server), socket_(socket) {}
    bool Send(std::string_view bytes) { return SendAll(socket_, bytes.data(), bytes.size()); }
    // Sends the pieces one by one with a pause between them, so the client receives them apart.
    void SendPaced(const std::vector<std::string>& pieces,
                   std::chrono::milliseconds pause = std::chrono::milliseconds(30)) {
      for (const std::string& piece : pieces) {
        if (!Send(piece)) return;
        std::this_thread::sleep_for(pause);
      }
    }
    // Blocks until the test lets the server go: a server that never answers.
    void Hang() { server_.WaitForRelease(); }

   private:
    LoopbackHttpServer& server_;
    SocketHandle socket_;
  };
  using Script = std::function<void(Connection&)>;

  explicit LoopbackHttpServer(Script script) : script_(std::move(script)) {
    SocketLibraryStartup();
    listening_ = ListenOnLoopback(0, &port_);
    if (listening_ != kNoSocket) thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackHttpServer() {
    Release();
    AbortSocket(listening_);
    if (thread_.joinable()) thread_.join();
    ReleaseAbortedSocket(listening_);
    SocketLibraryCleanup();
  }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  bool listening() const { return listening_ != kNoSocket; }
  uint16_t port() const { return port_; }
  std::wstring Url(const std::wstring& hostAndPath) const {
    const size_t slash = hostAndPath.find(L'/');
    return L"http://" + hostAndPath.substr(0, slash) + L":" + std::to_wstring(port_) +
           hostAndPath.substr(slash);
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    releasedChanged_.notify_all();
  }

 private:
  void WaitForRelease() {
    std::unique_lock<std::mutex> lock(mutex_);
    releasedChanged_.wait(lock, [this] { return released_; });
  }

  // One connection at a time is enough for these tests, and keeps the server simple.
  void Serve() {
    while (true) {
      const SocketHandle socket = AcceptConnection(listening_);
      if (socket == kNoSocket) return;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const long got = ReceiveOnce(socket, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      Connection connection(*this, socket);
      script_(connection);
      ShutdownSending(socket);
      // Let the client read to the end before the socket goes, so it sees a clean close.
      while (ReceiveOnce(socket, buffer, sizeof buffer) > 0) {
      }
      CloseSocket(socket);
    }
  }

  Script script_;
  SocketHandle listening_ = kNoSocket;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable releasedChanged_;
  bool released_ = false;
  std::vector<std::string> requests_;
};

// Posted messages, kept in order, for a test to wait on.
#include "base/message_target.h"

class QueueTarget final : public MessageTarget {
 public:
  struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };

  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({message, wParam, lParam});
    changed_.notify_all();
    return true;
  }
  // True once a message with this wParam arrived within the time.
  bool WaitFor(uintptr_t wParam, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      for (const Message& m : messages_) {
        if (m.wParam == wParam) return true;
      }
      return false;
    });
  }
  std::vector<Message> messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<uintptr_t> events() {
    std::vector<uintptr_t> out;
    for (const Message& m : messages()) out.push_back(m.wParam);
    return out;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
};
