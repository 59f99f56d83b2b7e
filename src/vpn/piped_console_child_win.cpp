#include "vpn/piped_console_child_win.h"

#include <algorithm>
#include <vector>

namespace {

// A non-inheritable copy of `handle`, which is closed: the child must not inherit our ends, or
// the pipe would never break when the child exits.
bool MakePrivate(UniqueHandle& handle) {
  HANDLE copy = nullptr;
  const HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, handle.get(), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  handle.reset(copy);
  return true;
}

}  // namespace

bool PipedConsoleChild::Start(const std::wstring& commandLine, ConsoleChildEvents& events) {
  Stop();

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle outputRead;
  UniqueHandle outputWrite;
  UniqueHandle errorWrite;
  UniqueHandle inputRead;
  UniqueHandle inputWrite;
  if (!CreatePipe(outputRead.put(), outputWrite.put(), &inheritable, 0)) return false;
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, outputWrite.get(), self, errorWrite.put(), 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  if (!CreatePipe(inputRead.put(), inputWrite.put(), &inheritable, 0)) return false;
  if (!MakePrivate(outputRead) || !MakePrivate(inputWrite)) return false;

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = inputRead.get();
  startup.hStdOutput = outputWrite.get();
  startup.hStdError = errorWrite.get();
  // The system may write into the command line it is given.
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  UniqueHandle childProcess(process.hProcess);
  // Only the child may hold these now, so the output pipe breaks when it ends.
  inputRead.reset();
  outputWrite.reset();
  errorWrite.reset();

  {
    std::lock_guard lock(lifecycleLock_);
    childProcess_ = std::move(childProcess);
    childOutput_ = std::move(outputRead);
    events_ = &events;
    running_ = true;
  }
  {
    std::lock_guard lock(inputLock_);
    childInput_ = std::move(inputWrite);
  }
  // Suspended until its handle and id are stored: it may stop itself at once and must know it
  // is the reader.
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, ReaderMain, this, CREATE_SUSPENDED, &threadId);
  if (thread == nullptr) {
    {
      std::lock_guard lock(lifecycleLock_);
      running_ = false;
      TerminateProcess(childProcess_.get(), 0);
    }
    CloseChildHandles();
    return false;
  }
  {
    std::lock_guard lock(lifecycleLock_);
    readerThread_.reset(thread);
    readerThreadId_ = threadId;
  }
  ResumeThread(thread);
  return true;
}

void PipedConsoleChild::Stop() {
  {
    std::lock_guard lock(lifecycleLock_);
    if (std::exchange(running_, false)) TerminateProcess(childProcess_.get(), 0);
  }
  // The reader closes up itself when its loop ends; it never waits for itself.
  if (OnReaderThread()) return;

  UniqueHandle thread;
  {
    std::lock_guard lock(lifecycleLock_);
    thread = std::move(readerThread_);
  }
  if (!thread) return;
  WaitForSingleObject(thread.get(), INFINITE);
  CloseChildHandles();
}

bool PipedConsoleChild::WriteInput(std::string_view bytes) {
  std::lock_guard lock(inputLock_);
  if (!childInput_) return false;
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes.size(), 0x10000));
    if (!WriteFile(childInput_.get(), bytes.data(), wanted, &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

bool PipedConsoleChild::WaitForReader(uint32_t milliseconds) {
  if (OnReaderThread()) return false;
  HANDLE thread = nullptr;
  {
    std::lock_guard lock(lifecycleLock_);
    thread = readerThread_.get();
  }
  return thread == nullptr || WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
}

DWORD WINAPI PipedConsoleChild::ReaderMain(void* self) {
  static_cast<PipedConsoleChild*>(self)->ReadUntilEnded();
  return 0;
}

void PipedConsoleChild::ReadUntilEnded() {
  while (Drain()) {
    if (WaitForSingleObject(childProcess_.get(), kPollIntervalMs) != WAIT_TIMEOUT) break;
  }
  // What the child wrote just before it ended is still in the pipe.
  Drain();
  Stop();
  CloseChildHandles();
  events_->OnChildEnded();
  // Ids are reused once a thread is gone; a later thread must not pass for the reader.
  readerThreadId_ = 0;
}

bool PipedConsoleChild::Drain() {
  char chunk[kConsoleChunkBytes];
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(childOutput_.get(), nullptr, 0, nullptr, &waiting, nullptr)) return false;
    if (waiting == 0) return true;
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(waiting, sizeof(chunk));
    if (!ReadFile(childOutput_.get(), chunk, wanted, &read, nullptr) || read == 0) return false;
    events_->OnChildOutput(chunk, read);
  }
}

void PipedConsoleChild::CloseChildHandles() {
  {
    std::lock_guard lock(inputLock_);
    childInput_.reset();
  }
  std::lock_guard lock(lifecycleLock_);
  childOutput_.reset();
  childProcess_.reset();
}
