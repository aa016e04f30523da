// The file and folder operations of the installer on the real file system.
// Every path is passed to Windows in its "\\?\" form, so folders deeper than
// MAX_PATH and names in any script work on every supported Windows version.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "win32/handles.h"

namespace zarvelo::win32 {

// File steps shared with the download's own file (partial_file.h).

// `path` (in its "\\?\" form) made anew: whatever had the name goes first,
// then a file is created that cannot be one that already existed, for
// reading, writing and deletion, shared for reading only. Only the name
// goes: a hard link planted there keeps its file's bytes. `removeError`
// says why the old name could not go, when it could not; on failure the
// last error is the creation's.
FileHandle CreateFresh(const std::wstring& path, DWORD& removeError);

// Marks the file of `file` (opened with delete access) for deletion when
// its last handle closes, or takes the mark off. Through the handle, so it
// cannot hit a file of the same name made since.
bool SetDeleteOnClose(HANDLE file, bool deleteOnClose);

// Writes all of `size` bytes.
Status WriteAll(HANDLE file, const char* data, DWORD size);

// A file held through a handle with read and delete access: marked for
// deletion and closed when dropped.
class Win32HeldFile : public HeldFile {
 public:
  Win32HeldFile(FileHandle file, std::int64_t size) : file_(std::move(file)), size_(size) {}
  ~Win32HeldFile() override;
  Win32HeldFile(const Win32HeldFile&) = delete;
  Win32HeldFile& operator=(const Win32HeldFile&) = delete;

  std::int64_t Size() const override { return size_; }
  HANDLE handle() const { return file_.get(); }

 private:
  FileHandle file_;
  std::int64_t size_;
};

class Win32FileSystem : public FileSystem {
 public:
  Status CreateFolder(const std::wstring& path) override;
  Result<std::int64_t> FileSize(const std::wstring& path) const override;
  // `file` is a Win32HeldFile, as for Stage.
  Result<std::string> ReadSmallFile(const HeldFile& file, std::size_t limit) const override;
  Result<Sha256Digest> FileSha256(const std::wstring& path) const override;
  // `source` is a Win32HeldFile. The staging file is opened for reading,
  // writing and deletion and shares reading only; it is marked for deletion
  // until it has replaced its target, so the system removes it even when
  // the process ends in the middle of the copy.
  Status Stage(const HeldFile& source, const std::wstring& staging,
               const std::function<bool()>& stop, std::unique_ptr<StagedFile>& staged,
               bool& readFailed) override;
  Status Rename(const std::wstring& source, const std::wstring& target) override;
  Status Discard(const std::wstring& path) override;
  bool InUse(const std::wstring& path) const override;
  bool FolderExists(const std::wstring& path) const override;
  Result<Folder> GetFolder(const std::wstring& path) const override;
  Status SubFolders(const Folder& folder,
                    const std::function<void(const Folder&)>& visit) const override;
  bool SameName(const std::wstring& a, const std::wstring& b) const override;
};

}  // namespace zarvelo::win32
