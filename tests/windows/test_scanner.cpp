// Plays a virus scanner for the install tests: every file that appears in a
// folder (created or renamed into it) is opened at once with read and write
// sharing but no delete sharing, and held for a while.
//   test_scanner <folder> <hold ms> <log file>
// The log gets "ready" once the folder is watched, then "held <name>" for
// each file held.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  gFolder = argv[1];
  gHoldMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  gLog = argv[3];

  HANDLE folder = ::CreateFileW(gFolder.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                nullptr);
  if (folder == INVALID_HANDLE_VALUE) return 1;
  OVERLAPPED overlapped{};
  overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<DWORD> buffer(16 * 1024);
  bool first = true;
  for (;;) {
    ::ResetEvent(overlapped.hEvent);
    if (!::ReadDirectoryChangesW(folder, buffer.data(), static_cast<DWORD>(buffer.size() * 4), FALSE,
                                 FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &overlapped, nullptr))
      return 1;
    if (first) Log(L"ready");
    first = false;
    DWORD got = 0;
    if (!::GetOverlappedResult(folder, &overlapped, &got, TRUE)) return 1;
    if (got == 0) continue;  // overflow: nothing to tell apart
    const auto* bytes = reinterpret_cast<const char*>(buffer.data());
    for (DWORD offset = 0;;) {
      const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(bytes + offset);
      if (info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME) {
        auto* name = new std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
        HANDLE thread = ::CreateThread(nullptr, 0, &Hold, name, 0, nullptr);
        if (thread) ::CloseHandle(thread);
        else delete name;
      }
      if (info->NextEntryOffset == 0) break;
      offset += info->NextEntryOffset;
    }
  }
}
