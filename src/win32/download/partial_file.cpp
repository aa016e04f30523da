#include "win32/download/partial_file.h"

#include <utility>

#include "win32/last_error.h"
#include "win32/long_path.h"
#include "win32/win32_file_system.h"

namespace zarvelo::win32 {
namespace {

// How many names are tried before a held name is reported as a failure.
constexpr int kFreshNames = 9;

// plugin.gip and 2 make "plugin (2).gip", in the same folder.
std::wstring NumberedName(const std::wstring& path, int n) {
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::size_t dot = path.find_last_of(L'.');
  const std::size_t at =
      dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) ? dot : path.size();
  std::wstring numbered = path;
  numbered.insert(at, L" (" + std::wstring(1, static_cast<wchar_t>(L'0' + n)) + L")");
  return numbered;
}

// True when `path` could not be made because a file of that name is still
// there: deleted but held open, or held so that it could not be deleted.
// Not for a folder of that name, nor for a folder that cannot be written.
bool NameIsHeld(const std::wstring& path, Status failure) {
  const WinError error = failure.error();
  if (error != ERROR_ACCESS_DENIED && error != ERROR_FILE_EXISTS &&
      error != ERROR_SHARING_VIOLATION)
    return false;
  const DWORD attributes = ::GetFileAttributesW(ExtendedPath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  // A deleted file that is still open cannot even be asked for its
  // attributes.
  return ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

Status PartialFile::CreateAt(const std::wstring& path) {
  // If the old name cannot go, creating the file says why.
  DWORD removeError = ERROR_SUCCESS;
  file_ = CreateFresh(ExtendedPath(path), removeError);
  return file_ ? Status::Ok() : LastError();
}

Status PartialFile::Create(const std::wstring& path) {
  path_ = path;
  Status created = CreateAt(path_);
  // A scanner still reading the last attempt's file keeps its name, even
  // once deleted (Windows 7 until it lets go): the next free name of the
  // form "name (2).ext" beside it will do.
  if (!created.ok() && NameIsHeld(path_, created)) {
    for (int n = 2; n <= kFreshNames; ++n) {
      const std::wstring fresh = NumberedName(path, n);
      if (CreateAt(fresh).ok()) {
        path_ = fresh;
        created = Status::Ok();
        break;
      }
    }
  }
  if (!created.ok()) return created;
  // Marked for deletion from the start, so the system removes it even when
  // the process ends in the middle of a transfer (the user closed the
  // window while the server stalled).
  markedForDeletion_ = SetDeleteOnClose(file_.get(), true);
  return Status::Ok();
}

PartialFile::~PartialFile() {
  if (!file_) return;
  if (markedForDeletion_) return;  // gone when the handle closes
  file_.reset();
  ::DeleteFileW(ExtendedPath(path_).c_str());
}

Status PartialFile::Write(const char* data, DWORD size) {
  if (hashing_) {
    const Status hashed = hash_.Update(data, size);
    if (!hashed.ok()) return hashed;
  }
  size_ += size;
  return WriteAll(file_.get(), data, size);
}

Result<std::shared_ptr<HeldFile>> PartialFile::Keep(Sha256Digest& digest) {
  if (hashing_) {
    const Result<Sha256Digest> hashed = hash_.Finish();
    if (!hashed.ok()) return hashed.status();
    digest = hashed.value();
  }
  // Still marked for deletion: read through the handle only, it goes when
  // the holder lets go, or the process ends.
  auto held = std::make_shared<Win32HeldFile>(std::move(file_), size_);
  return std::shared_ptr<HeldFile>(std::move(held));
}

}  // namespace zarvelo::win32
