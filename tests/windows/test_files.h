// File set-up for the Windows tests. It goes straight to Windows, never
// through the code under test, and takes paths of any length and script: each
// helper works on the "\\?\" form of the path it is given. A helper that fails
// leaves the Windows error in GetLastError().
#pragma once

#include <optional>
#include <string>

namespace zarvelo::testfiles {

// The temp folder, without a trailing backslash.
std::wstring TempFolder();

// A fresh folder `name`-<process>-<n> in the temp folder, removed with
// everything in it (read-only and hidden entries too) when this object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // False when the folder could not be made.
  bool created() const { return created_; }

 private:
  std::wstring path_;
  bool created_ = false;
};

// Creates every missing folder of the full path `path`; true when it is a
// folder afterwards.
bool MakeFolders(const std::wstring& path);
// Creates or overwrites the file with exactly `bytes`.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The file's bytes, or nothing when it cannot be opened or read. Others may
// have the file open for writing or deletion.
std::optional<std::string> ReadBytes(const std::wstring& path);
// A file or folder is there.
bool Exists(const std::wstring& path);
// Deletes the file, or the folder with everything in it, whatever their
// attributes; links inside are removed, never followed. True when nothing is
// left.
bool RemoveTree(const std::wstring& path);

}  // namespace zarvelo::testfiles
