// The shared data folder (response files, the application list, update downloads). Its path is
// found and the folder created on first use, then kept for the life of the process.
//
// The program runs with administrator rights and every local user can reach the folder, so it
// is only ever used as the program's own: administrators and the system may change it, everyone
// else may only read (the binding module reads the application list from inside other, possibly
// low-integrity programs). A folder or an entry that is not ours is renamed aside, never used;
// when that cannot be done the folder is not used at all for this start (`Owned()` is false):
// the program then works from memory, writes nothing there and starts no update.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class ProgramDataFolder {
 public:
  struct Location {
    // Ends in a separator.
    std::wstring path;
    // The folder is the program's own; false when it could not be made so.
    bool owned = false;
  };
  // Finds the folder, creating or replacing it as needed.
  using Locator = std::function<Location()>;

  explicit ProgramDataFolder(Locator locate);

  // Safe to call from any thread; the locator runs once.
  const std::wstring& Path();
  std::wstring FilePath(std::wstring_view name) { return Path() + std::wstring(name); }
  // Whether anything may be written to the folder or read back from it at all.
  bool Owned();

 private:
  void Locate();

  Locator locate_;
  std::once_flag once_;
  Location location_;
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
  // Renames an entry (a link itself, not what it points to); false when `to` exists or the
  // system refuses (someone holds the entry open without sharing deletion, say).
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;

  // A folder held open from one handle, taken without following a link, so that what is done
  // inside happens to that folder whatever its name comes to point to meanwhile.
  class HeldFolder {
   public:
    virtual ~HeldFolder() = default;
    // What the system says of the folder the handle holds.
    virtual FolderEntryFacts Facts() = 0;
    // Names of its entries, read through the handle.
    virtual std::vector<std::wstring> List() = 0;
    // Deletes the entry `name` of this folder, opened through the handle without following a
    // link (a link is deleted itself); a folder is never deleted this way.
    virtual bool DeleteEntry(const std::wstring& name) = 0;
    // Deletes the held folder itself; false while it is not empty.
    virtual bool DeleteSelf() = 0;
  };
  // Null when `path` cannot be opened as a folder.
  virtual std::unique_ptr<HeldFolder> OpenFolder(const std::wstring& path) = 0;
};

// True for a folder we may read from and write into.
bool IsOwnFolder(const FolderEntryFacts& facts);
// True for a file we may read and replace: ours, one name, no link.
bool IsOwnFile(const FolderEntryFacts& facts);

// True when the file `name` in `folder` (ending with a separator) may be read for a decision at
// start-up, or relabelled by name: the folder and the file are the program's own, and the file
// has no other name.
bool IsOwnFileInOwnFolder(FolderSecurity& security, const std::wstring& folder,
                          const std::wstring& name);

// Marks the names of entries set aside, so a later start leaves them where they are.
inline constexpr wchar_t kSetAsideMarker[] = L".untrusted-";

struct DataFolderRepair {
  // The folder is ours and carries the descriptor; false when it could not be made so.
  bool secured = false;
  bool created = false;
  // The folder itself or entries in it that were renamed aside.
  size_t setAside = 0;
};

// Where the random part of a set-aside name comes from; anything others cannot predict.
using SetAsideRandom = std::function<uint64_t()>;

// Makes `folder` (no trailing separator) the program's own. A folder that is not entirely ours
// already (a link, a file, someone else's, or one others may write, as older versions left it)
// is renamed aside whole and a new one created with the descriptor, never repaired in place:
// repairing would pass a descriptor on through whatever others had linked into it. Inside a
// folder that is ours, entries that are links, files with further names, or someone else's are
// renamed aside. Set-aside names are "<name>.untrusted-<random hex>". Anything that cannot be
// set aside leaves the folder unsecured.
DataFolderRepair SecureDataFolder(FolderSecurity& security, const std::wstring& folder,
                                  const SetAsideRandom& random);

// "Update-" and digits, the only names start-up clean-up deletes.
bool IsUpdateFolderName(std::wstring_view name);

// Deletes what earlier downloads left in the program's own `folder` (no trailing separator):
// each "Update-<digits>" folder that is ours, with the plain files in it, and the packages older
// versions kept in the folder itself. Everything is reached through held handles; anything
// else, and anything not ours, is left alone. Returns the folders deleted.
size_t DeleteLeftoverUpdateFolders(FolderSecurity& security, const std::wstring& folder,
                                   const std::vector<std::wstring>& leftoverPackages);
