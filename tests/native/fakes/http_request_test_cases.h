// The HttpRequest tests against a live loopback server. Included by the native test binary and by
// the Windows one, so the same cases run on BSD sockets and on Winsock under Wine.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fakes/loopback_http_server.h"
#include "service/http_request.h"

namespace http_request_cases {

constexpr uint32_t kMessage = 0x0401;
using Connection = LoopbackHttpServer::Connection;

struct Fetched {
  std::vector<uintptr_t> events;
  int32_t status = 0;
  HttpOutcome outcome = HttpOutcome::kRunning;
  std::string body;
  HttpHeaders headers;
};

inline Fetched Fetch(const std::wstring& url, HttpLimits limits = {}) {
  QueueTarget target;
  HttpRequest request(url);
  request.SetLimits(limits);
  Fetched fetched;
  if (!request.Start(target, kMessage)) return fetched;
  EXPECT_TRUE(target.WaitFor(HttpRequest::kEventEnded));
  fetched.status = request.statusCode();
  fetched.outcome = request.outcome();
  fetched.headers = request.headers();
  fetched.body = request.DetachBody();
  request.Close();
  for (const QueueTarget::Message& m : target.messages()) {
    EXPECT_EQ(m.message, kMessage);
    EXPECT_EQ(m.lParam, reinterpret_cast<intptr_t>(&request));
    fetched.events.push_back(m.wParam);
  }
  return fetched;
}

inline const char* kOkHead = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";

}  // namespace http_request_cases

TEST(HttpRequestLive, SendsOnlyHostAndConnectionCloseAndReportsInOrder) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) { c.Send(std::string(kOkHead) + "hello"); });
  ASSERT_TRUE(server.listening());

  const Fetched fetched = Fetch(server.Url(L"127.0.0.1/a?u=%20x&cmd=login"));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /a?u=%20x&cmd=login HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.outcome, HttpOutcome::kComplete);
  EXPECT_EQ(fetched.body, "hello");
  // A numeric host needs no look-up, so no event 1.
  ASSERT_GE(fetched.events.size(), 3u);
  EXPECT_EQ(fetched.events[0], HttpRequest::kEventConnected);
  EXPECT_EQ(fetched.events[1], HttpRequest::kEventHeaders);
  EXPECT_EQ(fetched.events.back(), HttpRequest::kEventEnded);
  for (size_t i = 2; i + 1 < fetched.events.size(); ++i) {
    EXPECT_EQ(fetched.events[i], HttpRequest::kEventProgress);
  }
}

TEST(HttpRequestLive, LooksUpANameFirst) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) { c.Send(std::string(kOkHead) + "hello"); });
  const Fetched fetched = Fetch(server.Url(L"localhost/x"));
  ASSERT_FALSE(fetched.events.empty());
  EXPECT_EQ(fetched.events.front(), HttpRequest::kEventResolving);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].find("Host: localhost\r\n") != std::string::npos, true);
  EXPECT_EQ(fetched.body, "hello");
}

TEST(HttpRequestLive, InvalidUrlsGiveOnlyTheEndEvent) {
  using namespace http_request_cases;
  for (const wchar_t* url : {L"http://", L"http:/", L"http://example", L"http://127.0.0.1:1"}) {
    const Fetched fetched = Fetch(url);
    EXPECT_EQ(fetched.events, std::vector<uintptr_t>{HttpRequest::kEventEnded}) << url;
    EXPECT_EQ(fetched.status, 0);
    EXPECT_EQ(fetched.outcome, HttpOutcome::kFailed);
  }
}

TEST(HttpRequestLive, DecodesChunkedBodiesWhateverTheCaseAndSplit) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) {
    c.SendPaced({"HTTP/1.1 200 OK\r\nTRANSFER-ENCODING: Chunked\r\nX-Kind:  first \r\n",
                 "x-kind: second\r\n\r\n1\r\n", "a\r\n1", "b;name=value\r\nbcdefghijk",
                 "lmnopqrstu", "vwxyz01\r\n5\r\n23456\r\n0\r\nTrailer: ignored\r\n\r\n"});
  });
  const Fetched fetched = Fetch(server.Url(L"127.0.0.1/routes"));
  EXPECT_EQ(fetched.outcome, HttpOutcome::kComplete);
  EXPECT_EQ(fetched.body, "abcdefghijklmnopqrstuvwxyz0123456");
  EXPECT_EQ(fetched.headers.at("x-kind"), "second");
  EXPECT_EQ(fetched.headers.count("transfer-encoding"), 1u);
}

TEST(HttpRequestLive, ChunkSizeLineThatDoesNotEndInTimeEndsTheRequest) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) {
    c.SendPaced({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "0000000000000000001",
                 "\r\nx\r\n0\r\n\r\n"},
                std::chrono::milliseconds(200));
  });
  const Fetched fetched = Fetch(server.Url(L"127.0.0.1/"));
  EXPECT_EQ(fetched.outcome, HttpOutcome::kIncomplete);
  EXPECT_EQ(fetched.body, "");
  EXPECT_EQ(fetched.events.back(), HttpRequest::kEventEnded);
}

