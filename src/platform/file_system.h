// File and folder operations the installer's logic needs. Paths are full
// Windows paths joined by plain concatenation; implementations accept paths
// of any length and any Unicode characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/digest.h"
#include "platform/error.h"

namespace zarvelo {

struct Folder {
  std::wstring Name;  // last path component, as stored
  std::wstring Path;  // full path, no trailing separator
};

// A file a download wrote, held open so that no one else can write, rename
// or delete it: the bytes it was checked for stay the bytes it holds.
// Deleted when dropped.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  virtual std::int64_t Size() const = 0;
};

// A new file made by FileSystem::Stage and held open by it: no one else can
// write, rename or delete it while this object lives. Deleted when dropped,
// unless it has replaced its target.
class StagedFile {
 public:
  virtual ~StagedFile() = default;

  // Renames the held file to `target` in one step, replacing what is there
  // (read-only or not), and lets go of it. On failure both are as they
  // were: `target` holds the old file, attributes and all.
  virtual Status Replace(const std::wstring& target) = 0;

  // The SHA-256 of its bytes, read again.
  virtual Result<Sha256Digest> Sha256() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates one folder whose parent exists.
  virtual Status CreateFolder(const std::wstring& path) = 0;

  // The file's size in bytes; a folder is no file.
  virtual Result<std::int64_t> FileSize(const std::wstring& path) const = 0;

  // The whole file, when it holds at most `limit` bytes; a longer one fails
  // with kErrorFileTooLarge.
  virtual Result<std::string> ReadSmallFile(const HeldFile& file, std::size_t limit) const = 0;

  // The SHA-256 of the file's bytes.
  virtual Result<Sha256Digest> FileSha256(const std::wstring& path) const = 0;

  // Makes `staging` a new file (whatever had that name is removed first,
  // never written into) and copies `source` into it; the copy is on disk
  // when this succeeds. `stop` is asked between pieces: when it says so,
  // the copy ends with kErrorCancelled and nothing is left. `readFailed`
  // tells a failure to read `source` from one of the staging file.
  virtual Status Stage(const HeldFile& source, const std::wstring& staging,
                       const std::function<bool()>& stop, std::unique_ptr<StagedFile>& staged,
                       bool& readFailed) = 0;

  // Renames `source` to `target`, where nothing may be; the file keeps its
  // attributes.
  virtual Status Rename(const std::wstring& source, const std::wstring& target) = 0;

  // Deletes a file of our own even when it is read-only.
  virtual Status Discard(const std::wstring& path) = 0;

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

  // True when `a` and `b` name the same file or folder as Windows compares
  // names: ignoring case, in every script Windows folds.
  virtual bool SameName(const std::wstring& a, const std::wstring& b) const = 0;
};

}  // namespace zarvelo
