// Test stand-in for the outside program openvpn.exe: a console program that honours the command
// line, prompts, console lines and exit event the connector relies on, with no tunnel behind it.
// See README.md for what it does and how tests make it misbehave.
#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr char kAdapterGuid[] = "{6F3A9E21-4B7C-4D2E-9A15-0C8B7D3E5F41}";
constexpr wchar_t kConfigName[] = L"openvpn_standin.txt";
constexpr wchar_t kLogName[] = L"openvpn_standin.log";
constexpr wchar_t kDriverMarker[] = L"tap_kavrin.installed";
// Held while it hangs, so a test can tell that it is hanging and that it was ended.
constexpr wchar_t kHangingMutex[] = L"KavrinStandinHanging_openvpn";

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

void WriteAll(DWORD which, const std::string& text) {
  const HANDLE out = GetStdHandle(which);
  size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr) ||
        written == 0) {
      return;
    }
    done += written;
  }
}

void Out(const std::string& text) { WriteAll(STD_OUTPUT_HANDLE, text); }

void Log(const std::string& line) {
  const std::wstring path = ProgramFolder() + kLogName;
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// key=value lines; later lines win.
std::map<std::string, std::string> ReadConfig() {
  std::map<std::string, std::string> config = {{"user", "demo"},
                                               {"password", "demo123"},
                                               {"behaviour", "normal"},
                                               {"address", "10.8.0.6/255.255.255.252"},
                                               {"gateway", "10.8.0.5"}};
  const std::wstring path = ProgramFolder() + kConfigName;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return config;
  char line[1024];
  while (fgets(line, sizeof(line), file) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t equals = text.find('=');
    if (equals != std::string::npos) config[text.substr(0, equals)] = text.substr(equals + 1);
  }
  fclose(file);
  return config;
}

// One answer line from standard input; false at its end.
bool ReadLine(std::string& line) {
  line.clear();
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  for (;;) {
    char c = 0;
    DWORD read = 0;
    if (!ReadFile(in, &c, 1, &read, nullptr) || read == 0) return false;
    if (c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool Ask(const char* prompt, const std::string& expected, bool checked, const char* what) {
  Out(prompt);
  std::string answer;
  if (!ReadLine(answer)) {
    Log(std::string(what) + " <end of input>");
    return false;
  }
  Log(std::string(what) + " " + answer);
  return !checked || answer == expected;
}

int Fail(const std::string& line) {
  Out(line + "\nExiting due to fatal error\n");
  return 1;
}

struct Options {
  std::map<std::string, std::vector<std::string>> values;
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Get(const std::string& name, size_t index = 0) const {
    const auto found = values.find(name);
    if (found == values.end() || found->second.size() <= index) return {};
    return found->second[index];
  }
};

Options ParseOptions(int argc, wchar_t** argv) {
  Options options;
  std::string current;
  for (int i = 1; i < argc; ++i) {
    const std::string word = Narrow(argv[i]);
    if (word.rfind("--", 0) == 0) {
      current = word.substr(2);
      options.values[current];
    } else if (!current.empty()) {
      options.values[current].push_back(word);
    }
  }
  return options;
}

// Tools for the console redirector's own tests.
int RunUtility(const Options& options) {
  if (options.Has("standin-burst")) {
    const size_t size = std::stoul(options.Get("standin-burst"));
    std::string block(size, '.');
    for (size_t i = 0; i < size; i += 100) block[i] = static_cast<char>('A' + (i / 100) % 26);
    Out(block);  // one write; the process ends right after it
    return 0;
  }
  if (options.Has("standin-stderr")) {
    Out("to standard output\n");
    WriteAll(STD_ERROR_HANDLE, "to standard error\n");
    return 0;
  }
  if (options.Has("standin-echo")) {
    std::string line;
    Out("ready>");
    while (ReadLine(line)) Out("got[" + line + "]\n");
    return 0;
  }
  if (options.Has("standin-sleep")) {
    Sleep(static_cast<DWORD>(std::stoul(options.Get("standin-sleep"))));
    Out("slept\n");
    return 0;
  }
  return -1;
}

int Run(int argc, wchar_t** argv) {
  const Options options = ParseOptions(argc, argv);
  Log("command " + Narrow(GetCommandLineW()));
  if (const int result = RunUtility(options); result >= 0) return result;

  const std::wstring folder = ProgramFolder();
  const bool driverInstalled = FileExists(folder + kDriverMarker);
  auto config = ReadConfig();
  if (options.Has("show-adapters")) {
    Out("Available TAP-WIN32 adapters [name, GUID]:\n");
    if (config["adapters"] == "hang") {
      CreateMutexW(nullptr, TRUE, kHangingMutex);
      Log("hanging");
      Sleep(INFINITE);
    }
    if (driverInstalled) Out(std::string("'Kavrin TAP' ") + kAdapterGuid + "\n");
    return 0;
  }

  if (options.Has("standin-behaviour")) config["behaviour"] = options.Get("standin-behaviour");
  const std::string& behaviour = config["behaviour"];

  const std::string ca = options.Get("ca");
  if (ca.empty() || !FileExists(std::wstring(ca.begin(), ca.end()))) {
    return Fail("Options error: --ca fails with '" + ca + "': No such file or directory");
  }
  if (options.Get("remote").empty() || options.Get("service").empty() ||
      options.Get("dev") != "tap" || !options.Has("auth-user-pass")) {
    return Fail("Options error: missing --remote, --service, --dev tap or --auth-user-pass");
  }
  const std::string eventName = options.Get("service");
  HANDLE exitEvent = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
  Out("Stand-in tunnel client started\n");

  if (behaviour == "endless") {
    // Output that never ends a line, until the exit event.
    const std::string flood(4096, 'x');
    while (WaitForSingleObject(exitEvent, 0) != WAIT_OBJECT_0) Out(flood);
    Log("exit event");
    return 0;
  }
  if (behaviour == "bind_fail") {
    return Fail("TCP/UDP: Socket bind failed on local address [undef]:80: Address already in use");
  }

  const bool httpProxy = options.Get("http-proxy", 2) == "stdin";
  const bool socksPrompts = options.Has("socks-proxy") && config["socks_prompts"] == "1";
  const bool proxyChecked = config.count("proxy_user") != 0;
  if (httpProxy || socksPrompts) {
    const char* userPrompt =
        httpProxy ? "Enter HTTP Proxy Username:" : "Enter SOCKS5 Proxy Username:";
    const char* passwordPrompt =
        httpProxy ? "Enter HTTP Proxy Password:" : "Enter SOCKS5 Proxy Password:";
    if (!Ask(userPrompt, config["proxy_user"], proxyChecked, "proxy-user") ||
        !Ask(passwordPrompt, config["proxy_password"], proxyChecked, "proxy-password")) {
      return Fail("Proxy authentication failed");
    }
  }

  if (behaviour == "die_at_prompt") {
    Out("Enter Auth Username:");
    TerminateProcess(GetCurrentProcess(), 9);
  }
  // Both are asked before either is judged, as a server judges them together.
  const bool userOk = Ask("Enter Auth Username:", config["user"], true, "user");
  const bool passwordOk = Ask("Enter Auth Password:", config["password"], true, "password");
  if (!userOk || !passwordOk) {
    Out("AUTH: Received control message: AUTH_FAILED\n");
    return Fail("SIGTERM received, auth-failure");
  }

  Out("[server] Peer Connection Initiated with [AF_INET]" + options.Get("remote") + ":80\n");
  Out("PUSH: Received control message: 'PUSH_REPLY,route 10.8.0.1,topology net30,ping 10,"
      "route-gateway " +
      config["gateway"] + ",ifconfig 10.8.0.6 10.8.0.5'\n");
  if (!driverInstalled || behaviour == "no_adapter") {
    return Fail(
        "There are no TAP-Win32 adapters on this system.  You should be able to create "
        "a TAP-Win32 adapter by installing its driver.");
  }
  std::string address = config["address"];
  if (behaviour == "bad_address") address = address.substr(0, address.find('/'));
  Out("Notified TAP-Win32 driver to set a DHCP IP/netmask of " + address + " on interface " +
      kAdapterGuid + " [DHCP-serv: " + config["gateway"] + ", lease-time: 31536000]\n");
  Out("Initialization Sequence Completed\n");

  // Two letters per packet, as the real one prints them: a packet out is read from the adapter
  // ("r") and written to the server ("W"), a packet in read from the server ("R") and written
  // to the adapter ("w"). Every third round only sends.
  for (int round = 0; WaitForSingleObject(exitEvent, 50) != WAIT_OBJECT_0; ++round) {
    Out(round % 3 == 2 ? "rW" : round % 3 == 1 ? "Rw" : "rWRw");
  }
  Log("exit event");
  Out("Exit event signalled, stopping\n");
  CloseHandle(exitEvent);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const int result = Run(argc, argv);
  LocalFree(argv);
  return result;
}
