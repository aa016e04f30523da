// Plays a virus scanner for the install tests: every file that appears in a
// folder (made there or renamed into it) is opened at once with read and
// write sharing but no delete sharing, and held for a while.
//   test_scanner <folder> <hold ms> <log file>
// The log gets "ready" once the folder is watched, then "held <name>" for
// each file held.
#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

std::wstring gFolder, gLog;
DWORD gHoldMs = 1500;
SRWLOCK gLogLock = SRWLOCK_INIT;

void Log(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
  ::AcquireSRWLockExclusive(&gLogLock);
  HANDLE file = ::CreateFileW(gLog.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  ::ReleaseSRWLockExclusive(&gLogLock);
}

DWORD WINAPI Hold(void* parameter) {
  std::wstring* name = static_cast<std::wstring*>(parameter);
  const std::wstring path = gFolder + L"\\" + *name;
  // The writer may still have it open without sharing: try until it lets go.
  const ULONGLONG end = ::GetTickCount64() + 5000;
  HANDLE file = INVALID_HANDLE_VALUE;
  while (::GetTickCount64() < end) {
    file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) break;
    ::Sleep(0);
  }
  if (file != INVALID_HANDLE_VALUE) {
    Log(L"held " + *name);
    ::Sleep(gHoldMs);
    ::CloseHandle(file);
  }
  delete name;
  return 0;
}

// The names in the folder now.
std::set<std::wstring> Names() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((gFolder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  gFolder = argv[1];
  gHoldMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  gLog = argv[3];

  // The folder is looked at over and over rather than watched for change
  // notices: those arrive late under Wine, and a scanner hooked into the
  // file system sees a file the moment it is made.
  std::set<std::wstring> seen = Names();
  Log(L"ready");
  for (;;) {
    for (const std::wstring& name : Names()) {
      if (!seen.insert(name).second) continue;
      auto* held = new std::wstring(name);
      HANDLE thread = ::CreateThread(nullptr, 0, &Hold, held, 0, nullptr);
      if (thread) ::CloseHandle(thread);
      else delete held;
    }
    ::SwitchToThread();
  }
}
