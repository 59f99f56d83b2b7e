// One running program per machine, decided over named objects an ordinary user cannot plant.
//
// The instance object lives in the program's private namespace, which only administrators can
// make and fill, so finding it there means our program runs. Where the system has no private
// namespaces the object has a global name anyone may take first: there only an object the
// administrators or the system own counts, and a squatter's is reported, never obeyed. A
// window with our caption counts only when its process runs our own program file with
// administrator rights: any user on the desktop can start the program file without them (a
// compatibility setting does), and such a copy must not keep the real one from starting.
#pragma once

#include <string>

class InstanceObjects {
 public:
  enum class Claim {
    kCreated,  // made now: this is the first instance
    kExisted,  // there already, made by an administrator or the system
    kForeign,  // there already, but someone else's (or it cannot be opened at all)
    kFailed,   // not made for another reason
  };

  virtual ~InstanceObjects() = default;
  // Makes or opens the program's private namespace; false where the system has none or it
  // cannot be had.
  virtual bool EnterOwnNamespace() = 0;
  // Makes the instance object `name` in the namespace, or under the global name; the object is
  // held until the port goes.
  virtual Claim ClaimInNamespace(const std::wstring& name) = 0;
  virtual Claim ClaimGlobal(const std::wstring& name) = 0;
  enum class Window {
    kNone,
    kElevated,    // shown by a process running this program's own file, elevated or in the
                  // administrators
    kUnelevated,  // only by such processes without administrator rights (or unknown rights)
  };
  // Whether a main window of ours is shown by another process running this program's file.
  virtual Window OwnWindowShown() = 0;
};

enum class InstanceCheck {
  kFirst,
  kAnotherRuns,
  // The global name is someone else's: this start goes on, and says so once.
  kSquatted,
  // Only a copy without administrator rights shows our window: this start goes on, and says so.
  kUnelevatedCopy,
};

InstanceCheck CheckSingleInstance(InstanceObjects& objects, const std::wstring& name);
