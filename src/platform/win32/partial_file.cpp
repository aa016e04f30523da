#include "platform/win32/partial_file.h"

#include "platform/win32/long_path.h"

namespace zarvelo::win32 {
namespace {

Status LastError() {
  const DWORD error = ::GetLastError();
  return Status(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
}

}  // namespace

PartialFile::PartialFile(const std::wstring& path) : path_(ExtendedPath(path)) {
  // If this fails, creating the file says why.
  ::DeleteFileW(path_.c_str());
  file_.reset(::CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) {
    error_ = LastError().error();
    return;
  }
  // Marked for deletion from the start, so the system removes it even when
  // the process ends in the middle of a transfer (the user closed the
  // window while the server stalled). Keep() takes the mark off.
  markedForDeletion_ = MarkForDeletion(true);
}

PartialFile::~PartialFile() {
  if (!file_ || kept_) return;
  if (markedForDeletion_) return;  // gone when the handle closes
  file_.reset();
  ::DeleteFileW(path_.c_str());
}

Status PartialFile::Write(const char* data, DWORD size) {
  const Status hashed = hash_.Update(data, size);
  if (!hashed.ok()) return hashed;
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(file_.get(), data, size, &written, nullptr)) return LastError();
    if (written == 0) return Status(ERROR_WRITE_FAULT);
    data += written;
    size -= written;
  }
  return Status::Ok();
}

Result<Sha256Digest> PartialFile::Keep() {
  const Result<Sha256Digest> digest = hash_.Finish();
  if (!digest.ok()) return digest;
  if (markedForDeletion_ && !MarkForDeletion(false)) return LastError();
  kept_ = true;
  // Closing can report a delayed write error on network drives.
  if (!::CloseHandle(file_.release())) return LastError();
  return digest;
}

bool PartialFile::MarkForDeletion(bool deleteOnClose) {
  // Through our own handle: this cannot hit a file of the same name that
  // someone else created after us.
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = deleteOnClose ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &dispose,
                                      sizeof dispose) != FALSE;
}

}  // namespace zarvelo::win32
