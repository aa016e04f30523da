// The Win32 environment and file-system services against a real file system:
// every test works in a fresh folder under the temp folder and removes it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "detect/corel_scan.h"
#include "win32/handles.h"
#include "win32/long_path.h"
#include "win32/win32_environment.h"
#include "win32/win32_file_system.h"
#include "windows/test_files.h"

namespace zarvelo::win32 {
namespace {

constexpr DWORD kSticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

using testfiles::Exists;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;

// Test set-up goes straight to Windows, not through the code under test.
DWORD Attributes(const std::wstring& path) {
  return ::GetFileAttributesW(ExtendedPath(path).c_str());
}

void SetAttributes(const std::wstring& path, DWORD attributes) {
  ASSERT_TRUE(::SetFileAttributesW(ExtendedPath(path).c_str(), attributes))
      << "error " << ::GetLastError();
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(testfiles::WriteBytes(path, bytes)) << "error " << ::GetLastError();
}

// One new folder, whose parent is there.
void MakeFolder(const std::wstring& path) {
  ASSERT_TRUE(::CreateDirectoryW(ExtendedPath(path).c_str(), nullptr))
      << "error " << ::GetLastError();
}

void MakeFolders(const std::wstring& path) {
  ASSERT_TRUE(testfiles::MakeFolders(path)) << "error " << ::GetLastError();
}

// Holds `path` as a download holds its file; it goes when dropped.
std::shared_ptr<HeldFile> Hold(const std::wstring& path) {
  FileHandle file(::CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file) << "error " << ::GetLastError();
  LARGE_INTEGER size{};
  ::GetFileSizeEx(file.get(), &size);
  return std::make_shared<Win32HeldFile>(std::move(file), size.QuadPart);
}

// Stages a copy of `source` at `staging`.
std::unique_ptr<StagedFile> Staged(Win32FileSystem& fs, const HeldFile& source,
                                   const std::wstring& staging) {
  std::unique_ptr<StagedFile> staged;
  bool readFailed = false;
  const Status made = fs.Stage(source, staging, [] { return false; }, staged, readFailed);
  EXPECT_TRUE(made.ok()) << made.error();
  return staged;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::wstring name, const wchar_t* value) : name_(std::move(name)) {
    std::wstring old(32768, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name_.c_str(), old.data(),
                                                   static_cast<DWORD>(old.size()));
    if (length > 0 || ::GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
      old.resize(length);
      old_ = old;
    }
    ::SetEnvironmentVariableW(name_.c_str(), value);
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
  ~ScopedEnvironmentVariable() {
    ::SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr);
  }

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

std::vector<Folder> Subfolders(const Win32FileSystem& fs, const Folder& folder,
                               Status* status = nullptr) {
  std::vector<Folder> visited;
  const Status result = fs.SubFolders(folder, [&](const Folder& sub) { visited.push_back(sub); });
  if (status) *status = result;
  std::sort(visited.begin(), visited.end(),
            [](const Folder& a, const Folder& b) { return a.Name < b.Name; });
  return visited;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> items) {
  std::sort(items.begin(), items.end());
  return items;
}

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace(L"zarvelo-fs");
    root_ = scratch_->path();
    ASSERT_TRUE(scratch_->created()) << "error " << ::GetLastError();
  }
  void TearDown() override {
    scratch_.reset();
    EXPECT_FALSE(Exists(root_)) << "left behind";
  }

  std::wstring Path(const std::wstring& relative) const { return root_ + L"\\" + relative; }

  std::optional<ScratchFolder> scratch_;
  std::wstring root_;
  Win32FileSystem fs_;
};

