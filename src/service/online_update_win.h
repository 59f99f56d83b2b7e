// The system's side of the online update: the shell that starts the package or opens the update
// page, and the version resource of the running program.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/unique_handle_win.h"
#include "service/online_update.h"

// Download folders are named this followed by a number, in the program data folder; start-up
// clean-up (DeleteLeftoverUpdateFolders) takes exactly these names.
inline constexpr wchar_t kUpdateFolderPrefix[] = L"Update-";

// One package download: a new folder only administrators and the system can change, made for
// this download alone, and the package file in it, open from the first byte to the start of the
// package with no sharing for writing or deleting.
class HeldUpdatePackage : public DownloadedPackage {
 public:
  // Null when the folder or the file cannot be made. `parent` ends with a separator.
  static std::unique_ptr<HeldUpdatePackage> Create(const std::wstring& parent,
                                                   const std::wstring& fileName);
  ~HeldUpdatePackage() override = default;

  // Where the body goes while it downloads.
  HANDLE WriteHandle() const { return writer_.get(); }
  // The download has ended: the file stays held, now for reading only, so the system can still
  // start it. False when it could not be held again (the digest is then empty).
  bool FinishWriting();

  const std::wstring& Path() const override { return path_; }
  const std::wstring& Folder() const { return folder_; }
  std::wstring Md5Hex() override;
  // Closes the file and deletes it with its folder.
  void Discard() override;

 private:
  HeldUpdatePackage(std::wstring folder, std::wstring path, UniqueHandle writer)
      : folder_(std::move(folder)), path_(std::move(path)), writer_(std::move(writer)) {}

  const std::wstring folder_;
  const std::wstring path_;
  UniqueHandle writer_;
  UniqueHandle reader_;
};

// Starts the package with the shell of this (elevated) process; web pages go to `openPage`,
// which opens them as the signed-in user (none: pages are not opened).
class ShellProgramLauncher : public ProgramLauncher {
 public:
  using PageOpener = std::function<bool(const std::wstring& url)>;
  // `owner` may be null.
  explicit ShellProgramLauncher(PageOpener openPage = nullptr, HWND owner = nullptr)
      : openPage_(std::move(openPage)), owner_(owner) {}
  void SetOwner(HWND owner) { owner_ = owner; }
  bool Open(const std::wstring& file, const std::wstring& parameters) override;
  bool OpenWebPage(const std::wstring& url) override { return openPage_ && openPage_(url); }

 private:
  PageOpener openPage_;
  HWND owner_;
};

// The file version of the executable this process runs.
class ExecutableVersionSource : public ClientVersionSource {
 public:
  uint64_t CurrentVersion() override;
};
