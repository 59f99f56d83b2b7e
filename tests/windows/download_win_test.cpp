#include <gtest/gtest.h>

#include <string>

#include "config/text_table.h"
#include "fakes/loopback_http_server.h"
#include "service/dlg_download_win.h"

namespace {

std::string Answer(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

LoopbackHttpServer::Script Sends(std::string bytes) {
  return [bytes](LoopbackHttpServer::Connection& c) { c.Send(bytes); };
}

// Presses the fetch dialog's Cancel button as soon as the dialog is up.
void CALLBACK PressCancel(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowW(L"#32770", GetText("VpnAppLoginTitle").c_str());
  if (!dialog) return;
  KillTimer(nullptr, timer);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

// Answers the first untitled box (the dialog's own, shown without an application object).
void CALLBACK DismissBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", L"");
  if (!box) return;
  KillTimer(nullptr, timer);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

class DownloadDialogWin : public ::testing::Test {
 protected:
  void SetUp() override { BuildTextTable(); }
  DownloadDialogFetcher fetcher_;
  std::string body_;
};

}  // namespace

TEST_F(DownloadDialogWin, FirstAnswerWithTheMarkerWins) {
  const std::string good = "MagicTag=VpnServerResponse\r\n[VPN]\r\nAuthResult=OK\r\n";
  LoopbackHttpServer unmarked(Sends(Answer(200, "no marker")));
  LoopbackHttpServer failing(Sends(Answer(500, good)));
  LoopbackHttpServer marked(Sends(Answer(200, good)));
  const auto result = fetcher_.Fetch(
      {unmarked.Url(L"127.0.0.1/a"), failing.Url(L"127.0.0.1/b"), marked.Url(L"127.0.0.1/c")}, true,
      body_);
  EXPECT_EQ(result, LoginFetcher::Result::kOk);
  EXPECT_EQ(body_, good);
}

TEST_F(DownloadDialogWin, RouteListsNeedNoMarkerButMustArriveWhole) {
  LoopbackHttpServer routes(Sends(Answer(200, "10.0.0.0 mask 255.0.0.0\r\n")));
  EXPECT_EQ(fetcher_.Fetch({routes.Url(L"127.0.0.1/r")}, false, body_), LoginFetcher::Result::kOk);
  EXPECT_EQ(body_, "10.0.0.0 mask 255.0.0.0\r\n");

  body_.clear();
  // Announces more than it sends: a cut-off list must not pass for the whole one.
  LoopbackHttpServer cut(Sends("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n10.0.0.0 mask"));
  EXPECT_EQ(fetcher_.Fetch({cut.Url(L"127.0.0.1/r")}, false, body_), LoginFetcher::Result::kFailed);
  EXPECT_TRUE(body_.empty());
}

TEST_F(DownloadDialogWin, NoGoodAnswerEndsAsAFailureNotACancel) {
  LoopbackHttpServer failing(Sends(Answer(404, "")));
  EXPECT_EQ(
      fetcher_.Fetch({failing.Url(L"127.0.0.1/a"), L"http://127.0.0.1:1/closed"}, true, body_),
      LoginFetcher::Result::kFailed);

  // Nothing could start: the dialog has said so in its box, and tells the caller it did.
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, DismissBox);
  EXPECT_EQ(fetcher_.Fetch({}, true, body_), LoginFetcher::Result::kNotStarted);
  KillTimer(nullptr, timer);
}

TEST_F(DownloadDialogWin, CancelStopsAHangingRequest) {
  LoopbackHttpServer hanging([](LoopbackHttpServer::Connection& c) { c.Hang(); });
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, PressCancel);
  const auto result = fetcher_.Fetch({hanging.Url(L"127.0.0.1/a")}, true, body_);
  KillTimer(nullptr, timer);
  hanging.Release();
  EXPECT_EQ(result, LoginFetcher::Result::kCancelled);
}