TEST_F(FileSystemTest, UnicodeFolderNamesAreCreatedFoundAndListed) {
  const std::vector<std::wstring> names = {
      L"中文用户 文件夹", L"Кириллица Папка", L"Café Crème à l'été", L"emoji 🎨🖌 folder",
      L"CorelDRAW Graphics Suite 2021 简体"};
  for (const std::wstring& name : names) {
    SCOPED_TRACE(testing::Message() << "folder " << name.size() << " units");
    const std::wstring path = Path(name);
    ASSERT_TRUE(fs_.CreateFolder(path).ok());
    EXPECT_TRUE(fs_.FolderExists(path));
    const Result<Folder> folder = fs_.GetFolder(path);
    ASSERT_TRUE(folder.ok()) << folder.status().error();
    EXPECT_EQ(folder.value().Name, name);
    EXPECT_EQ(folder.value().Path, path);

    // A file inside it, under a Unicode name too.
    const std::wstring copy = path + L"\\插件 ✓.gms";
    ASSERT_NO_FATAL_FAILURE(WriteBytes(copy, "unicode payload"));
    EXPECT_TRUE(Exists(copy));
    EXPECT_FALSE(fs_.FolderExists(copy));
    const Result<std::int64_t> length = fs_.FileSize(copy);
    ASSERT_TRUE(length.ok());
    EXPECT_EQ(length.value(), 15);
  }

  const Result<Folder> root = fs_.GetFolder(root_);
  ASSERT_TRUE(root.ok());
  Status status;
  const std::vector<Folder> visited = Subfolders(fs_, root.value(), &status);
  EXPECT_TRUE(status.ok()) << status.error();
  std::vector<std::wstring> visitedNames;
  for (const Folder& folder : visited) {
    visitedNames.push_back(folder.Name);
    EXPECT_EQ(folder.Path, root_ + L"\\" + folder.Name);
    EXPECT_TRUE(fs_.FolderExists(folder.Path));
  }
  EXPECT_EQ(visitedNames, Sorted(names));
}

TEST_F(FileSystemTest, PathsLongerThanMaxPathWork) {
  // Nested folders until the path is well past MAX_PATH, with Unicode in
  // every component.
  std::wstring deep = root_;
  std::vector<std::wstring> levels;
  for (int level = 0; deep.size() <= MAX_PATH + 60; ++level) {
    deep += L"\\深层目录 " + std::to_wstring(level) + L" " + std::wstring(40, L'x');
    ASSERT_TRUE(fs_.CreateFolder(deep).ok()) << "level " << level << " length " << deep.size();
    levels.push_back(deep);
  }
  ASSERT_GT(deep.size(), static_cast<std::size_t>(MAX_PATH));
  const std::wstring parent = levels[levels.size() - 2];

  EXPECT_TRUE(fs_.FolderExists(deep));
  const Result<Folder> folder = fs_.GetFolder(parent);
  ASSERT_TRUE(folder.ok()) << folder.status().error();
  Status status;
  const std::vector<Folder> visited = Subfolders(fs_, folder.value(), &status);
  EXPECT_TRUE(status.ok()) << status.error();
  ASSERT_EQ(visited.size(), 1u);
  EXPECT_EQ(visited[0].Path, deep);

  const std::wstring source = Path(L"plugin.bin");
  const std::string newBytes(70000, 'n');
  ASSERT_NO_FATAL_FAILURE(WriteBytes(source, newBytes));
  const std::wstring staging = deep + L"\\ZarveloVector.gms.new";
  const std::wstring target = deep + L"\\ZarveloVector.gms";
  const Result<Sha256Digest> sourceDigest = fs_.FileSha256(source);
  std::unique_ptr<StagedFile> staged = Staged(fs_, *Hold(source), staging);
  ASSERT_TRUE(staged);
  ASSERT_NO_FATAL_FAILURE(WriteBytes(target, "old plug-in"));
  SetAttributes(target, FILE_ATTRIBUTE_READONLY);

  const Result<std::int64_t> length = fs_.FileSize(staging);
  ASSERT_TRUE(length.ok()) << length.status().error();
  EXPECT_EQ(length.value(), 70000);
  EXPECT_FALSE(fs_.FolderExists(staging));

  EXPECT_TRUE(staged->Replace(target).ok());
  staged.reset();
  EXPECT_EQ(ReadBytes(target), newBytes);
  EXPECT_FALSE(Exists(staging));
  const Result<Sha256Digest> targetDigest = fs_.FileSha256(target);
  ASSERT_TRUE(sourceDigest.ok() && targetDigest.ok());
  EXPECT_EQ(sourceDigest.value(), targetDigest.value());

  EXPECT_TRUE(fs_.Discard(target).ok());
  EXPECT_FALSE(Exists(target));
}

