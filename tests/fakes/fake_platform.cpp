#include "fake_platform.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>

namespace zarvelo::fake {
namespace {

using Entry = FakeFileSystem::Entry;

// Windows folds names one UTF-16 unit at a time through its uppercase
// table: Unicode's simple uppercase mappings, less those whose uppercase
// letter lowercases to another one (µ, ı, ſ, ς, ǅ and the like).
wchar_t FoldLikeWindows(wchar_t c) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (!unicode) std::abort();  // without Unicode case data the double would lie
  if (static_cast<std::uint32_t>(c) > 0xFFFF) return c;  // surrogates have no case
  const wint_t upper = towupper_l(static_cast<wint_t>(c), unicode);
  return towlower_l(upper, unicode) == static_cast<wint_t>(c) ? static_cast<wchar_t>(upper) : c;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return FoldLikeWindows(x) == FoldLikeWindows(y); });
}

std::wstring Parent(const std::wstring& path) {
  const auto slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring LastComponent(const std::wstring& path) {
  return path.substr(path.rfind(L'\\') + 1);
}

}  // namespace

Sha256Digest FakeSha256(const std::string& bytes) {
  // FNV-1a, once per eight-byte lane with a different start.
  Sha256Digest digest{};
  for (std::size_t lane = 0; lane < digest.size() / 8; ++lane) {
    std::uint64_t h = 14695981039346656037ull + lane;
    for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    for (std::size_t i = 0; i < 8; ++i) digest[lane * 8 + i] = std::uint8_t(h >> (8 * i));
  }
  return digest;
}

std::wstring FakeEnvironment::Variable(const std::wstring& name) const {
  for (const auto& [key, value] : vars)
    if (SamePath(key, name)) return value;
  return L"";
}

Result<std::wstring> FakeEnvironment::RoamingAppDataFolder() const {
  if (!roamingAppData) return Status(kErrorPathNotFound);
  return *roamingAppData;
}

FakeFileSystem::Entry* FakeFileSystem::Find(const std::wstring& path) {
  for (Entry& entry : entries_)
    if (SamePath(entry.path, path)) return &entry;
  return nullptr;
}

const FakeFileSystem::Entry* FakeFileSystem::Find(const std::wstring& path) const {
  return const_cast<FakeFileSystem*>(this)->Find(path);
}

bool FakeFileSystem::ParentIsFolder(const std::wstring& path) const {
  const std::wstring parent = Parent(path);
  if (parent.size() == 2 && parent[1] == L':') return true;  // a drive root
  const Entry* entry = Find(parent);
  return entry != nullptr && entry->folder;
}

Entry NewEntry(const std::wstring& path, bool folder, std::string bytes = {}) {
  Entry entry;
  entry.path = path;
  entry.folder = folder;
  entry.bytes = std::move(bytes);
  return entry;
}

void FakeFileSystem::AddFolder(const std::wstring& path) {
  if (Exists(path) || path.size() <= 2) return;
  AddFolder(Parent(path));
  entries_.push_back(NewEntry(path, true));
}

void FakeFileSystem::AddLink(const std::wstring& existing, const std::wstring& path) {
  Entry* entry = Find(existing);
  if (entry->link == 0) entry->link = ++links_;
  Entry copy = *entry;
  copy.path = path;
  entries_.push_back(copy);
}

void FakeFileSystem::Remove(const Entry* entry) {
  entries_.erase(entries_.begin() + (entry - entries_.data()));
}

FakeFileSystem::Entry* FakeFileSystem::StagedEntry() {
  for (Entry& entry : entries_)
    if (entry.staged) return &entry;
  return nullptr;
}

void FakeFileSystem::AddFile(const std::wstring& path, std::string bytes) {
  AddFolder(Parent(path));
  if (Entry* entry = Find(path)) {
    entry->bytes = std::move(bytes);
    return;
  }
  entries_.push_back(NewEntry(path, false, std::move(bytes)));
}

void FakeFileSystem::Fail(Op op, const std::wstring& path, WinError error, int times) {
  faults_.push_back({op, path, error, times});
}

void FakeFileSystem::FailSubFoldersAfter(int visited, WinError error) {
  subFolderLimit_ = visited;
  subFolderError_ = error;
}

