// The file and folder operations of the installer on the real file system.
// Every path is passed to Windows in its "\\?\" form, so folders deeper than
// MAX_PATH and names in any script work on every supported Windows version.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace zarvelo::win32 {

class Win32FileSystem : public FileSystem {
 public:
  Status CreateFolder(const std::wstring& path) override;
  Status RemoveFile(const std::wstring& path) override;
  Status Copy(const std::wstring& source, const std::wstring& destination) override;
  Result<std::int64_t> FileSize(const std::wstring& path) const override;
  Result<std::string> ReadSmallFile(const std::wstring& path, std::size_t limit) const override;
  Result<Sha256Digest> FileSha256(const std::wstring& path) const override;
  // When the move fails because another program holds the target open, the
  // result is ERROR_SHARING_VIOLATION or ERROR_LOCK_VIOLATION.
  Status MoveReplacing(const std::wstring& source, const std::wstring& target) override;
  // The staging file is opened for reading, writing and deletion and shares
  // reading only; it is marked for deletion until kept, so the system
  // removes it even when the process ends in the middle of the copy.
  Status Stage(const std::wstring& source, const std::wstring& staging,
               const std::function<bool()>& stop, std::unique_ptr<StagedFile>& staged) override;
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