TEST_F(FileSystemTest, SubFoldersVisitsFoldersOnly) {
  ASSERT_NO_FATAL_FAILURE(MakeFolder(Path(L"CorelDRAW Graphics Suite 2021")));
  ASSERT_NO_FATAL_FAILURE(MakeFolder(Path(L"Another Folder")));
  // Files named like version folders, with and without an extension.
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"CorelDRAW Graphics Suite 2019"), "a file"));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"CorelDRAW.txt"), "a file"));

  Status status;
  const std::vector<Folder> visited = Subfolders(fs_, Folder{L"root", root_}, &status);
  EXPECT_TRUE(status.ok()) << status.error();
  ASSERT_EQ(visited.size(), 2u);
  EXPECT_EQ(visited[0].Name, L"Another Folder");
  EXPECT_EQ(visited[0].Path, Path(L"Another Folder"));
  EXPECT_EQ(visited[1].Name, L"CorelDRAW Graphics Suite 2021");
  EXPECT_EQ(visited[1].Path, Path(L"CorelDRAW Graphics Suite 2021"));

  // An empty folder has nothing to visit, and that is no failure.
  const std::vector<Folder> none = Subfolders(fs_, visited[0], &status);
  EXPECT_TRUE(status.ok()) << status.error();
  EXPECT_TRUE(none.empty());
}

TEST_F(FileSystemTest, GetFolderGivesTheStoredNameAndThePathAsGiven) {
  ASSERT_NO_FATAL_FAILURE(MakeFolder(Path(L"CorelDRAW Graphics Suite X8")));
  struct Case {
    std::wstring asked, path;
  };
  const Case cases[] = {
      {Path(L"CorelDRAW Graphics Suite X8"), Path(L"CorelDRAW Graphics Suite X8")},
      {Path(L"coreldraw graphics suite x8"), Path(L"coreldraw graphics suite x8")},
      {Path(L"CORELDRAW GRAPHICS SUITE X8\\"), Path(L"CORELDRAW GRAPHICS SUITE X8")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const Result<Folder> folder = fs_.GetFolder(c.asked);
    ASSERT_TRUE(folder.ok()) << folder.status().error();
    EXPECT_EQ(folder.value().Name, L"CorelDRAW Graphics Suite X8");
    EXPECT_EQ(folder.value().Path, c.path);
  }
}

// The scan's comparison of folder names and paths.
TEST(FileSystemSameName, IgnoresCaseAsWindowsDoesInEveryScript) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    bool same;
  } cases[] = {
      {L"C:\\Users\\Müller", L"c:\\USERS\\MÜLLER", true},
      {L"C:\\Users\\Ωmega", L"C:\\Users\\ωMEGA", true},
      {L"C:\\Users\\Пользователь", L"C:\\Users\\ПОЛЬЗОВАТЕЛЬ", true},
      {L"C:\\Users\\Ёлка", L"C:\\Users\\ёлка", true},
      {L"C:\\Users\\张伟", L"C:\\Users\\张伟", true},
      {L"C:\\Users\\a×b", L"C:\\Users\\a÷b", false},  // signs, not letters
      {L"C:\\Users\\Muller", L"C:\\Users\\Müller", false},
      {L"C:\\Users\\ab", L"C:\\Users\\abc", false},
      // Z and z, and pairs beyond the basic alphabets (Ł ł, Ÿ ÿ, Ά ά).
      {L"C:\\Users\\Zofia Łoś Ÿvette Άρης", L"c:\\users\\zOFIA łOŚ ÿVETTE άΡΗς", true},
  };
  for (const Case& c : cases) EXPECT_EQ(Win32FileSystem().SameName(c.a, c.b), c.same) << c.a;
}