std::optional<WinError> FakeFileSystem::Injected(Op op, const std::wstring& path) const {
  ++calls[op];
  if (beforeOp) beforeOp(op, path);
  for (Fault& fault : faults_) {
    if (fault.op != op || fault.times == 0) continue;
    if (!fault.path.empty() && !SamePath(fault.path, path)) continue;
    if (fault.times > 0) --fault.times;
    return fault.error;
  }
  return std::nullopt;
}

Status FakeFileSystem::CreateFolder(const std::wstring& path) {
  if (auto error = Injected(Op::CreateFolder, path)) return Status(*error);
  if (Exists(path)) return Status(kErrorAlreadyExists);
  if (!ParentIsFolder(path)) return Status(kErrorPathNotFound);
  entries_.push_back(NewEntry(path, true));
  return Status::Ok();
}

Status FakeFileSystem::WriteFile(const std::wstring& path, const std::string& bytes) {
  if (!ParentIsFolder(path)) return Status(kErrorPathNotFound);
  if (Entry* entry = Find(path)) {
    if (entry->folder || entry->readOnly) return Status(kErrorAccessDenied);
    if (entry->inUse || entry->staged || entry->held) return Status(kErrorSharingViolation);
    entry->bytes = bytes;
    // Every name of the file sees the new bytes.
    if (entry->link != 0)
      for (Entry& other : entries_)
        if (other.link == entry->link) other.bytes = bytes;
    return Status::Ok();
  }
  entries_.push_back(NewEntry(path, false, bytes));
  return Status::Ok();
}

Result<std::int64_t> FakeFileSystem::FileSize(const std::wstring& path) const {
  if (auto error = Injected(Op::FileSize, path)) return Status(*error);
  const Entry* entry = Find(path);
  if (entry == nullptr || entry->folder) return Status(kErrorFileNotFound);
  return static_cast<std::int64_t>(entry->bytes.size());
}

// A download's file, found again by its path: no one else can rename it.
class FakeHeldFile : public HeldFile {
 public:
  FakeHeldFile(FakeFileSystem& fs, std::wstring path) : fs_(fs), path_(std::move(path)) {}
  ~FakeHeldFile() override {
    if (FakeFileSystem::Entry* entry = fs_.Find(path_)) fs_.Remove(entry);
  }
  std::int64_t Size() const override {
    return static_cast<std::int64_t>(fs_.Find(path_)->bytes.size());
  }
  const std::wstring& path() const { return path_; }

 private:
  FakeFileSystem& fs_;
  std::wstring path_;
};

std::shared_ptr<HeldFile> FakeFileSystem::Hold(const std::wstring& path) {
  Find(path)->held = true;
  return std::make_shared<FakeHeldFile>(*this, path);
}

Result<std::string> FakeFileSystem::ReadSmallFile(const HeldFile& file, std::size_t limit) const {
  const std::wstring& path = static_cast<const FakeHeldFile&>(file).path();
  if (auto error = Injected(Op::ReadSmallFile, path)) return Status(*error);
  const Entry* entry = Find(path);
  if (entry->bytes.size() > limit) return Status(kErrorFileTooLarge);
  return entry->bytes;
}

Result<Sha256Digest> FakeFileSystem::FileSha256(const std::wstring& path) const {
  if (auto error = Injected(Op::FileSha256, path)) return Status(*error);
  const Entry* entry = Find(path);
  if (entry == nullptr || entry->folder) return Status(kErrorFileNotFound);
  return FakeSha256(entry->bytes);
}

// The staged file: found again by its mark, wherever it was renamed to.
class FakeStagedFile : public StagedFile {
 public:
  explicit FakeStagedFile(FakeFileSystem& fs) : fs_(fs) {}
  Result<Sha256Digest> Sha256() const override { return FakeSha256(fs_.StagedEntry()->bytes); }
  ~FakeStagedFile() override {
    if (FakeFileSystem::Entry* entry = fs_.StagedEntry()) fs_.Remove(entry);
  }
  Status Replace(const std::wstring& target) override {
    if (auto error = fs_.Injected(Op::ReplaceStaged, target)) return Status(*error);
    if (!fs_.ParentIsFolder(target)) return Status(kErrorPathNotFound);
    if (FakeFileSystem::Entry* there = fs_.Find(target)) {
      if (there->folder || there->staged) return Status(kErrorAccessDenied);
      // Without POSIX semantics no open file is replaced; with them, only
      // one whose holders all share delete. A read-only one is replaced.
      if (there->inUse) return Status(fs_.posixRenames ? kErrorSharingViolation : kErrorAccessDenied);
      if (there->sharesDelete && !fs_.posixRenames) return Status(kErrorAccessDenied);
      fs_.Remove(there);
    }
    FakeFileSystem::Entry* entry = fs_.StagedEntry();
    entry->path = target;
    entry->staged = false;
    return Status::Ok();
  }

