#include "windows/test_files.h"

#include <windows.h>

#include <atomic>

#include "win32/handles.h"
#include "win32/long_path.h"

namespace zarvelo::testfiles {
namespace {

using win32::ExtendedPath;

constexpr DWORD kSticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// "\\?\": a parent cut at or before it is no folder any more.
constexpr std::size_t kPrefixLength = 4;

// The "\\?\" form without trailing backslashes, so that cutting at the last
// backslash gives the parent.
std::wstring Extended(const std::wstring& path) {
  std::wstring extended = ExtendedPath(path);
  while (extended.size() > kPrefixLength + 3 && extended.back() == L'\\') extended.pop_back();
  return extended;
}

bool IsFolder(const std::wstring& extended) {
  const DWORD attributes = ::GetFileAttributesW(extended.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// CreateDirectory that also takes a folder already there (but not a file).
bool MakeFolder(const std::wstring& extended) {
  if (::CreateDirectoryW(extended.c_str(), nullptr)) return true;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  if (IsFolder(extended)) return true;
  ::SetLastError(ERROR_ALREADY_EXISTS);
  return false;
}

bool MakeExtendedFolders(const std::wstring& extended) {
  if (MakeFolder(extended)) return true;
  const DWORD error = ::GetLastError();
  if (error != ERROR_PATH_NOT_FOUND) return false;
  const std::size_t slash = extended.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash <= kPrefixLength) {
    ::SetLastError(error);
    return false;
  }
  return MakeExtendedFolders(extended.substr(0, slash)) && MakeFolder(extended);
}

bool RemoveExtended(const std::wstring& extended) {
  const DWORD attributes = ::GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  // Read-only entries refuse deletion; hidden and system files refuse some
  // of it too.
  if (attributes & kSticky) ::SetFileAttributesW(extended.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ::DeleteFileW(extended.c_str()) != FALSE;

  // A junction or folder link goes by itself: what it points to stays.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    const win32::FindHandle find(::FindFirstFileW((extended + L"\\*").c_str(), &found));
    if (find) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") RemoveExtended(extended + L"\\" + name);
      } while (::FindNextFileW(find.get(), &found));
    }
  }
  // Fails while anything inside is left.
  return ::RemoveDirectoryW(extended.c_str()) != FALSE;
}

}  // namespace

std::wstring TempFolder() {
  const DWORD needed = ::GetTempPathW(0, nullptr);
  if (needed == 0) return {};
  std::wstring temp(needed, L'\0');
  const DWORD length = ::GetTempPathW(needed, temp.data());
  if (length == 0 || length >= needed) return {};
  temp.resize(length);
  while (temp.size() > 3 && temp.back() == L'\\') temp.pop_back();
  return temp;
}

ScratchFolder::ScratchFolder(const std::wstring& name) {
  // A counter, not the clock, keeps two folders of one process apart;
  // leftovers of an earlier process with the same id are stepped over.
  static std::atomic<unsigned> counter{0};
  const std::wstring temp = TempFolder();
  MakeFolders(temp);
  const std::wstring stem =
      temp + L"\\" + name + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    path_ = stem + std::to_wstring(++counter);
    if (::CreateDirectoryW(Extended(path_).c_str(), nullptr)) {
      created_ = true;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

ScratchFolder::~ScratchFolder() {
  if (created_) RemoveTree(path_);
}

bool MakeFolders(const std::wstring& path) { return MakeExtendedFolders(Extended(path)); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  DWORD error = ERROR_SUCCESS;
  {
    const win32::FileHandle file(::CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file ||
        !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      error = ::GetLastError();
    else if (written != bytes.size())
      error = ERROR_WRITE_FAULT;
  }
  // Closing the handle must not hide why the write failed.
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
  DWORD error = ERROR_SUCCESS;
  std::string bytes;
  {
    const win32::FileHandle file(::CreateFileW(
        Extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string chunk(65536, '\0');
    for (;;) {
      DWORD read = 0;
      if (!::ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
        error = ::GetLastError();
        break;
      }
      if (read == 0) break;
      bytes.append(chunk, 0, read);
    }
  }
  if (error == ERROR_SUCCESS) return bytes;
  ::SetLastError(error);
  return std::nullopt;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveTree(const std::wstring& path) { return RemoveExtended(Extended(path)); }

}  // namespace zarvelo::testfiles