TEST_F(FileSystemTest, FolderExistsForFoldersOnlyWhateverTheirAttributes) {
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"normal.gms"), "x"));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"readonly.gms"), "x"));
  SetAttributes(Path(L"readonly.gms"), FILE_ATTRIBUTE_READONLY);
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"hidden.gms"), "x"));
  SetAttributes(Path(L"hidden.gms"), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"system.gms"), "x"));
  SetAttributes(Path(L"system.gms"), FILE_ATTRIBUTE_SYSTEM);
  ASSERT_NO_FATAL_FAILURE(MakeFolder(Path(L"GMS")));
  ASSERT_NO_FATAL_FAILURE(MakeFolder(Path(L"HiddenGMS")));
  SetAttributes(Path(L"HiddenGMS"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);

  struct Case {
    const wchar_t* entry;
    bool folder;
    bool file;  // FileSize gives its one byte
  };
  const Case cases[] = {
      {L"normal.gms", false, true},  {L"readonly.gms", false, true},
      {L"hidden.gms", false, true},  {L"system.gms", false, true},
      {L"GMS", true, false},         {L"HiddenGMS", true, false},
      {L"missing.gms", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "entry " << c.entry);
    const std::wstring path = Path(c.entry);
    EXPECT_EQ(fs_.FolderExists(path), c.folder);
    const Result<std::int64_t> size = fs_.FileSize(path);
    EXPECT_EQ(size.ok(), c.file);
    if (c.file) {
      EXPECT_EQ(size.value(), 1);
    }
  }
  // Whatever the case it is asked in.
  EXPECT_TRUE(fs_.FolderExists(Path(L"gms")));
  EXPECT_FALSE(fs_.FolderExists(Path(L"missing\\normal.gms")));
  EXPECT_FALSE(fs_.FolderExists(L""));
}

TEST_F(FileSystemTest, AStagedFileReplacesWhateverTheTargetsAttributes) {
  struct Case {
    const wchar_t* name;
    std::optional<DWORD> target;  // none: no target yet
  };
  const Case cases[] = {
      {L"no target", std::nullopt},
      {L"normal", FILE_ATTRIBUTE_NORMAL},
      {L"read-only", FILE_ATTRIBUTE_READONLY},
      {L"hidden", FILE_ATTRIBUTE_HIDDEN},
      {L"system", FILE_ATTRIBUTE_SYSTEM},
      {L"read-only hidden system",
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "target " << c.name);
    const std::wstring source = Path(std::wstring(c.name) + L".gip");
    const std::wstring staging = Path(std::wstring(c.name) + L".new");
    const std::wstring target = Path(std::wstring(c.name) + L".gms");
    ASSERT_NO_FATAL_FAILURE(WriteBytes(source, "the new plug-in bytes"));
    if (c.target) {
      ASSERT_NO_FATAL_FAILURE(WriteBytes(target, "old"));
      SetAttributes(target, *c.target);
      ASSERT_EQ(Attributes(target) & kSticky, *c.target & kSticky);
    }
    std::unique_ptr<StagedFile> staged = Staged(fs_, *Hold(source), staging);
    ASSERT_TRUE(staged);
    const Status replaced = staged->Replace(target);
    EXPECT_TRUE(replaced.ok()) << replaced.error();
    staged.reset();
    EXPECT_EQ(ReadBytes(target), "the new plug-in bytes");
    EXPECT_FALSE(Exists(staging));
    EXPECT_FALSE(Exists(source));
  }
}

// A plug-in another program holds open: what the replace meets, and the
// old plug-in as it was, attributes and all, when it is refused. A reader
// that shares delete is replaced where Windows has POSIX renames.
TEST_F(FileSystemTest, AStagedFileOverATargetInUse) {
  struct Case {
    const wchar_t* name;
    DWORD attributes;
    DWORD share;  // how the other program opened the target
  };
  const Case cases[] = {
      {L"read-only, no sharing", FILE_ATTRIBUTE_READONLY, 0},
      {L"normal, no sharing", FILE_ATTRIBUTE_NORMAL, 0},
      {L"hidden, no sharing", FILE_ATTRIBUTE_HIDDEN, 0},
      {L"read-only, shared for reading", FILE_ATTRIBUTE_READONLY, FILE_SHARE_READ},
      {L"read-only, shared for deleting", FILE_ATTRIBUTE_READONLY,
       FILE_SHARE_READ | FILE_SHARE_DELETE},
  };
  const std::wstring source = Path(L"download.gip");
  ASSERT_NO_FATAL_FAILURE(WriteBytes(source, "the new plug-in bytes"));
  const std::shared_ptr<HeldFile> held = Hold(source);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "target " << c.name);
    const std::wstring staging = Path(std::wstring(c.name) + L".new");
    const std::wstring target = Path(std::wstring(c.name) + L".gms");
    ASSERT_NO_FATAL_FAILURE(WriteBytes(target, "old plug-in"));
    SetAttributes(target, c.attributes);
    const DWORD before = Attributes(target);
    std::unique_ptr<StagedFile> staged = Staged(fs_, *held, staging);
    ASSERT_TRUE(staged);

    Status replaced;
    bool inUse = false;
    {
      const FileHandle reader(::CreateFileW(ExtendedPath(target).c_str(), GENERIC_READ, c.share,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(reader) << "error " << ::GetLastError();
      inUse = fs_.InUse(target);
      replaced = staged->Replace(target);
    }
    staged.reset();
    EXPECT_FALSE(Exists(staging));
    EXPECT_EQ(inUse, (c.share & FILE_SHARE_DELETE) == 0);
    if (replaced.ok()) {
      EXPECT_FALSE(inUse) << "replaced under a reader that does not share delete";
      EXPECT_EQ(ReadBytes(target), "the new plug-in bytes");
      continue;
    }
    EXPECT_TRUE(replaced.error() == kErrorSharingViolation || replaced.error() == kErrorAccessDenied)
        << "error " << replaced.error();
    EXPECT_EQ(ReadBytes(target), "old plug-in");
    EXPECT_EQ(Attributes(target), before);
  }
}

