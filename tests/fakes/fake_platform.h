// An in-memory, Windows-like platform for the portable logic's tests:
// case-insensitive paths, folders that must exist before their children,
// read-only/hidden files, files held open by "another program", and
// failures injected per operation and path.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/downloader.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/installer_view.h"
#include "platform/signature.h"
#include "platform/worker.h"

namespace zarvelo::fake {

class FakeEnvironment : public Environment {
 public:
  std::map<std::wstring, std::wstring> vars;
  std::wstring systemTemp = L"C:\\Windows\\Temp";
  // The known roaming folder; unset: the lookup fails as for a redirected
  // folder that is not there.
  std::optional<std::wstring> roamingAppData;

  std::wstring Variable(const std::wstring& name) const override;
  std::wstring SystemTempFolder() const override { return systemTemp; }
  Result<std::wstring> RoamingAppDataFolder() const override;
};

enum class Op {
  CreateFolder,
  FileSize,
  ReadSmallFile,  // on the held file's path
  FileSha256,
  GetFolder,
  Stage,          // on the staging path
  StageRead,      // Stage reading its source, on the source's path
  ReplaceStaged,  // StagedFile::Replace, on the target
  Rename,         // on the target
  Discard
};

// The double's stand-in for SHA-256: a digest that differs for different
// bytes in every test, without a hash implementation of our own.
Sha256Digest FakeSha256(const std::string& bytes);

class FakeFileSystem : public FileSystem {
 public:
  struct Entry {
    std::wstring path;  // as created
    bool folder = false;
    std::string bytes;
    bool readOnly = false;
    bool hidden = false;
    bool inUse = false;  // held open by another program without sharing
    bool sharesDelete = false;  // held open by a reader that shares delete
    bool staged = false;  // held by a StagedFile: no one else writes to it
    bool held = false;    // held by a download's HeldFile
    int link = 0;         // entries with the same link > 0 are one file
  };

  // Set-up helpers: create parents as needed.
  void AddFolder(const std::wstring& path);
  void AddFile(const std::wstring& path, std::string bytes);
  Entry* Find(const std::wstring& path);
  const Entry* Find(const std::wstring& path) const;
  bool Exists(const std::wstring& path) const { return Find(path) != nullptr; }

  // The next call of `op` on `path` (any path when empty) fails with `error`;
  // `times` < 0 means every call.
  void Fail(Op op, const std::wstring& path, WinError error, int times = -1);
  // SubFolders fails with `error` after visiting `visited` folders.
  void FailSubFoldersAfter(int visited, WinError error);
  // Runs before each operation, with its path: lets a test play another
  // program between two steps.
  std::function<void(Op op, const std::wstring& path)> beforeOp;
  // How often each operation was called.
  mutable std::map<Op, int> calls;
  // Makes `path` a new name of the file `existing` (a hard link).
  void AddLink(const std::wstring& existing, const std::wstring& path);
  // Renames replace a file that a reader holds with delete sharing, as on
  // Windows 10; false: they are refused, as on Windows 7 and 8.1.
  bool posixRenames = true;

  Status CreateFolder(const std::wstring& path) override;
  Result<std::int64_t> FileSize(const std::wstring& path) const override;
  Result<std::string> ReadSmallFile(const HeldFile& file, std::size_t limit) const override;
  Result<Sha256Digest> FileSha256(const std::wstring& path) const override;
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

  // Writes a file the way a download does: the parent must exist.
  Status WriteFile(const std::wstring& path, const std::string& bytes);
  // Holds the file at `path` as a download does.
  std::shared_ptr<HeldFile> Hold(const std::wstring& path);

 private:
  friend class FakeStagedFile;
  friend class FakeHeldFile;
  struct Fault {
    Op op;
    std::wstring path;
    WinError error;
    int times;
  };
  std::optional<WinError> Injected(Op op, const std::wstring& path) const;
  bool ParentIsFolder(const std::wstring& path) const;
  void Remove(const Entry* entry);
  Entry* StagedEntry();

