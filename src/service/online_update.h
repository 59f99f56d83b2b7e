// The compulsory online update. Every service answer the client acts on passes this check
// first: when the service requires a newer client, the client says so, downloads the package
// with a progress dialog, verifies its MD5 and, when this program is signed, that the package is
// signed by the same publisher, starts it and closes itself, whatever the outcome.
//
// Two package kinds exist: the installer, which is simply started, and the portable program,
// which is started with "/update" and the path of the running program so that it copies itself
// over that file once this process has gone.
//
// The check decides everything here; the dialog, the shell and the version resource come in
// through the ports below, so every branch runs natively in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/program_settings.h"
#include "service/http_body.h"
#include "service/login_exchange.h"
#include "service/server_response.h"
#include "service/update_signature.h"

// "1024 B", "1.50 KB", "5120 GB": divided by 1024 while above 1024, at most up to GB; two
// decimals unless the value is (within 0.01) a whole number.
std::wstring FormatByteSize(double value);

// Only web addresses leave the program through the shell: a service text naming a local
// program or document must not be run by a click or an update failure.
bool IsWebAddress(const std::wstring& text);

// A package larger than this is not one of ours; the download is stopped there.
inline constexpr int64_t kMaxUpdatePackageBytes = 128ll * 1024 * 1024;

// Passes body bytes on to `inner` until more than `limit` bytes have come, then refuses them,
// which ends the request as incomplete: an endless body cannot fill the disk.
class BoundedBodySink final : public HttpBodySink {
 public:
  BoundedBodySink(HttpBodySink& inner, int64_t limit) : inner_(inner), limit_(limit) {}
  bool Write(const char* data, size_t size) override;
  int64_t written() const { return written_; }

 private:
  HttpBodySink& inner_;
  const int64_t limit_;
  int64_t written_ = 0;
};

// The download dialog's speed line and progress bar, from the request's counters.
class DownloadMeter {
 public:
  struct Reading {
    std::wstring status;  // the new speed line; empty leaves the line as it is
    int position = -1;    // 0 to 100; -1 leaves the bar as it is
  };

  explicit DownloadMeter(uint32_t startTicks) : previousTicks_(startTicks) {}
  // On every progress report and at the end. `contentLength` is -1 when the server gave none.
  Reading Measure(uint32_t nowTicks, int64_t bytesReceived, int64_t contentLength);

 private:
  uint32_t previousTicks_;
  int64_t previousBytes_ = 0;
};

enum class UpdatePackageKind { kInstaller, kPortable };

// The names the packages are downloaded under, each into a folder of its own.
inline constexpr wchar_t kInstallerPackageName[] = L"KavrinInstaller.exe";
inline constexpr wchar_t kPortablePackageName[] = L"Kavrin.exe";

// Where the running program lives.
struct OnlineUpdatePaths {
  std::wstring modulePath;    // the running executable
  std::wstring moduleFolder;  // its folder, ending with a separator
};

struct UpdatePackage {
  UpdatePackageKind kind = UpdatePackageKind::kInstaller;
  std::wstring url;
  std::wstring md5;
  std::wstring fileName;
  std::wstring parameters;  // for the shell's start of the package
};

// `force` is "ForceOnlineUpdateTest": "setup" and "green" pick the kind whatever
// `bindModulePresent` (an installation has the binding module beside the program) says.
UpdatePackage ChooseUpdatePackage(const AccountState& offer, const std::wstring& force,
                                  bool bindModulePresent, const OnlineUpdatePaths& paths);

// A downloaded package, held from its download to its start: while it is held nobody else can
// write, replace or delete the file, so the bytes whose digest is checked are the bytes started.
class DownloadedPackage {
 public:
  virtual ~DownloadedPackage() = default;
  virtual const std::wstring& Path() const = 0;
  // MD5 of the held bytes in lower-case hex; empty when they cannot be read.
  virtual std::wstring Md5Hex() = 0;
  // Lets go of the file and deletes it: a refused package is not left for anyone to start.
  virtual void Discard() = 0;
};

// The download dialog.
class UpdateDownloader {
 public:
  enum class Result { kCompleted, kCancelled, kFailed };
  virtual ~UpdateDownloader() = default;
  // Downloads `url` as `fileName` into a new folder only administrators can write.
  // kCompleted once the download has ended, however it ended (the MD5 check judges the file),
  // with `package` holding it; kCancelled when the user gave up; kFailed when it could not even
  // begin.
  virtual Result Download(const std::wstring& url, const std::wstring& fileName,
                          std::unique_ptr<DownloadedPackage>& package) = 0;
};

// Starts programs and opens web pages through the shell ("open", shown normally).
class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  // False when the shell could not start it. Runs `file` with our rights: only the package
  // whose signature was checked.
  virtual bool Open(const std::wstring& file, const std::wstring& parameters) = 0;
  // A web page, opened as the signed-in user rather than with our rights; false when it could
  // not be.
  virtual bool OpenWebPage(const std::wstring& url) = 0;
};

// The running program's file version, 16 bits a part from the major version down; 0 when its
// version resource cannot be read.
class ClientVersionSource {
 public:
  virtual ~ClientVersionSource() = default;
  virtual uint64_t CurrentVersion() = 0;
};

struct OnlineUpdatePorts {
  LoginView& view;  // the main window: message boxes
  UpdateDownloader& downloader;
  ProgramLauncher& launcher;
  // The signatures of the running program and of the package.
  SignatureVerifier& signatures;
  ClientVersionSource& version;
  const ProgramSettings& settings;
  // The main window's Exit.
  std::function<void()> exit;
  // False when the data folder is not the program's own: no package may be downloaded or started
  // from it, so a required update takes the failed-update path to the web site at once.
  bool downloadsAllowed = true;
  // A line for the connection log per update offered and its result; none: not kept.
  std::function<void(const std::wstring&)> log = nullptr;
};

class OnlineUpdate : public OnlineUpdateCheck {
 public:
  OnlineUpdate(OnlineUpdatePorts ports, OnlineUpdatePaths paths)
      : ports_(std::move(ports)), paths_(std::move(paths)) {}

  // kContinue when this client may go on, kInvalidResponse when the answer names no usable
  // required version, kUpdateStarted once an update was attempted and Exit has been called.
  int Check(const ServiceAnswer& answer) override;

  // Why the last downloaded package was refused (its digest or its signature), for the log;
  // empty when none was.
  const std::wstring& refusal() const { return refusal_; }

 private:
  void Update(const AccountState& offer, const std::wstring& force);
  void Fail(const char* key, MessageIcon icon, const std::wstring& updateUrl);
  void Log(const std::wstring& text) {
    if (ports_.log) ports_.log(text);
  }

  OnlineUpdatePorts ports_;
  OnlineUpdatePaths paths_;
  std::wstring refusal_;
};