TEST_F(FileSystemTest, FileSha256HashesEveryByte) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* sha256;
  };
  const Case cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"one whole chunk", std::string(65536, 'k'),
       "82453847604f296a0366e423cb284284e24af9665eb3a98c70bad1397285e541"},
      {"many chunks, the last one partial", std::string(200000, 'b'),
       "31731ec46c3318e622490d1102d6a5f2d0b33995b35ede8cdbbb76252ee6d87b"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring file = Path(L"hashed" + std::to_wstring(index++));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(file, c.bytes));
    const Result<Sha256Digest> digest = fs_.FileSha256(file);
    ASSERT_TRUE(digest.ok()) << digest.status().error();
    std::string hex;
    for (const std::uint8_t byte : digest.value()) {
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 15];
    }
    EXPECT_EQ(hex, c.sha256);
  }
  EXPECT_EQ(fs_.FileSha256(Path(L"missing")).status().error(), kErrorFileNotFound);
}

TEST_F(FileSystemTest, FileSha256ReadsFilesOthersHaveOpen) {
  const std::wstring a = Path(L"download.tmp");
  const std::wstring b = Path(L"ZarveloVector.gms");
  ASSERT_NO_FATAL_FAILURE(WriteBytes(a, "plug-in"));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(b, "plug-in"));
  // A writer that shares for reading and writing, and one that allows
  // deletion too.
  const FileHandle writer(::CreateFileW(ExtendedPath(a).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  const FileHandle deleter(::CreateFileW(ExtendedPath(b).c_str(), GENERIC_READ | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(deleter);
  const Result<Sha256Digest> digestA = fs_.FileSha256(a);
  const Result<Sha256Digest> digestB = fs_.FileSha256(b);
  ASSERT_TRUE(digestA.ok()) << digestA.status().error();
  ASSERT_TRUE(digestB.ok()) << digestB.status().error();
  EXPECT_EQ(digestA.value(), digestB.value());
}

TEST_F(FileSystemTest, FileSizeMeasures) {
  const std::wstring source = Path(L"download.tmp");
  const std::wstring destination = Path(L"ZarveloVector.gms.new");
  ASSERT_NO_FATAL_FAILURE(WriteBytes(destination, std::string(123457, 'p')));
  const Result<std::int64_t> length = fs_.FileSize(destination);
  ASSERT_TRUE(length.ok());
  EXPECT_EQ(length.value(), 123457);
  ASSERT_NO_FATAL_FAILURE(WriteBytes(source, ""));
  const Result<std::int64_t> empty = fs_.FileSize(source);
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty.value(), 0);
}

TEST_F(FileSystemTest, FailuresCarryWindowsErrorCodes) {
  ASSERT_NO_FATAL_FAILURE(MakeFolder(Path(L"GMS")));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"file.gms"), "x"));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(Path(L"readonly.gms"), "x"));
  SetAttributes(Path(L"readonly.gms"), FILE_ATTRIBUTE_READONLY);

  struct Case {
    const char* name;
    std::function<Status()> call;
    WinError error;
  };
  Win32FileSystem& fs = fs_;
  const Case cases[] = {
      {"Discard, no such file", [&] { return fs.Discard(Path(L"missing.gms")); },
       kErrorFileNotFound},
      {"CreateFolder, folder exists", [&] { return fs.CreateFolder(Path(L"GMS")); }, kErrorAlreadyExists},
      {"CreateFolder, file exists", [&] { return fs.CreateFolder(Path(L"file.gms")); },
       kErrorAlreadyExists},
      {"CreateFolder, parent missing", [&] { return fs.CreateFolder(Path(L"missing\\GMS")); },
       kErrorPathNotFound},
      {"FileSize, no such file", [&] { return fs.FileSize(Path(L"missing.gms")).status(); },
       kErrorFileNotFound},
      {"FileSize, a folder", [&] { return fs.FileSize(Path(L"GMS")).status(); },
       kErrorFileNotFound},
      {"GetFolder, no such folder", [&] { return fs.GetFolder(Path(L"missing")).status(); },
       kErrorPathNotFound},
      {"GetFolder, a file", [&] { return fs.GetFolder(Path(L"file.gms")).status(); },
       kErrorPathNotFound},
      {"SubFolders, no such folder",
       [&] { return fs.SubFolders(Folder{L"missing", Path(L"missing")}, [](const Folder&) {}); },
       kErrorPathNotFound},
      {"Rename, target exists", [&] { return fs.Rename(Path(L"file.gms"), Path(L"readonly.gms")); },
       kErrorAlreadyExists},
      {"Stage, no such folder",
       [&] {
         std::unique_ptr<StagedFile> staged;
         bool readFailed = false;
         ::CopyFileW(ExtendedPath(Path(L"file.gms")).c_str(),
                     ExtendedPath(Path(L"held.gip")).c_str(), FALSE);
         return fs.Stage(*Hold(Path(L"held.gip")), Path(L"missing\\x.download"),
                         [] { return false; }, staged, readFailed);
       },
       kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call().error(), c.error);
  }
  EXPECT_TRUE(Exists(Path(L"readonly.gms")));
  EXPECT_FALSE(fs_.FolderExists(Path(L"file.gms")));
  EXPECT_FALSE(fs_.FolderExists(Path(L"missing")));
  EXPECT_TRUE(fs_.FolderExists(Path(L"GMS")));
}

