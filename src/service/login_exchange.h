// The login exchange: from the user's press of Connect to an engine ready to connect. Saves or
// forgets the credentials, logs in at the login host, judges the account, lets the user choose a
// policy, makes the connection plan (fetching the chosen route set) and builds the engine for
// the plan.
//
// Everything the exchange needs from the screen, the network and the system comes through the
// ports below, so the whole sequence runs natively in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "service/connection_plan.h"
#include "service/policy_chooser.h"
#include "service/scramble.h"
#include "service/server_response.h"
#include "vpn/general_vpn.h"

inline constexpr wchar_t kClientVersion[] = L"2.1.0.0";
// The service's web site; its pages hang off this address.
inline constexpr wchar_t kServiceWebSite[] = L"http://www.orumavpn.com/";

// Adds "rf=<tag>" with '?' when the address has no query yet, else with '&'.
std::wstring AppendReferral(std::wstring url, const std::wstring& tag);

// The three machine identification values, narrow texts computed once at start-up.
struct ClientIdentity {
  std::string bios;
  std::string disk;
  std::string adapters;
};

// `userAnsi` is the user name in the ANSI code page; `time` the low 32 bits of the current time.
std::wstring BuildLoginUrl(const std::wstring& loginHost, const std::string& userAnsi,
                           const ScrambledValue& password, const ScrambledValue& bios,
                           const ScrambledValue& disk, const ScrambledValue& adapters, int32_t time,
                           const std::wstring& referralTag);
std::wstring BuildRouteListUrl(const std::wstring& loginHost, const std::string& userAnsi,
                               const ScrambledValue& password, const std::wstring& routeId,
                               const std::wstring& referralTag);

// Local date of a time in seconds since 1970 UTC as "YYYY-MM-DD"; empty when the time cannot
// be converted.
std::wstring FormatLocalDate(int64_t secondsSince1970);

// The fetch-with-progress dialog: runs requests for `urls` at once and keeps the body of the
// first good answer (status 200, complete, and the response marker when `requireMarker`).
class LoginFetcher {
 public:
  // kNotStarted: no request could even start, and the dialog has already told the user so.
  enum class Result { kOk, kCancelled, kFailed, kNotStarted };
  virtual ~LoginFetcher() = default;
  virtual Result Fetch(const std::vector<std::wstring>& urls, bool requireMarker,
                       std::string& body) = 0;
};

// Whether a newer client is required, judged from an answer of the service.
class OnlineUpdateCheck {
 public:
  enum Result : int { kContinue = 0, kInvalidResponse = 1, kUpdateStarted = 2 };
  virtual ~OnlineUpdateCheck() = default;
  virtual int Check(const ServiceAnswer& answer) = 0;
};

// Makes the engine of a tunnel type (1 PPTP, 2 L2TP, 3 OpenVPN); null for a type this build
// cannot make.
class EngineFactory {
 public:
  virtual ~EngineFactory() = default;
  virtual std::unique_ptr<CGeneralVpn> CreateEngine(int32_t tunnelType) = 0;
};

enum class MessageIcon { kNone, kInformation, kWarning, kQuestion, kError };

// The parts of the main window the exchange writes to.
class LoginView {
 public:
  virtual ~LoginView() = default;
  // The status line; with `showBox` also an OK box.
  virtual void SetStatus(const std::wstring& text, bool showBox) = 0;
  virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
  virtual void SetExpiryText(const std::wstring& text) = 0;
  virtual void OpenWebPage(const std::wstring& url) = 0;
};

struct LoginPorts {
  SettingsStore& settings;
  LoginFetcher& fetcher;
  OnlineUpdateCheck& update;
  PolicyChooser& policy;
  EngineFactory& engines;
  LoginView& view;
  RandomSource random;
  // Seconds since 1970 UTC.
  std::function<int64_t()> now;
  // A port may end the exchange by throwing (the main window's Exit during one of its boxes,
  // docs/modal-loops.md); what the exchange holds, the response record too, goes on the way out.
};

struct LoginInputs {
  std::wstring loginHost;
  std::wstring userName;
  std::wstring password;
  bool savePassword = true;
  // Where the answer received is kept as a record while the exchange runs. Every decision reads
  // the answer as received: others may change the file once it is written.
  std::wstring responseRecord;
  // False when the data folder is not the program's own: the record is then neither written nor
  // deleted.
  bool keepRecord = true;
  std::wstring referralTag;
  ClientIdentity identity;
  CGeneralVpnCallbackInterface* callback = nullptr;
};

struct LoginOutcome {
  // Configured and not yet connected; null when the exchange stopped on the way.
  std::unique_ptr<CGeneralVpn> engine;
  // What the engine was configured from; valid with an engine.
  ConnectionPlan plan;
};

// Runs the exchange up to a configured engine. The record never outlives the call.
LoginOutcome RunLoginExchange(LoginPorts& ports, const LoginInputs& inputs);
