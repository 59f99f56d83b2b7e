#include "service/login_exchange.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>

#include "base/file_attributes.h"
#include "base/file_path.h"
#include "base/text.h"
#include "config/text_table.h"
#include "service/http_url.h"
#include "service/route_list.h"
#include "service/server_response.h"

namespace {

// A read-only, hidden or system leftover would make the fresh answer unwritable and
// undeletable.
void MakeWritable(const std::wstring& file) { ResetFileAttributes(file); }

void RemoveFile(const std::wstring& file) {
  MakeWritable(file);
  std::error_code ignored;
  std::filesystem::remove(FileSystemPath(file), ignored);
}

std::wstring Encoded(const std::string& bytes) { return PercentEncode(Base64Encode(bytes)); }

// The record of the answer lives from the login fetch to the end of the exchange, whatever the
// outcome.
class ResponseRecordGuard {
 public:
  explicit ResponseRecordGuard(const LoginInputs& in) : in_(in) {
    if (in_.keepRecord) MakeWritable(in_.responseRecord);
  }
  ~ResponseRecordGuard() {
    if (in_.keepRecord) RemoveFile(in_.responseRecord);
  }
  ResponseRecordGuard(const ResponseRecordGuard&) = delete;
  ResponseRecordGuard& operator=(const ResponseRecordGuard&) = delete;

 private:
  const LoginInputs& in_;
};

class LoginRun {
 public:
  LoginRun(LoginPorts& ports, const LoginInputs& inputs) : ports_(ports), in_(inputs) {}

  LoginOutcome Run() {
    LoginOutcome outcome;
    if (in_.userName.empty()) {
      ports_.view.ShowMessage(GetText("PleaseInputValidUsername"), MessageIcon::kNone);
      return outcome;
    }
    RememberCredentials();
    ports_.view.SetStatus(GetText("PreparingLogin"), false);
    ResponseRecordGuard guard(in_);

    if (!FetchLoginResponse() || !AccountAccepted()) return outcome;
    PolicyChoice choice;
    const bool chosen = ports_.policy.ChoosePolicy(answer_, choice);
    if (!chosen) {
      ports_.view.SetStatus(GetText("LoginIsCancelled"), false);
      return outcome;
    }
    PlanResult planned = MakeConnectionPlan(
        answer_, choice, [this](const std::wstring& routeId) { return FetchRouteLines(routeId); });
    if (!planned.plan) {
      ports_.view.SetStatus(GetText("LoginIsCancelled"), false);
      return outcome;
    }

    outcome.engine = ports_.engines.CreateEngine(planned.plan->tunnelType);
    if (!outcome.engine) {
      ports_.view.SetStatus(GetText("VpnUnknownError"), true);
      return outcome;
    }
    outcome.plan = std::move(*planned.plan);
    Configure(*outcome.engine, outcome.plan);
    return outcome;
  }

 private:
  void RememberCredentials() {
    ports_.settings.SetSavePassword(in_.savePassword);
    if (in_.savePassword) {
      ports_.settings.SaveCredentials(in_.userName, in_.password);
    } else {
      ports_.settings.ForgetCredentials();
    }
  }

  bool FetchLoginResponse() {
    userAnsi_ = WideToAnsi(in_.userName);
    // Drawn in this order from the one random sequence; the service decodes each on its own.
    password_ = ScrambleValue(WideToAnsi(in_.password), ports_.random);
    const ScrambledValue bios = ScrambleValue(in_.identity.bios, ports_.random);
    const ScrambledValue disk = ScrambleValue(in_.identity.disk, ports_.random);
    const ScrambledValue adapters = ScrambleValue(in_.identity.adapters, ports_.random);
    const auto time = static_cast<int32_t>(static_cast<uint32_t>(ports_.now()));
    const std::wstring url = BuildLoginUrl(in_.loginHost, userAnsi_, password_, bios, disk,
                                           adapters, time, in_.referralTag);
    std::string body;
    const LoginFetcher::Result result = ports_.fetcher.Fetch({url}, true, body);
    if (result == LoginFetcher::Result::kCancelled) {
      ports_.view.SetStatus(GetText("LoginIsCancelled"), false);
      return false;
    }
    if (result != LoginFetcher::Result::kOk) {
      // A fetch that could not start has shown its own box; one is enough.
      ports_.view.SetStatus(GetText("NetworkOrServerErrorToLogin"),
                            result != LoginFetcher::Result::kNotStarted);
      return false;
    }
    // Decided from these bytes alone. The file is the record: one that cannot be written costs
    // nothing, and what it says when read back is never asked.
    answer_ = ParseServiceAnswer(body, GetText("UnknownClientIP"));
    if (in_.keepRecord) SaveResponseBody(in_.responseRecord, body);
    const int update = ports_.update.Check(answer_);
    if (update == OnlineUpdateCheck::kUpdateStarted) return false;
    if (update != OnlineUpdateCheck::kContinue) {
      ports_.view.SetStatus(GetText("NetworkOrServerErrorToLogin"), true);
      return false;
    }
    return true;
  }