TEST(EnvironmentTest, VariableReadsValuesOfAnyLength) {
  const std::wstring name = L"ZARVELO_TEST_变量";
  struct Case {
    const char* name;
    std::optional<std::wstring> value;  // none: unset
    std::wstring expected;
  };
  const Case cases[] = {
      {"unset", std::nullopt, L""},
      {"empty", std::wstring(), L""},
      {"short Unicode", std::wstring(L"C:\\Users\\张三"), L"C:\\Users\\张三"},
      {"255", std::wstring(255, L'a'), std::wstring(255, L'a')},
      {"256", std::wstring(256, L'b'), std::wstring(256, L'b')},
      {"257", std::wstring(257, L'c'), std::wstring(257, L'c')},
      {"5000", std::wstring(5000, L'文'), std::wstring(5000, L'文')},
      {"32000", std::wstring(32000, L'd'), std::wstring(32000, L'd')},
  };
  const Win32Environment env;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedEnvironmentVariable set(name, c.value ? c.value->c_str() : nullptr);
    EXPECT_EQ(env.Variable(name), c.expected);
  }
}

TEST(EnvironmentTest, SystemTempFolderHasNoTrailingBackslash) {
  const Win32Environment env;
  {
    const ScratchFolder scratch(L"zarvelo-临时");
    ASSERT_TRUE(scratch.created()) << "error " << ::GetLastError();
    const std::wstring& folder = scratch.path();
    for (const std::wstring& tmp : {folder, folder + L"\\"}) {
      SCOPED_TRACE(testing::Message() << "TMP ends with backslash: " << (tmp.back() == L'\\'));
      const ScopedEnvironmentVariable set(L"TMP", tmp.c_str());
      EXPECT_EQ(env.SystemTempFolder(), folder);
    }
  }
  // Whatever the system gives, it is a folder that exists.
  const std::wstring system = env.SystemTempFolder();
  ASSERT_FALSE(system.empty());
  EXPECT_NE(system.back(), L'\\');
  EXPECT_TRUE(Win32FileSystem().FolderExists(system));
}

