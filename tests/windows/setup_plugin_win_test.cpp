// The installer's plug-in, called the way NSIS calls it: a string stack of GlobalAlloc'd entries.
// Wine keeps no descriptors on files (it makes one up from the Unix mode bits), so what the
// descriptor says is tested natively (install_folder_test); here the calls and their answers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct StackEntry {
  StackEntry* next;
  wchar_t text[1];
};
using PluginFunction = void(__cdecl*)(HWND, int, wchar_t*, StackEntry**, void*);
constexpr int kStringSize = 1024;

class SetupPluginWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"KavrinSetup.dll");
    ASSERT_NE(module_, nullptr);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kavrin-install-" + std::to_wstring(GetCurrentProcessId());
  }
  void TearDown() override {
    DeleteFileW((folder_ + L"\\Kavrin.exe").c_str());
    RemoveDirectoryW(folder_.c_str());
    if (module_) FreeLibrary(module_);
  }

  // Pushes `argument`, calls `function`, pops its answer.
  std::wstring Call(const char* function, const std::wstring& argument) {
    const auto call = reinterpret_cast<PluginFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, function)));
    if (!call) return L"(missing)";
    auto* entry = static_cast<StackEntry*>(
        GlobalAlloc(GPTR, sizeof(StackEntry) + kStringSize * sizeof(wchar_t)));
    lstrcpynW(entry->text, argument.c_str(), kStringSize);
    StackEntry* top = entry;
    wchar_t variables[kStringSize * 25] = {};
    call(nullptr, kStringSize, variables, &top, nullptr);
    if (top == nullptr) return L"(nothing)";
    std::wstring answer = top->text;
    StackEntry* next = top->next;
    GlobalFree(top);
    EXPECT_EQ(next, nullptr) << "the argument was taken";
    return answer;
  }

  HMODULE module_ = nullptr;
  std::wstring folder_;
};

TEST_F(SetupPluginWinTest, ProtectsANewOrOwnFolderAndRefusesAFile) {
  EXPECT_EQ(Call("ProtectFolder", folder_ + L"\\"), L"ok");
  EXPECT_NE(GetFileAttributesW(folder_.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  const HANDLE file = CreateFileW((folder_ + L"\\Kavrin.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(Call("ProtectFolder", folder_), L"ok") << "an earlier installation, ours";
  EXPECT_EQ(Call("ProtectFolder", folder_ + L"\\Kavrin.exe"), L"not-a-folder");
  EXPECT_EQ(Call("ProtectFolder", L""), L"not-a-folder");
}

TEST_F(SetupPluginWinTest, ANotRunningProgramIsIdle) {
  EXPECT_EQ(Call("IsProgramRunning", folder_ + L"\\Kavrin.exe"), L"idle");
}

// The uninstaller deletes the modules only on "ok": while an entry of ours may remain, the
// catalog would name a file that is gone and every socket on the machine would fail.
TEST_F(SetupPluginWinTest, UnregisteringSaysWhetherAnythingOfOursIsLeft) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring module(path);
  module = module.substr(0, module.find_last_of(L'\\') + 1) + L"KavrinBind.dll";
  // Nothing of ours in this catalog (Wine keeps no layered providers): nothing is left.
  EXPECT_EQ(Call("UnregisterModule", module), L"ok");
  EXPECT_EQ(Call("UnregisterModule", folder_ + L"\\KavrinBind.dll"), L"missing");
}

}  // namespace
