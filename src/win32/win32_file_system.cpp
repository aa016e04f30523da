#include "win32/win32_file_system.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "platform/text.h"
#include "win32/cng/sha256.h"
#include "win32/handles.h"
#include "win32/last_error.h"
#include "win32/long_path.h"
#include "win32/system_library.h"

namespace zarvelo::win32 {
namespace {

constexpr DWORD kReadChunk = 64 * 1024;
// Large pieces keep a 64 MiB copy to a few dozen calls; `stop` is asked
// between them.
constexpr DWORD kCopyChunk = 1024 * 1024;

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

// The SHA-256 of the whole file, read from its start.
Result<Sha256Digest> HashAll(HANDLE file) {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return LastError();
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadChunk]);
  if (!buffer) return Status(ERROR_NOT_ENOUGH_MEMORY);
  Sha256 hash;
  for (;;) {
    DWORD got = 0;
    if (!ReadFull(file, buffer.get(), kReadChunk, got)) return LastError();
    const Status hashed = hash.Update(buffer.get(), got);
    if (!hashed.ok()) return hashed;
    if (got < kReadChunk) return hash.Finish();
  }
}

// The native form of an extended path ("\\?\C:\..." is "\??\C:\..."), which
// a rename through a handle takes.
std::wstring NativePath(const std::wstring& path) {
  std::wstring native = ExtendedPath(path);
  if (native.compare(0, 4, L"\\\\?\\") == 0) native[1] = L'?';
  return native;
}

// A rename through a handle (opened with delete access) to `target` that
// replaces a file there in one step. It is made ready before the staged
// file loses its delete mark, so that little comes between the two: a
// program ended in that instant leaves the staged file behind, which the
// next install removes.
//
// Windows 10 replaces a file that a reader holds with delete sharing only
// with POSIX semantics; older systems, some file systems and Wine refuse
// that request, and get the plain one.
class ReplacingRename {
 public:
  explicit ReplacingRename(const std::wstring& target) {
    const std::wstring native = NativePath(target);
    size_ = offsetof(FILE_RENAME_INFO, FileName) + (native.size() + 1) * sizeof(wchar_t);
    buffer_.reset(new (std::nothrow) unsigned char[size_]());
    if (!buffer_) return;
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer_.get());
    rename->FileNameLength = static_cast<DWORD>(native.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, native.c_str(), (native.size() + 1) * sizeof(wchar_t));
  }

  bool ready() const { return buffer_ != nullptr; }

  Status Apply(HANDLE file) {
    // FileRenameInfoEx takes flags where FileRenameInfo has ReplaceIfExists.
    constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;
    constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
    const DWORD size = static_cast<DWORD>(size_);
    if (!kEmulateWindows7) {
      SetFlags(kReplaceIfExists | kPosixSemantics);
      if (::SetFileInformationByHandle(file, kFileRenameInfoEx, buffer_.get(), size))
        return Status::Ok();
    }
    SetFlags(kReplaceIfExists);  // ReplaceIfExists = TRUE
    return Check(::SetFileInformationByHandle(file, FileRenameInfo, buffer_.get(), size));
  }

 private:
  void SetFlags(DWORD flags) { std::memcpy(buffer_.get(), &flags, sizeof flags); }

  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t size_ = 0;
};

class Win32StagedFile : public StagedFile {
 public:
  Win32StagedFile(FileHandle file, std::wstring path)
      : file_(std::move(file)), path_(std::move(path)) {
    marked_ = SetDeleteOnClose(file_.get(), true);
  }
  ~Win32StagedFile() override {
    if (!file_) return;
    if (marked_ || SetDeleteOnClose(file_.get(), true)) return;  // gone when the handle closes
    file_.reset();
    ::DeleteFileW(path_.c_str());
  }
  Win32StagedFile(const Win32StagedFile&) = delete;
  Win32StagedFile& operator=(const Win32StagedFile&) = delete;

  HANDLE handle() const { return file_.get(); }

  Result<Sha256Digest> Sha256() const override { return HashAll(file_.get()); }

  Status Replace(const std::wstring& target) override {
    const std::wstring to = ExtendedPath(target);
    ReplacingRename rename(to);
    if (!rename.ready()) return Status(ERROR_NOT_ENOUGH_MEMORY);
    // A rename does not replace a read-only file: the attribute comes off
    // first, and goes back on if the rename fails.
    const DWORD original = ::GetFileAttributesW(to.c_str());
    const bool readOnly = original != INVALID_FILE_ATTRIBUTES &&
                          (original & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
                              FILE_ATTRIBUTE_READONLY;
    if (readOnly) {
      const DWORD plain = original & ~FILE_ATTRIBUTE_READONLY;
      if (!::SetFileAttributesW(to.c_str(), plain != 0 ? plain : FILE_ATTRIBUTE_NORMAL))
        return LastError();
    }
    // A file marked for deletion cannot be renamed: the mark comes off for
    // the rename, and back on if it fails.
    Status renamed = Status::Ok();
    if (marked_ && !SetDeleteOnClose(file_.get(), false)) renamed = LastError();
    if (renamed.ok()) {
      marked_ = false;
      renamed = rename.Apply(file_.get());
    }
    if (!renamed.ok()) {
      if (!marked_) marked_ = SetDeleteOnClose(file_.get(), true);
      if (readOnly) ::SetFileAttributesW(to.c_str(), original);
      return renamed;
    }
    // The bytes were flushed before: a delayed error of the close changes
    // nothing for them.
    file_.reset();
    return Status::Ok();
  }

 private:
  FileHandle file_;
  std::wstring path_;  // for a last delete by name
  bool marked_ = false;
};

// Reads from the start of a held file.
HANDLE Rewound(const HeldFile& file) {
  const HANDLE handle = static_cast<const Win32HeldFile&>(file).handle();
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) ? handle : nullptr;
}

}  // namespace

