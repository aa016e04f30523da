// The file a download writes, made new for each attempt: whatever had its
// name is removed first and the file is created so that it cannot be one
// that already exists (a file planted in a shared TEMP folder is never
// written to or used). When the name is still held, a fresh one is taken.
// It goes away again unless the download succeeds, even when the process
// ends in the middle of it; a whole download stays held, shared for
// reading only, until dropped.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/digest.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "win32/cng/sha256.h"
#include "win32/handles.h"

namespace zarvelo::win32 {

class PartialFile {
 public:
  // `hash`: the bytes are hashed as they are written.
  explicit PartialFile(bool hash) : hashing_(hash) {}
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Makes the file at `path`, or beside it; a failure when it cannot.
  Status Create(const std::wstring& path);
  // The file's name: the one asked for, or a fresh one beside it when that
  // name was still held.
  const std::wstring& path() const { return path_; }

  // Appends the bytes and hashes them.
  Status Write(const char* data, DWORD size);

  // Hands the file over, held, with the SHA-256 of everything written
  // (when hashed) in `digest`.
  Result<std::shared_ptr<HeldFile>> Keep(Sha256Digest& digest);

 private:
  // Why `path` could not be made new, if it could not.
  Status CreateAt(const std::wstring& path);

  std::wstring path_;
  FileHandle file_;
  Sha256 hash_;
  std::int64_t size_ = 0;
  bool hashing_;
  bool markedForDeletion_ = false;
};

}  // namespace zarvelo::win32
