#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "platform/text.h"
#include "platform/win32/cng/sha256.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "platform/win32/long_path.h"

namespace zarvelo::win32 {
namespace {

// Attributes that make MoveFileEx refuse to replace a file.
constexpr DWORD kStickyAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

constexpr DWORD kReadChunk = 64 * 1024;

bool IsDotEntry(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

FileHandle OpenForReading(const std::wstring& path) {
  return FileHandle(::CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads until `buffer` is full or the file ends.
bool ReadFull(HANDLE file, char* buffer, DWORD size, DWORD& got) {
  got = 0;
  while (got < size) {
    DWORD read = 0;
    if (!::ReadFile(file, buffer + got, size - got, &read, nullptr)) return false;
    if (read == 0) break;
    got += read;
  }
  return true;
}

}  // namespace

Status Win32FileSystem::CreateFolder(const std::wstring& path) {
  return Check(::CreateDirectoryW(ExtendedPath(path).c_str(), nullptr));
}

Status Win32FileSystem::RemoveFile(const std::wstring& path) {
  return Check(::DeleteFileW(ExtendedPath(path).c_str()));
}

Status Win32FileSystem::Copy(const std::wstring& source, const std::wstring& destination) {
  const std::wstring to = ExtendedPath(destination);
  if (!::CopyFileW(ExtendedPath(source).c_str(), to.c_str(), FALSE)) return LastError();
  // On disk before anything is swapped in on the strength of the copy: a
  // power cut must not leave a half-written file in its place.
  const FileHandle copy(::CreateFileW(to.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy) return LastError();
  return Check(::FlushFileBuffers(copy.get()));
}

Result<std::int64_t> Win32FileSystem::FileSize(const std::wstring& path) const {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(ExtendedPath(path).c_str(), GetFileExInfoStandard, &data))
    return LastError();
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Status(ERROR_FILE_NOT_FOUND);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

Result<std::string> Win32FileSystem::ReadSmallFile(const std::wstring& path,
                                                   std::size_t limit) const {
  if (limit >= MAXDWORD) return Status(ERROR_NOT_ENOUGH_MEMORY);
  const FileHandle file = OpenForReading(path);
  if (!file) return LastError();
  // One byte more than allowed tells a file that is too long, whatever its
  // size said when it was opened.
  std::string bytes(limit + 1, '\0');
  DWORD got = 0;
  if (!ReadFull(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), got))
    return LastError();
  if (got > limit) return Status(ERROR_FILE_TOO_LARGE);
  bytes.resize(got);
  return bytes;
}

Result<Sha256Digest> Win32FileSystem::FileSha256(const std::wstring& path) const {
  const FileHandle file = OpenForReading(path);
  if (!file) return LastError();
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadChunk]);
  if (!buffer) return Status(ERROR_NOT_ENOUGH_MEMORY);
  Sha256 hash;
  for (;;) {
    DWORD got = 0;
    if (!ReadFull(file.get(), buffer.get(), kReadChunk, got)) return LastError();
    const Status hashed = hash.Update(buffer.get(), got);
    if (!hashed.ok()) return hashed;
    if (got < kReadChunk) return hash.Finish();
  }
}

Status Win32FileSystem::MoveReplacing(const std::wstring& source, const std::wstring& target) {
  const std::wstring from = ExtendedPath(source);
  const std::wstring to = ExtendedPath(target);

  // MoveFileEx will not replace a read-only file; clear what stands in the
  // way, and put it back if the move fails after all.
  const DWORD original = ::GetFileAttributesW(to.c_str());
  bool cleared = false;
  if (original != INVALID_FILE_ATTRIBUTES && !(original & FILE_ATTRIBUTE_DIRECTORY) &&
      (original & kStickyAttributes)) {
    DWORD plain = original & ~kStickyAttributes;
    if (plain == 0) plain = FILE_ATTRIBUTE_NORMAL;
    cleared = ::SetFileAttributesW(to.c_str(), plain) != FALSE;
  }

  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return Status::Ok();
  const Status moveFailure = LastError();
  if (cleared) ::SetFileAttributesW(to.c_str(), original);

  // The move's own error does not always say that another program holds the
  // file open; asking for the file without sharing does.
  const FileHandle probe(::CreateFileW(to.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return Status(error);
  }
  return moveFailure;
}

bool Win32FileSystem::InUse(const std::wstring& path) const {
  // Asks for what a replacement needs (delete access) while allowing
  // everything to others: only a holder that shares less makes this fail.
  const FileHandle probe(::CreateFileW(ExtendedPath(path).c_str(), DELETE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (probe) return false;
  const DWORD error = ::GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool Win32FileSystem::FolderExists(const std::wstring& path) const {
  const DWORD attributes = ::GetFileAttributesW(ExtendedPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Result<Folder> Win32FileSystem::GetFolder(const std::wstring& path) const {
  const std::wstring given = WithoutTrailingSeparators(path, true);
  // The find data carries the name as stored, whatever case `path` uses.
  WIN32_FIND_DATAW data;
  const FindHandle find(::FindFirstFileW(ExtendedPath(given).c_str(), &data));
  if (!find) {
    const Status failure = LastError();
    return failure.error() == ERROR_FILE_NOT_FOUND ? Status(ERROR_PATH_NOT_FOUND) : failure;
  }
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Status(ERROR_PATH_NOT_FOUND);
  return Folder{data.cFileName, given};
}

Status Win32FileSystem::SubFolders(const Folder& folder,
                                   const std::function<void(const Folder&)>& visit) const {
  // Made full with the separator still on, so a drive root stays a root.
  std::wstring pattern = ExtendedPath(folder.Path + L"\\");
  if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';

  WIN32_FIND_DATAW data;
  const FindHandle find(::FindFirstFileW(pattern.c_str(), &data));
  if (!find) {
    const Status failure = LastError();
    return failure.error() == ERROR_FILE_NOT_FOUND ? Status::Ok() : failure;
  }
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(data.cFileName)) continue;
    const std::wstring name = data.cFileName;
    visit(Folder{name, folder.Path + L"\\" + name});
  } while (::FindNextFileW(find.get(), &data));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? Status::Ok() : Status(error);
}

}  // namespace zarvelo::win32