FileHandle CreateFresh(const std::wstring& path, DWORD& removeError) {
  removeError = ::DeleteFileW(path.c_str()) ? ERROR_SUCCESS : ::GetLastError();
  return FileHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
}

bool SetDeleteOnClose(HANDLE file, bool deleteOnClose) {
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = deleteOnClose ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
}

Status WriteAll(HANDLE file, const char* data, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(file, data, size, &written, nullptr)) return LastError();
    if (written == 0) return Status(ERROR_WRITE_FAULT);
    data += written;
    size -= written;
  }
  return Status::Ok();
}

Win32HeldFile::~Win32HeldFile() {
  if (file_) SetDeleteOnClose(file_.get(), true);
}

Status Win32FileSystem::CreateFolder(const std::wstring& path) {
  return Check(::CreateDirectoryW(ExtendedPath(path).c_str(), nullptr));
}

Result<std::int64_t> Win32FileSystem::FileSize(const std::wstring& path) const {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(ExtendedPath(path).c_str(), GetFileExInfoStandard, &data))
    return LastError();
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Status(ERROR_FILE_NOT_FOUND);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

Result<std::string> Win32FileSystem::ReadSmallFile(const HeldFile& file,
                                                   std::size_t limit) const {
  if (limit >= MAXDWORD) return Status(ERROR_NOT_ENOUGH_MEMORY);
  const HANDLE from = Rewound(file);
  if (!from) return LastError();
  // One byte more than allowed tells a file that is too long.
  std::string bytes(limit + 1, '\0');
  DWORD got = 0;
  if (!ReadFull(from, bytes.data(), static_cast<DWORD>(bytes.size()), got)) return LastError();
  if (got > limit) return Status(ERROR_FILE_TOO_LARGE);
  bytes.resize(got);
  return bytes;
}

Result<Sha256Digest> Win32FileSystem::FileSha256(const std::wstring& path) const {
  const FileHandle file = OpenForReading(path);
  if (!file) return LastError();
  return HashAll(file.get());
}

Status Win32FileSystem::Stage(const HeldFile& source, const std::wstring& staging,
                              const std::function<bool()>& stop,
                              std::unique_ptr<StagedFile>& staged, bool& readFailed) {
  staged.reset();
  readFailed = false;
  // No one can write to the source: it is held since its first byte.
  const HANDLE from = Rewound(source);
  if (!from) {
    readFailed = true;
    return LastError();
  }
  const std::wstring to = ExtendedPath(staging);
  DWORD removeError = ERROR_SUCCESS;
  FileHandle file = CreateFresh(to, removeError);
  if (!file) {
    const Status failure = LastError();
    // A name that could not be removed says why better than "exists".
    if ((failure.error() == ERROR_FILE_EXISTS || failure.error() == ERROR_ALREADY_EXISTS) &&
        removeError != ERROR_SUCCESS && removeError != ERROR_FILE_NOT_FOUND)
      return Status(removeError);
    return failure;
  }
  auto made = std::make_unique<Win32StagedFile>(std::move(file), to);
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyChunk]);
  if (!buffer) return Status(ERROR_NOT_ENOUGH_MEMORY);
  for (;;) {
    if (stop()) return Status(ERROR_CANCELLED);
    DWORD got = 0;
    if (!ReadFull(from, buffer.get(), kCopyChunk, got)) {
      readFailed = true;
      return LastError();
    }
    const Status written = WriteAll(made->handle(), buffer.get(), got);
    if (!written.ok()) return written;
    if (got < kCopyChunk) break;
  }
  // On disk before it replaces anything: a power cut must not leave a
  // half-written file under the plug-in's name.
  if (!::FlushFileBuffers(made->handle())) return LastError();
  staged = std::move(made);
  return Status::Ok();
}

Status Win32FileSystem::Rename(const std::wstring& source, const std::wstring& target) {
  return Check(::MoveFileExW(ExtendedPath(source).c_str(), ExtendedPath(target).c_str(),
                             MOVEFILE_WRITE_THROUGH));
}

Status Win32FileSystem::Discard(const std::wstring& path) {
  // Through one handle: the attributes cleared are those of the file then
  // deleted.
  const FileHandle file(::CreateFileW(ExtendedPath(path).c_str(),
                                      DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!file) return LastError();
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic))
    return LastError();
  const DWORD original = basic.FileAttributes;
  if (original & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO plain{};  // zero times: left as they are
    plain.FileAttributes = original & ~FILE_ATTRIBUTE_READONLY;
    if (plain.FileAttributes == 0) plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(file.get(), FileBasicInfo, &plain, sizeof plain))
      return LastError();
  }
  if (SetDeleteOnClose(file.get(), true)) return Status::Ok();
  const Status failure = LastError();
  if (original & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO back{};
    back.FileAttributes = original;
    ::SetFileInformationByHandle(file.get(), FileBasicInfo, &back, sizeof back);
  }
  return failure;
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

bool Win32FileSystem::SameName(const std::wstring& a, const std::wstring& b) const {
  // The comparison the file system itself makes: one UTF-16 unit at a time
  // through the system's uppercase table, whatever the user's locale.
  return a.size() == b.size() && a.size() <= 0x7FFFFFFF &&
         ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace zarvelo::win32