  std::vector<Entry> entries_;  // in creation order, which is enumeration order
  mutable std::vector<Fault> faults_;
  int subFolderLimit_ = -1;
  WinError subFolderError_ = 0;
  int links_ = 0;
};

// Answers a download by writing `body` (when given) and reporting `result`
// and `httpStatus`; a URL listed in `answers` gets its own answer instead.
class FakeDownloader : public Downloader {
 public:
  explicit FakeDownloader(FakeFileSystem& fs) : fs_(fs) {}

  struct Answer {
    std::int32_t result = 0;
    std::optional<std::string> body;
    std::uint32_t httpStatus = 200;  // 0: no answer came
    bool localFile = false;          // the failure was the file's, not the network's
  };

  std::int32_t result = 0;
  std::optional<std::string> body = std::string("plug-in bytes");
  std::uint32_t httpStatus = 200;
  bool localFile = false;
  std::map<std::wstring, Answer> answers;
  // The name `body` goes to instead of the one asked for, as when a scanner
  // still holds that one.
  std::optional<std::wstring> freshFile;
  bool completeAtOnce = true;  // false: the test calls Complete()

  std::vector<std::wstring> urls, files;

  void Start(const std::wstring& url, const std::wstring& file, Done done) override;
  std::uint32_t LastHttpStatus() const override { return lastHttpStatus_; }
  bool Pending() const { return static_cast<bool>(pending_); }
  void Complete();

 private:
  FakeFileSystem& fs_;
  std::wstring url_, file_;
  Done pending_;
  std::uint32_t lastHttpStatus_ = 0;
};

// The double's stand-in for the vendor's signature of a digest (r‖s), and a
// key that accepts exactly those; `failure` makes every check fail.
EcdsaP256Signature FakeSignature(const Sha256Digest& digest);

class FakeSignatureVerifier : public SignatureVerifier {
 public:
  std::optional<WinError> failure;
  Result<bool> Verify(const Sha256Digest& digest,
                      const EcdsaP256Signature& signature) const override;
};

// Runs each job at once on the calling thread. Pauses take no time; they are
// added up instead, and `onPause` can let go of a file part-way.
class FakeWorker : public Worker {
 public:
  std::uint32_t paused = 0;  // ms in all
  bool ending = false;       // the program is closing: Pause refuses
  std::uint32_t pausedClosing = 0;  // ms of PauseWhileClosing
  std::function<void(std::uint32_t pausedSoFar)> onPause;

  void Run(std::function<void()> job, std::function<void()> done) override;
  bool Pause(std::uint32_t ms) override;
  void PauseWhileClosing(std::uint32_t ms) override { pausedClosing += ms; }
};

// Records what the logic does to the window. `log` keeps the order of status
// texts, dialogs and button changes.
class FakeView : public InstallerView {
 public:
  explicit FakeView(const WindowDesign& design);

  struct Button {
    TwipRect bounds;
    std::wstring caption, toolTip;
    bool enabled = true, visible = true;
  };
  struct Dialog {
    std::wstring message, title;
    bool anyButtonEnabled;  // while the dialog was up
  };

  std::deque<Button> buttons;
  std::wstring status;
  std::optional<Twips> height;
  std::vector<Dialog> dialogs;
  std::vector<std::wstring> log;
  int failButtonAt = -1;  // the column's button that cannot be made

  int ShowInstallButtons(const std::vector<InstallButton>& column) override;
  void SetInstallButtonsEnabled(bool enabled) override;
  bool InstallButtonsEnabled() const override;
  void SetStatus(const std::wstring& text) override;
  void SetWindowHeight(Twips twips) override { height = twips; }
  void ShowError(const std::wstring& message, const std::wstring& title) override;

  bool AllEnabled() const;
  bool NoneEnabled() const;
};

}  // namespace zarvelo::fake
