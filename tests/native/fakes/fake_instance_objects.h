// InstanceObjects over maps of names. Follows CreateMutex and "Object Namespaces" (Microsoft
// Learn): a name that exists yields that object with ERROR_ALREADY_EXISTS, or ERROR_ACCESS_DENIED
// when its descriptor keeps the caller out; any user may take a global name first; a private
// namespace is made only by a process within its boundary (the administrators), and only
// administrators and the system create objects in ours. Any user may run our program file, and
// a process started without elevation (a compatibility setting does it) shows our window class
// and caption like the real one ("User Account Control", TOKEN_ELEVATION).
#pragma once

#include <map>
#include <string>

#include "app/single_instance.h"

class FakeInstanceObjects : public InstanceObjects {
 public:
  struct Object {
    bool ownedByAdministrators = true;
    bool opensForUs = true;
  };

  bool EnterOwnNamespace() override { return privateNamespaces; }
  Claim ClaimInNamespace(const std::wstring& name) override {
    // A squatter is outside the boundary: whatever is in here an administrator made.
    return Take(inNamespace, name);
  }
  Claim ClaimGlobal(const std::wstring& name) override { return Take(global, name); }
  Window OwnWindowShown() override { return ourProgramsWindow; }

  // Vista and later; Wine has none.
  bool privateNamespaces = true;
  std::map<std::wstring, Object> global;
  std::map<std::wstring, Object> inNamespace;
  // A main window of another process running our own program file, with or without
  // administrator rights. Windows of other programs with our caption are not ours, whatever
  // they are called.
  Window ourProgramsWindow = Window::kNone;

 private:
  static Claim Take(std::map<std::wstring, Object>& names, const std::wstring& name) {
    const auto found = names.find(name);
    if (found == names.end()) {
      names[name] = Object{};
      return Claim::kCreated;
    }
    if (!found->second.opensForUs) return Claim::kForeign;
    return found->second.ownedByAdministrators ? Claim::kExisted : Claim::kForeign;
  }
};
