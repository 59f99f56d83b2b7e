#include "service/http_request.h"

#include <chrono>
#include <optional>
#include <system_error>
#include <vector>

#include "base/text.h"
#include "service/http_url.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(1000);
constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

}  // namespace

HttpRequest::HttpRequest(std::wstring url) : url_(std::move(url)) {}

HttpRequest::~HttpRequest() { Close(); }

bool HttpRequest::Start(MessageTarget& target, uint32_t message) {
  if (worker_.joinable()) return false;
  target_ = &target;
  message_ = message;
  statusCode_ = 0;
  contentLength_ = -1;
  bytesReceived_ = 0;
  outcome_ = HttpOutcome::kRunning;
  headers_.clear();
  body_.Clear();
  closing_ = false;

  if (!socketLibraryStarted_) {
    if (!SocketLibraryStartup()) return false;
    socketLibraryStarted_ = true;
  }
  CloseSocket(socket_.exchange(kNoSocket));
  const SocketHandle socket = OpenTcpSocket();
  if (socket == kNoSocket) return false;
  socket_ = socket;
  try {
    worker_ = std::thread(&HttpRequest::Run, this, socket);
  } catch (const std::system_error&) {
    CloseSocket(socket_.exchange(kNoSocket));
    return false;
  }
  return true;
}

void HttpRequest::Close() {
  const SocketHandle socket = socket_.exchange(kNoSocket);
  if (worker_.joinable()) {
    closing_ = true;
    AbortSocket(socket);
    worker_.join();
    ReleaseAbortedSocket(socket);
  } else {
    CloseSocket(socket);
  }
  if (socketLibraryStarted_) {
    SocketLibraryCleanup();
    socketLibraryStarted_ = false;
  }
  body_.Clear();
}

void HttpRequest::Post(Event event) {
  target_->Post(message_, event, reinterpret_cast<intptr_t>(this));
}

void HttpRequest::Publish(const HttpResponseParser& parser) {
  statusCode_ = parser.statusCode();
  contentLength_ = parser.contentLength();
  bytesReceived_ = parser.bytesReceived();
}

// The worker keeps the handle it was started with: Close takes socket_ away, and the abort has to
// reach the call the worker is blocked in on that very handle.
void HttpRequest::Run(SocketHandle socket) {
  HttpResponseParser parser(output_ ? *output_ : static_cast<HttpBodySink&>(body_),
                            output_ == nullptr, limits_);
  HttpOutcome outcome = HttpOutcome::kFailed;
  if (const std::optional<HttpUrl> url = ParseHttpUrl(url_)) {
    outcome = Receive(socket, *url, parser);
  }
  Publish(parser);
  outcome_ = outcome;
  Post(kEventEnded);
}

HttpOutcome HttpRequest::Receive(SocketHandle socket, const HttpUrl& url,
                                 HttpResponseParser& parser) {
  const std::string host = WideToAnsi(url.host);
  const std::string request = WideToAnsi(BuildRequestText(url));

  uint32_t address = ParseIpv4OrNone(host);
  if (address == kNoAddress || address == 0) {
    Post(kEventResolving);
    if (!ResolveIpv4Address(host, &address)) return parser.Abort();
  }
  // A BSD socket that is not connected yet ignores the shutdown that aborts it, so the flag is
  // looked at again once the connection stands.
  if (closing_ || !ConnectIpv4(socket, address, url.port) || closing_) return parser.Abort();
  Post(kEventConnected);
  if (!SendAll(socket, request.data(), request.size())) return parser.Abort();

  auto lastProgress = Clock::now() - kProgressInterval;
  std::vector<char> received;
  while (true) {
    if (!WaitReadable(socket) || closing_) return parser.Abort();
    const long waiting = BytesWaiting(socket);
    if (waiting < 0) return parser.Abort();
    if (waiting == 0) return parser.Finish();
    if (received.size() < static_cast<size_t>(waiting)) {
      received.resize(static_cast<size_t>(waiting));
    }
    const long got = ReceiveOnce(socket, received.data(), static_cast<size_t>(waiting));
    if (got <= 0) return parser.Abort();

    const bool hadHeaders = parser.headersParsed();
    const HttpOutcome outcome =
        parser.Feed(std::string_view(received.data(), static_cast<size_t>(got)));
    Publish(parser);
    if (!hadHeaders && parser.headersParsed()) {
      headers_ = parser.headers();
      Post(kEventHeaders);
    }
    if (parser.headersParsed() && Clock::now() - lastProgress > kProgressInterval) {
      Post(kEventProgress);
      lastProgress = Clock::now();
    }
    if (outcome != HttpOutcome::kRunning) return outcome;
  }
}
