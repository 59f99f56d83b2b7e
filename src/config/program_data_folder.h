// The shared data folder (response files, the application list, update downloads). Its path is
// found and the folder created on first use, then kept for the life of the process.
//
// The program runs with administrator rights and every local user can reach the folder, so it
// is only ever used as the program's own: administrators and the system may change it, everyone
// else may only read (the binding module reads the application list from inside other, possibly
// low-integrity programs). A folder or an entry that is not ours is renamed aside, never used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class ProgramDataFolder {
 public:
  // Finds the folder, creating it when missing, and returns its path ending in a separator.
  using Locator = std::function<std::wstring()>;

  explicit ProgramDataFolder(Locator locate);

  // Safe to call from any thread; the locator runs once.
  const std::wstring& Path();
  std::wstring FilePath(std::wstring_view name) { return Path() + std::wstring(name); }

 private:
  Locator locate_;
  std::once_flag once_;
  std::wstring path_;
};

// The program's folder: "Kavrin" in the all-users application data folder on Windows, in the
// temporary folder natively.
ProgramDataFolder& SystemProgramDataFolder();

// The descriptor the folder gets, as security-descriptor text: owned by the administrators;
// administrators and the system have full control, everyone and all application packages read
// and execute; nothing is inherited from above, and files and folders made inside inherit all
// of it. Low-integrity readers are let in by the default label, which only stops writing up.
inline constexpr wchar_t kDataFolderDescriptor[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)(A;OICI;0x1200a9;;;S-1-15-2-1)";

// What the system says of one file or folder. Looked at without following links.
struct FolderEntryFacts {
  bool exists = false;
  bool directory = false;
  // A symbolic link, junction or any other reparse point.
  bool link = false;
  // Owned by the administrators, the system, or whoever owns the files this program makes.
  bool trustedOwner = false;
  // Its descriptor lets someone other than those write, create, delete or change its rights.
  bool othersMayWrite = false;
  // Names the file has; a second name may be someone else's file we must not write through.
  uint32_t hardLinks = 1;
};

// The file system's security, for the folder's repair and the checks of what is read from it.
class FolderSecurity {
 public:
  virtual ~FolderSecurity() = default;
  virtual FolderEntryFacts Inspect(const std::wstring& path) = 0;
  // Names of the folder's entries, without "." and "..".
  virtual std::vector<std::wstring> List(const std::wstring& folder) = 0;
  // Creates the folder with `descriptor`; false when it could not (also when it exists).
  virtual bool CreateFolder(const std::wstring& path, const std::wstring& descriptor) = 0;
  // Gives an existing folder `descriptor`, passing the inheritable part on to its entries.
  virtual bool ApplyDescriptor(const std::wstring& path, const std::wstring& descriptor) = 0;
  // Renames an entry (a link itself, not what it points to); false when `to` exists.
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;
};

// True for a folder we may read from and write into.
bool IsOwnFolder(const FolderEntryFacts& facts);
// True for a file we may read and replace: ours, one name, no link.
bool IsOwnFile(const FolderEntryFacts& facts);

// Marks the names of entries set aside, so a later start leaves them where they are.
inline constexpr wchar_t kSetAsideMarker[] = L".untrusted-";

struct DataFolderRepair {
  // The folder is ours and carries the descriptor; false when it could not be made so.
  bool secured = false;
  bool created = false;
  // The folder itself or entries in it that were renamed aside.
  size_t setAside = 0;
};

// Makes `folder` (no trailing separator) the program's own: a folder that is a link, a file, or
// owned by someone else is renamed aside and a new one created; an existing one gets the
// descriptor again; entries in it that are links, files with further names, or someone else's
// are renamed aside.
DataFolderRepair SecureDataFolder(FolderSecurity& security, const std::wstring& folder);