 private:
  FakeFileSystem& fs_;
};

Status FakeFileSystem::Stage(const HeldFile& source, const std::wstring& staging,
                             const std::function<bool()>& stop,
                             std::unique_ptr<StagedFile>& staged, bool& readFailed) {
  staged.reset();
  readFailed = false;
  if (auto error = Injected(Op::Stage, staging)) return Status(*error);
  const std::wstring& from = static_cast<const FakeHeldFile&>(source).path();
  // The name goes first (only the name: another name of the same file
  // keeps its bytes); the file is made new.
  if (Entry* planted = Find(staging)) {
    if (planted->folder || planted->readOnly) return Status(kErrorAccessDenied);
    if (planted->inUse || planted->staged) return Status(kErrorSharingViolation);
    Remove(planted);
  }
  if (!ParentIsFolder(staging)) return Status(kErrorPathNotFound);
  if (stop()) return Status(kErrorCancelled);
  if (auto error = Injected(Op::StageRead, from)) {
    readFailed = true;
    return Status(*error);
  }
  Entry entry = NewEntry(staging, false, Find(from)->bytes);
  entry.staged = true;
  entries_.push_back(entry);
  staged = std::make_unique<FakeStagedFile>(*this);
  return Status::Ok();
}

Status FakeFileSystem::Rename(const std::wstring& source, const std::wstring& target) {
  if (auto error = Injected(Op::Rename, target)) return Status(*error);
  Entry* from = Find(source);
  if (from == nullptr || from->folder) return Status(kErrorFileNotFound);
  if (from->inUse || from->staged || from->held) return Status(kErrorSharingViolation);
  if (Exists(target)) return Status(kErrorAlreadyExists);
  if (!ParentIsFolder(target)) return Status(kErrorPathNotFound);
  from->path = target;
  return Status::Ok();
}

Status FakeFileSystem::Discard(const std::wstring& path) {
  if (auto error = Injected(Op::Discard, path)) return Status(*error);
  Entry* entry = Find(path);
  if (entry == nullptr || entry->folder) return Status(kErrorFileNotFound);
  if (entry->inUse || entry->staged || entry->held) return Status(kErrorSharingViolation);
  Remove(entry);
  return Status::Ok();
}

bool FakeFileSystem::InUse(const std::wstring& path) const {
  const Entry* entry = Find(path);
  return entry != nullptr && !entry->folder && entry->inUse;
}

bool FakeFileSystem::FolderExists(const std::wstring& path) const {
  const Entry* entry = Find(path);
  return entry != nullptr && entry->folder;
}

Result<Folder> FakeFileSystem::GetFolder(const std::wstring& path) const {
  if (auto error = Injected(Op::GetFolder, path)) return Status(*error);
  const Entry* entry = Find(path);
  if (entry == nullptr || !entry->folder) return Status(kErrorPathNotFound);
  // As on Windows: the name as stored, the path as given.
  return Folder{LastComponent(entry->path), path};
}

Status FakeFileSystem::SubFolders(const Folder& folder,
                                  const std::function<void(const Folder&)>& visit) const {
  int visited = 0;
  for (const Entry& entry : entries_) {
    if (!entry.folder || !SamePath(Parent(entry.path), folder.Path)) continue;
    if (visited == subFolderLimit_) return Status(subFolderError_);
    visit(Folder{LastComponent(entry.path), folder.Path + L"\\" + LastComponent(entry.path)});
    ++visited;
  }
  return Status::Ok();
}

bool FakeFileSystem::SameName(const std::wstring& a, const std::wstring& b) const {
  return SamePath(a, b);
}