TEST(HttpRequestLive, BodyWithoutLengthEndsWhenTheServerCloses) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) {
    c.SendPaced({"HTTP/1.1 200 OK\r\n\r\nfirst ", "second"});
  });
  const Fetched fetched = Fetch(server.Url(L"127.0.0.1/"));
  EXPECT_EQ(fetched.outcome, HttpOutcome::kComplete);
  EXPECT_EQ(fetched.body, "first second");
}

TEST(HttpRequestLive, CutOffBodiesAreIncompleteNotAccepted) {
  using namespace http_request_cases;
  LoopbackHttpServer shortLength([](Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nMagicTag=VpnServerResponse");
  });
  EXPECT_EQ(Fetch(shortLength.Url(L"127.0.0.1/")).outcome, HttpOutcome::kIncomplete);

  LoopbackHttpServer noLastChunk([](Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n");
  });
  const Fetched fetched = Fetch(noLastChunk.Url(L"127.0.0.1/"));
  EXPECT_EQ(fetched.outcome, HttpOutcome::kIncomplete);
  EXPECT_EQ(fetched.status, 200);

  LoopbackHttpServer noHeaders([](Connection& c) { c.Send("HTTP/1.1 200 OK\r\n"); });
  EXPECT_EQ(Fetch(noHeaders.Url(L"127.0.0.1/")).outcome, HttpOutcome::kFailed);
}

TEST(HttpRequestLive, HostileServersCannotMakeItHoldUnboundedMemory) {
  using namespace http_request_cases;
  LoopbackHttpServer endlessHeaders([](Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\n");
    const std::string line = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    for (int i = 0; i < 200 && c.Send(line); ++i) {
    }
  });
  EXPECT_EQ(Fetch(endlessHeaders.Url(L"127.0.0.1/")).outcome, HttpOutcome::kTooLarge);

  LoopbackHttpServer bigBody([](Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\n\r\n");
    const std::string block(4096, 'b');
    for (int i = 0; i < 64 && c.Send(block); ++i) {
    }
  });
  HttpLimits limits;
  limits.memoryBody = 100 * 1024;
  const Fetched fetched = Fetch(bigBody.Url(L"127.0.0.1/"), limits);
  EXPECT_EQ(fetched.outcome, HttpOutcome::kTooLarge);
  EXPECT_LE(fetched.body.size(), 100u * 1024);
}

TEST(HttpRequestLive, WritesTheBodyToTheOutputInsteadOfMemory) {
  using namespace http_request_cases;
  const std::string payload(300000, 'p');
  LoopbackHttpServer server([&](Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(payload.size()) + "\r\n\r\n" +
           payload);
  });
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  FileBodySink sink(file);
  QueueTarget target;
  HttpRequest request(server.Url(L"127.0.0.1/package.exe"));
  request.SetOutput(&sink);
  ASSERT_TRUE(request.Start(target, http_request_cases::kMessage));
  ASSERT_TRUE(target.WaitFor(HttpRequest::kEventEnded));
  EXPECT_EQ(request.outcome(), HttpOutcome::kComplete);
  EXPECT_EQ(request.bytesReceived(), static_cast<int64_t>(payload.size()));
  EXPECT_EQ(request.contentLength(), static_cast<int64_t>(payload.size()));
  EXPECT_EQ(request.BodyLength(), 0u);
  request.Close();
  EXPECT_EQ(std::ftell(file), static_cast<long>(payload.size()));
  std::fclose(file);
}

TEST(HttpRequestLive, CloseStopsAWorkerWhoseServerNeverAnswers) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) { c.Hang(); });
  QueueTarget target;
  HttpRequest request(server.Url(L"127.0.0.1/client_announcements.php?v=2.1.0.0"));
  ASSERT_TRUE(request.Start(target, kMessage));
  ASSERT_TRUE(target.WaitFor(HttpRequest::kEventConnected));
  // Give the worker time to settle into its wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(request.Start(target, kMessage));

  const auto started = std::chrono::steady_clock::now();
  request.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
  EXPECT_EQ(target.events().back(), HttpRequest::kEventEnded);
  EXPECT_NE(request.outcome(), HttpOutcome::kComplete);
  server.Release();
}

TEST(HttpRequestLive, ProgressIsReportedAtMostOnceASecond) {
  using namespace http_request_cases;
  LoopbackHttpServer server([](Connection& c) {
    std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\n"};
    for (int i = 0; i < 15; ++i) pieces.push_back("ab");
    c.SendPaced(pieces, std::chrono::milliseconds(100));
  });
  const auto started = std::chrono::steady_clock::now();
  const Fetched fetched = Fetch(server.Url(L"127.0.0.1/slow"));
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count();
  EXPECT_EQ(fetched.body.size(), 30u);
  size_t progress = 0;
  for (const uintptr_t event : fetched.events) progress += event == HttpRequest::kEventProgress;
  // The first progress at once, then no more than one a second.
  EXPECT_GE(progress, 1u);
  EXPECT_LE(progress, 1u + static_cast<size_t>(seconds));
  EXPECT_GE(seconds, 1);
  EXPECT_EQ(fetched.events.back(), HttpRequest::kEventEnded);
}