  bool AccountAccepted() {
    const AccountState& account = answer_.account;
    if (!account.LoginSucceeded()) {
      ports_.view.ShowMessage(GetText("LoginError") + L": " + account.authMessage,
                              MessageIcon::kNone);
      ports_.view.SetStatus(GetText("LoginError"), false);
      if (account.Expired()) {
        ports_.view.SetExpiryText(GetText("ExpiredDateExpired"));
        ports_.view.OpenWebPage(AppendReferral(kServiceWebSite, in_.referralTag));
      }
      return false;
    }
    if (account.expirationGmt != 0) {
      ports_.view.SetExpiryText(FormatLocalDate(account.expirationGmt));
    }
    if (!account.authMessage.empty()) {
      ports_.view.ShowMessage(account.authMessage, MessageIcon::kInformation);
    }
    return true;
  }

  // The lines of the service's route set `routeId`; empty when the fetch failed or the program
  // is on its way out.
  std::optional<RouteList> FetchRouteLines(const std::wstring& routeId) {
    std::string body;
    const LoginFetcher::Result result = ports_.fetcher.Fetch(
        {BuildRouteListUrl(in_.loginHost, userAnsi_, password_, routeId, in_.referralTag)}, false,
        body);
    if (result != LoginFetcher::Result::kOk) return std::nullopt;
    return ParseRouteList(body);
  }

  void Configure(CGeneralVpn& engine, const ConnectionPlan& plan) {
    engine.callback = in_.callback;
    EngineRoutes routes = EngineRoutesOf(plan.routes);
    engine.routeMode = routes.routeMode;
    engine.routeList = std::move(routes.lines);
    engine.useMppe = plan.server.pptpUseMppe != 0 ? 1 : 0;
    engine.serverAddress = plan.server.serverHost;
    engine.userName = in_.userName;
    engine.password = in_.password;
    const ProxySettings proxy = ports_.settings.GetProxy();
    engine.SetProxy(proxy.type, proxy.server.c_str(), static_cast<int32_t>(proxy.port),
                    proxy.username.c_str(), proxy.password.c_str());
  }

  LoginPorts& ports_;
  const LoginInputs& in_;
  std::string userAnsi_;
  ScrambledValue password_;
  ServiceAnswer answer_;
};

}  // namespace

std::wstring AppendReferral(std::wstring url, const std::wstring& tag) {
  url += url.find(L'?') == std::wstring::npos ? L'?' : L'&';
  return url + L"rf=" + tag;
}

std::wstring BuildLoginUrl(const std::wstring& loginHost, const std::string& userAnsi,
                           const ScrambledValue& password, const ScrambledValue& bios,
                           const ScrambledValue& disk, const ScrambledValue& adapters, int32_t time,
                           const std::wstring& referralTag) {
  std::wstring url = loginHost + L"client_login.php?u=" + PercentEncode(userAnsi);
  url += L"&p=" + Encoded(password.scrambled);
  url += L"&s=" + Encoded(password.key);
  url += L"&a=" + Encoded(bios.key);
  url += L"&b=" + Encoded(bios.scrambled);
  url += L"&c=" + Encoded(disk.key);
  url += L"&d=" + Encoded(disk.scrambled);
  url += L"&e=" + Encoded(adapters.key);
  url += L"&f=" + Encoded(adapters.scrambled);
  url += L"&t=" + std::to_wstring(time);
  url += L"&v=";
  url += kClientVersion;
  url += L"&cmd=login";
  return AppendReferral(std::move(url), referralTag);
}

std::wstring BuildRouteListUrl(const std::wstring& loginHost, const std::string& userAnsi,
                               const ScrambledValue& password, const std::wstring& routeId,
                               const std::wstring& referralTag) {
  std::wstring url = loginHost + L"client_login.php?u=" + PercentEncode(userAnsi);
  url += L"&p=" + Encoded(password.scrambled);
  url += L"&s=" + Encoded(password.key);
  // The id comes from the service; encoded so that no text in it can add parameters or break
  // the request line. Ids of letters and digits pass unchanged.
  url += L"&cmd=getvpnroutes&id=" + PercentEncode(WideToAnsi(routeId));
  return AppendReferral(std::move(url), referralTag);
}

std::wstring FormatLocalDate(int64_t secondsSince1970) {
  return FormatLocalTime(secondsSince1970, L"%Y-%m-%d");
}

LoginOutcome RunLoginExchange(LoginPorts& ports, const LoginInputs& inputs) {
  return LoginRun(ports, inputs).Run();
}