void FakeDownloader::Start(const std::wstring& url, const std::wstring& file, Done done) {
  urls.push_back(url);
  files.push_back(file);
  url_ = url;
  file_ = file;
  pending_ = std::move(done);
  if (completeAtOnce) Complete();
}

void FakeDownloader::Complete() {
  Done done = std::move(pending_);
  pending_ = nullptr;
  const auto own = answers.find(url_);
  const Answer answer = own != answers.end() ? own->second : Answer{result, body, httpStatus, localFile};
  DownloadResult outcome;
  outcome.result = answer.result;
  outcome.localFile = answer.result != 0 && answer.localFile;
  if (answer.body) {
    const std::wstring file = own == answers.end() && freshFile ? *freshFile : file_;
    const Status written = fs_.WriteFile(file, *answer.body);
    if (!written.ok() && outcome.result == 0) {
      outcome.result = HResultFromWin32(written.error());
      outcome.localFile = true;
    }
    // A failed download's file goes, as the bytes it got.
    std::shared_ptr<HeldFile> held = written.ok() ? fs_.Hold(file) : nullptr;
    if (outcome.result == 0) outcome.file = std::move(held);
  }
  if (outcome.result == 0) outcome.sha256 = FakeSha256(answer.body.value_or(""));
  lastHttpStatus_ = answer.httpStatus;
  done(std::move(outcome));
}

EcdsaP256Signature FakeSignature(const Sha256Digest& digest) {
  EcdsaP256Signature signature{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    signature[i] = digest[i];
    signature[digest.size() + i] = static_cast<std::uint8_t>(digest[i] ^ 0x5A);
  }
  return signature;
}

Result<bool> FakeSignatureVerifier::Verify(const Sha256Digest& digest,
                                           const EcdsaP256Signature& signature) const {
  if (failure) return Status(*failure);
  return signature == FakeSignature(digest);
}

void FakeWorker::Run(std::function<void()> job, std::function<void()> done) {
  job();
  done();
}

bool FakeWorker::Pause(std::uint32_t ms) {
  if (ending) return false;
  paused += ms;
  if (onPause) onPause(paused);
  return true;
}

FakeView::FakeView(const WindowDesign& design) {
  for (const ControlDesign& control : design.controls) {
    if (control.kind != ControlKind::InstallButton) continue;
    Button button;
    button.bounds = control.bounds;
    button.caption = control.text;
    buttons.push_back(button);
  }
}

int FakeView::ShowInstallButtons(const std::vector<InstallButton>& column) {
  int shown = 0;
  for (const InstallButton& wanted : column) {
    if (shown == failButtonAt) break;
    if (shown == static_cast<int>(buttons.size())) {
      Button copy = buttons.front();
      copy.visible = false;
      buttons.push_back(copy);
    }
    Button& button = buttons[shown];
    button.visible = true;
    button.bounds = wanted.bounds;
    button.caption = wanted.caption;
    button.enabled = true;
    if (!wanted.toolTip.empty()) button.toolTip = wanted.toolTip;
    ++shown;
  }
  return shown;
}

void FakeView::SetInstallButtonsEnabled(bool enabled) {
  for (std::size_t k = 0; k < buttons.size(); ++k) {
    buttons[k].enabled = enabled;
    log.push_back((enabled ? L"enable " : L"disable ") + std::to_wstring(k));
  }
}

bool FakeView::InstallButtonsEnabled() const { return buttons.front().enabled; }

void FakeView::SetStatus(const std::wstring& text) {
  status = text;
  log.push_back(L"status " + text);
}

void FakeView::ShowError(const std::wstring& message, const std::wstring& title) {
  bool anyEnabled = false;
  for (const Button& button : buttons) anyEnabled = anyEnabled || button.enabled;
  dialogs.push_back({message, title, anyEnabled});
  log.push_back(L"dialog " + message);
}

bool FakeView::AllEnabled() const {
  return std::all_of(buttons.begin(), buttons.end(), [](const Button& b) { return b.enabled; });
}

bool FakeView::NoneEnabled() const {
  return std::none_of(buttons.begin(), buttons.end(), [](const Button& b) { return b.enabled; });
}

}  // namespace zarvelo::fake
