// File and folder operations the installer's logic needs. Paths are full
// Windows paths joined by plain concatenation; implementations accept paths
// of any length and any Unicode characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/digest.h"
#include "platform/error.h"

namespace zarvelo {

struct Folder {
  std::wstring Name;  // last path component, as stored
  std::wstring Path;  // full path, no trailing separator
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates one folder whose parent exists.
  virtual Status CreateFolder(const std::wstring& path) = 0;

  // Deletes one file.
  virtual Status RemoveFile(const std::wstring& path) = 0;

  // Writes a copy of `source` at `destination`, replacing a file there; the
  // copy is on disk when this returns.
  virtual Status Copy(const std::wstring& source, const std::wstring& destination) = 0;

  // The file's size in bytes; a folder is no file.
  virtual Result<std::int64_t> FileSize(const std::wstring& path) const = 0;

  // The whole file, when it holds at most `limit` bytes; a longer one fails
  // with kErrorFileTooLarge.
  virtual Result<std::string> ReadSmallFile(const std::wstring& path, std::size_t limit) const = 0;

  // The SHA-256 of the file's bytes.
  virtual Result<Sha256Digest> FileSha256(const std::wstring& path) const = 0;

  // Moves `source` to `target` in one step, replacing an existing target
  // even when it is read-only or hidden. On failure both files are left as
  // they were.
  virtual Status MoveReplacing(const std::wstring& source, const std::wstring& target) = 0;

  // True when another program holds the file open so that it cannot be
  // replaced or deleted now.
  virtual bool InUse(const std::wstring& path) const = 0;

  // True when `path` is a folder, whatever its attributes.
  virtual bool FolderExists(const std::wstring& path) const = 0;
  virtual Result<Folder> GetFolder(const std::wstring& path) const = 0;
  // Visits the direct subfolders of `folder` in the system's order. A
  // failure part-way ends the walk and is returned; the folders visited so
  // far stay visited.
  virtual Status SubFolders(const Folder& folder,
                            const std::function<void(const Folder&)>& visit) const = 0;
};

}  // namespace zarvelo
