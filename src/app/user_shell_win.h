// Web pages opened in the signed-in user's own context. The program runs elevated, and a
// browser it started itself would run with administrator rights; the desktop's shell (the
// user's Explorer) starts it instead, as the user. Only web addresses go: nothing the network
// names is ever run as a program.
#pragma once

#include <string>

// Hands `url` to the desktop shell's ShellExecute (IShellWindows, the desktop's view,
// IShellDispatch2). False, and nothing opened, for anything but an http or https address, or
// when there is no desktop shell to ask: never a fallback to our own, elevated ShellExecute.
// Needs COM on the calling thread.
bool OpenWebPageAsUser(const std::wstring& url);
