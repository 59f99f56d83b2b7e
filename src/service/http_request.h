// One HTTP/1.1 GET on its own worker thread, reporting its progress by posted messages.
//
// The owner creates it with a URL, optionally sets an output, starts it and reads the results on
// its events; it must Close the request (which stops and joins the worker) before destroying it,
// and the destructor closes it too. Each event is posted to the target with the owner's message
// number, the event as wParam and the request itself as lParam.
//
// There are no time-outs: a server that neither answers nor closes keeps the request waiting
// until its owner closes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "base/message_target.h"
#include "base/socket.h"
#include "service/http_body.h"
#include "service/http_response_parser.h"
#include "service/http_url.h"

class HttpRequest {
 public:
  enum Event : uintptr_t {
    kEventResolving = 1,  // the host is a name and its look-up starts
    kEventConnected = 3,  // connected, before the request is sent
    kEventHeaders = 5,    // status, headers and content length are known
    kEventProgress = 6,   // more body bytes arrived; at most one a second
    kEventEnded = 7,      // always the last event of a started request
  };

  explicit HttpRequest(std::wstring url);
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Body bytes go to `output` (not owned; it must outlive the run) instead of memory. Only
  // before Start.
  void SetOutput(HttpBodySink* output) { output_ = output; }
  // Bounds for what the server may make the request hold. Only before Start.
  void SetLimits(const HttpLimits& limits) { limits_ = limits; }

  // False when a worker exists (even a finished one not yet closed) or no socket or thread could
  // be had; then no event is posted.
  bool Start(MessageTarget& target, uint32_t message);
  // Stops a waiting worker at once and waits for it to end. Safe to call more than once.
  void Close();

  const std::wstring& url() const { return url_; }

  // Readable at any time from the owner's thread.
  int32_t statusCode() const { return statusCode_.load(); }
  int64_t contentLength() const { return contentLength_.load(); }  // -1 when not given
  int64_t bytesReceived() const { return bytesReceived_.load(); }
  // kRunning until event 7. Callers take a body only from a complete response: anything else
  // means the answer is missing or cut off, whatever the status code says.
  HttpOutcome outcome() const { return outcome_.load(); }
  bool Complete() const { return outcome() == HttpOutcome::kComplete; }

  // From event 5 on.
  const HttpHeaders& headers() const { return headers_; }

  // From event 7 on, for a request without an output.
  size_t BodyLength() const { return body_.data().size(); }
  const std::string& body() const { return body_.data(); }
  std::string DetachBody() { return body_.Detach(); }

 private:
  void Run(SocketHandle socket);
  void Post(Event event);
  HttpOutcome Receive(SocketHandle socket, const HttpUrl& url, HttpResponseParser& parser);
  void Publish(const HttpResponseParser& parser);

  const std::wstring url_;
  HttpBodySink* output_ = nullptr;
  HttpLimits limits_;

  MessageTarget* target_ = nullptr;
  uint32_t message_ = 0;
  std::thread worker_;
  bool socketLibraryStarted_ = false;
  std::atomic<SocketHandle> socket_{kNoSocket};
  std::atomic<bool> closing_{false};

  std::atomic<int32_t> statusCode_{0};
  std::atomic<int64_t> contentLength_{-1};
  std::atomic<int64_t> bytesReceived_{0};
  std::atomic<HttpOutcome> outcome_{HttpOutcome::kRunning};
  HttpHeaders headers_;
  StringBodySink body_;
};