TEST_F(FileSystemTest, CorelVersionsAreFoundUnderAChineseUserProfile) {
  const std::wstring profile = Path(L"Users\\设计师王小明");
  const std::wstring corel = profile + L"\\AppData\\Roaming\\Corel";
  for (const wchar_t* folder : {
           L"CorelDRAW Graphics Suite 2020\\Draw\\GMS",
           L"coreldraw graphics suite x7\\Draw",
           L"CorelDRAW Graphics Suite 2022",  // never started: no Draw
           L"Corel PHOTO-PAINT\\Draw",
           L"Messages",
       })
    ASSERT_NO_FATAL_FAILURE(MakeFolders(corel + L"\\" + folder));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(corel + L"\\CorelDRAW.txt", "not a folder"));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(corel + L"\\CorelDRAW Graphics Suite 2019", "a file"));

  const ScopedEnvironmentVariable set(L"USERPROFILE", profile.c_str());
  const Win32Environment env;
  std::vector<std::wstring> names = {L"stale"}, paths = {L"stale", L"entries"};
  DetectCorelVersions(env, fs_, names, paths);

  ASSERT_EQ(names.size(), 2u);
  ASSERT_EQ(paths.size(), 2u);
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(paths[i], corel + L"\\" + names[i] + L"\\Draw");
  EXPECT_EQ(Sorted(names), (std::vector<std::wstring>{L"CorelDRAW Graphics Suite 2020",
                                                      L"coreldraw graphics suite x7"}));
}

TEST_F(FileSystemTest, NoCorelFolderMeansNoVersions) {
  const std::wstring profile = Path(L"Users\\Пользователь");
  ASSERT_NO_FATAL_FAILURE(MakeFolders(profile + L"\\AppData\\Roaming"));
  const ScopedEnvironmentVariable set(L"USERPROFILE", profile.c_str());
  std::vector<std::wstring> names, paths;
  DetectCorelVersions(Win32Environment(), fs_, names, paths);
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(paths.empty());
}

// The staged file is made new (a planted hard link keeps its file's bytes)
// from the held download, held so that no one else can write to it, and
// the very file that takes the plug-in's name; until then it goes when
// dropped.
TEST_F(FileSystemTest, AStagedFileIsTheFileThatLands) {
  const std::wstring source = Path(L"download.gip");
  const std::wstring staging = Path(L"ZarveloVector.gms.download");
  const std::wstring plugin = Path(L"ZarveloVector.gms");
  const std::wstring letter = Path(L"letter.txt");
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 253);
  ASSERT_NO_FATAL_FAILURE(WriteBytes(source, bytes));
  ASSERT_NO_FATAL_FAILURE(WriteBytes(letter, "a letter"));
  ASSERT_TRUE(::CreateHardLinkW(ExtendedPath(staging).c_str(), ExtendedPath(letter).c_str(), nullptr))
      << "error " << ::GetLastError();
  ASSERT_NO_FATAL_FAILURE(WriteBytes(plugin, "old plug-in"));
  std::shared_ptr<HeldFile> held = Hold(source);
  EXPECT_EQ(held->Size(), static_cast<std::int64_t>(bytes.size()));

  std::unique_ptr<StagedFile> staged = Staged(fs_, *held, staging);
  ASSERT_TRUE(staged);
  EXPECT_EQ(ReadBytes(letter), "a letter");
  {
    const FileHandle writer(::CreateFileW(ExtendedPath(staging).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer) << "another program could write to the staged file";
  }
  const Status replaced = staged->Replace(plugin);
  ASSERT_TRUE(replaced.ok()) << replaced.error();
  staged.reset();
  EXPECT_TRUE(ReadBytes(plugin) == bytes);
  EXPECT_FALSE(Exists(staging));

  // Dropped before it replaced anything, it goes; and when the copy was
  // stopped, nothing is left. A second copy reads from the start again.
  staged = Staged(fs_, *held, staging);
  staged.reset();
  EXPECT_FALSE(Exists(staging));
  int asked = 0;
  bool readFailed = true;
  EXPECT_EQ(fs_.Stage(*held, staging, [&asked] { return ++asked > 1; }, staged, readFailed).error(),
            static_cast<WinError>(ERROR_CANCELLED));
  EXPECT_FALSE(readFailed);
  EXPECT_FALSE(staged);
  EXPECT_FALSE(Exists(staging));
  // The held download goes when dropped.
  held.reset();
  EXPECT_FALSE(Exists(source));
}

}  // namespace
}  // namespace zarvelo::win32
