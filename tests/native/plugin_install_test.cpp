#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "install/file_retry.h"
#include "install/plugin_install.h"
#include "install/plugin_signature.h"
#include "platform/decimal.h"
#include "resources/texts.h"
#include "ui/installer_layout.h"
#include "ui/installer_presenter.h"

namespace zarvelo {
namespace {

using fake::FakeDownloader;
using fake::FakeEnvironment;
using fake::FakeFileSystem;
using fake::FakeSignatureVerifier;
using fake::FakeView;
using fake::FakeWorker;
using fake::Op;

const std::wstring kCorel = L"C:\\Users\\李娜\\AppData\\Roaming\\Corel";
const std::wstring kTemp = L"C:\\Users\\李娜\\AppData\\Local\\Temp";
const std::wstring kTempFile = kTemp + L"\\Zarvelo_CDRplugin.gip";
const std::wstring kDraw2020 = kCorel + L"\\CorelDRAW Graphics Suite 2020\\Draw";
const std::wstring kGms = kDraw2020 + L"\\GMS";
const std::wstring kInstalled = kGms + L"\\ZarveloVector.gms";
const std::wstring kStaging = kInstalled + L".download";
const std::wstring kAside = kInstalled + L".old";
constexpr wchar_t kUrl[] = L"https://downloads.example/down/Zarvelo_CDRplugin.gip";
const std::string kPlugin = "new plug-in bytes";

constexpr wchar_t kCheckNetwork[] = L"请检查网络连接";
constexpr wchar_t kCheckDiskSpace[] = L"请检查磁盘空间";
constexpr wchar_t kCheckTempFolder[] = L"请检查临时文件夹";
const wchar_t* const kCheckSecurity = texts::kCheckSecuritySoftware;
const wchar_t* const kCheckSignature = texts::kCheckSignature;
std::wstring DownloadFailedText(std::int32_t code, const wchar_t* hint = kCheckNetwork) {
  return L"下载失败！错误代码: " + std::to_wstring(code) + L"\r\n" + hint;
}
const std::wstring kInUseLine = L"\r\n文件正被其他程序使用，请关闭 CorelDRAW 后重试。";
// `inUse`: with the line that says another program holds the plug-in.
std::wstring InstallFailedText(std::int32_t code, bool inUse = false) {
  return L"安装失败！无法写入：\r\n" + kInstalled + (inUse ? kInUseLine : L"") + L"\r\n错误代码: " +
         std::to_wstring(code);
}
constexpr std::int32_t Hr(WinError error) { return HResultFromWin32(error); }

// One DER INTEGER for a 32-byte big-endian number, as openssl writes it.
std::string DerInteger(const std::uint8_t* value) {
  std::size_t first = 0;
  while (first < 31 && value[first] == 0) ++first;
  std::string digits(reinterpret_cast<const char*>(value) + first, 32 - first);
  if ((static_cast<std::uint8_t>(digits[0]) & 0x80) != 0) digits.insert(0, 1, '\0');
  return std::string{'\x02', static_cast<char>(digits.size())} + digits;
}

std::string Der(const EcdsaP256Signature& signature) {
  const std::string content = DerInteger(signature.data()) + DerInteger(signature.data() + 32);
  return std::string{'\x30', static_cast<char>(content.size())} + content;
}

// The vendor's signature file for `bytes`, as the double's key accepts it.
std::string SignatureFileFor(const std::string& bytes) {
  return Der(fake::FakeSignature(fake::FakeSha256(bytes)));
}

class PluginInstallTest : public ::testing::Test {
 protected:
  PluginInstallTest() {
    env.vars[L"USERPROFILE"] = L"C:\\Users\\李娜";
    env.vars[L"TEMP"] = kTemp;
    fs.AddFolder(kTemp);
    for (const wchar_t* version : {L"CorelDRAW Graphics Suite 2019",
                                   L"CorelDRAW Graphics Suite 2020",
                                   L"CorelDRAW Technical Suite 2020"})
      fs.AddFolder(kCorel + L"\\" + version + L"\\Draw");
    net.body = kPlugin;
    presenter.ShowFoundVersions();
    signedPresenter.ShowFoundVersions();
    view.log.clear();
  }

  void Press(int index) { presenter.InstallRequested(index); }
  void PressSigned(int index) { signedPresenter.InstallRequested(index); }

  // The attempt ended in the failure with this status and dialog, and the
  // buttons came back after the dialog.
  void ExpectFailure(const std::wstring& status, const std::wstring& message) {
    EXPECT_EQ(view.status, status);
    ASSERT_EQ(view.dialogs.size(), 1u);
    EXPECT_EQ(view.dialogs[0].message, message);
    EXPECT_EQ(view.dialogs[0].title, L"错误");
    EXPECT_FALSE(view.dialogs[0].anyButtonEnabled);
    EXPECT_TRUE(view.AllEnabled());
  }

  void ExpectInstalled() {
    EXPECT_EQ(view.status, texts::kInstalled);
    EXPECT_TRUE(view.dialogs.empty());
    EXPECT_TRUE(view.NoneEnabled());
    ASSERT_TRUE(fs.Exists(kInstalled));
    EXPECT_EQ(fs.Find(kInstalled)->bytes, kPlugin);
    EXPECT_FALSE(fs.Exists(kTempFile));
    EXPECT_FALSE(fs.Exists(kStaging));
  }

  FakeEnvironment env;
  FakeFileSystem fs;
  FakeView view{InstallerDesign()};
  FakeDownloader net{fs};
  FakeWorker worker;
  PluginInstaller installer{view, env, fs, net, worker, kUrl};
  InstallerPresenter presenter{view, InstallerDesign(), env, fs, installer};
  // The same, built with a publisher key.
  FakeSignatureVerifier key;
  PluginInstaller signedInstaller{view, env, fs, net, worker, kUrl, &key};
  InstallerPresenter signedPresenter{view, InstallerDesign(), env, fs, signedInstaller};
};

TEST_F(PluginInstallTest, InstallsIntoANewGmsFolderInOrder) {
  Press(1);
  ExpectInstalled();
  EXPECT_EQ(net.urls, std::vector<std::wstring>{kUrl});
  EXPECT_EQ(net.files, std::vector<std::wstring>{kTempFile});
  const std::vector<std::wstring> expected = {
      L"disable 0", L"disable 1", L"disable 2", L"status 开始下载...",
      L"status 下载完成，正在安装...", L"status 完成安装请关闭！重启 CorelDRAW 以加载插件。"};
  EXPECT_EQ(view.log, expected);
}

TEST_F(PluginInstallTest, ThirdButtonInstallsIntoTheThirdVersion) {
  Press(2);
  EXPECT_EQ(fs.Find(kCorel + L"\\CorelDRAW Technical Suite 2020\\Draw\\GMS\\ZarveloVector.gms")->bytes,
            kPlugin);
  EXPECT_FALSE(fs.Exists(kInstalled));
}

TEST_F(PluginInstallTest, ButtonsStayDisabledWhileDownloadingAndIgnoreClicks) {
  net.completeAtOnce = false;
  Press(1);
  EXPECT_TRUE(view.NoneEnabled());
  EXPECT_EQ(view.status, L"开始下载...");
  Press(0);  // a click that was already queued
  EXPECT_EQ(net.urls.size(), 1u);
  net.Complete();
  ExpectInstalled();
}

TEST_F(PluginInstallTest, DownloadFailuresAreReportedWithTheirCode) {
  struct Case {
    std::int32_t result;
    bool partialBody;
    bool localFile = false;  // the file in TEMP failed
    const wchar_t* hint = kCheckNetwork;
  } cases[] = {
      {kInetEResourceNotFound, false},  // 404
      {kInetEDownloadFailure, true},    // 500 or a truncated body
      {kInetECannotConnect, false},
      {kInetEConnectionTimeout, true},
      // The disk TEMP is on, not the network: the second line says so.
      {Hr(kErrorDiskFull), false, true, kCheckDiskSpace},
      {Hr(kErrorHandleDiskFull), false, true, kCheckDiskSpace},
      {HResult(0x80070027u), false, true, kCheckDiskSpace},  // ERROR_HANDLE_DISK_FULL as Windows gives it
      {Hr(kErrorDiskQuotaExceeded), false, true, kCheckDiskSpace},
      {Hr(kErrorAccessDenied), false, true, kCheckTempFolder},
      {Hr(kErrorPathNotFound), false, true, kCheckTempFolder},
      {Hr(kErrorVirusInfected), false, true, kCheckSecurity},
      {Hr(kErrorVirusDeleted), false, true, kCheckSecurity},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    view.dialogs.clear();
    view.SetInstallButtonsEnabled(true);
    net.result = c.result;
    net.localFile = c.localFile;
    net.body = c.partialBody ? std::optional<std::string>("partial") : std::nullopt;
    Press(1);
    ExpectFailure(L"下载失败", DownloadFailedText(c.result, c.hint));
    EXPECT_LT(c.result, 0);
    EXPECT_FALSE(fs.Exists(kGms));
  }
}

TEST_F(PluginInstallTest, EmptyDownloadIsReportedAndRemoved) {
  net.body = "";
  Press(1);
  ExpectFailure(L"下载文件为空", L"下载失败：文件大小为 0");
  EXPECT_FALSE(fs.Exists(kTempFile));
  EXPECT_FALSE(fs.Exists(kInstalled));
}

// Reading the download in TEMP is the download's failure, not GMS's.
TEST_F(PluginInstallTest, DownloadThatCannotBeReadIsADownloadFailure) {
  fs.AddFile(kInstalled, "old plug-in");
  constexpr WinError kErrorCrc = 23;  // a bad sector
  for (const WinError error : {kErrorCrc, kErrorVirusInfected}) {
    view.dialogs.clear();
    view.SetInstallButtonsEnabled(true);
    fs.Fail(Op::StageRead, kTempFile, error, 1);
    Press(1);
    ExpectFailure(L"下载失败",
                  DownloadFailedText(Hr(error), error == kErrorCrc ? kCheckTempFolder : kCheckSecurity));
    EXPECT_EQ(fs.Find(kInstalled)->bytes, "old plug-in");
    EXPECT_FALSE(fs.Exists(kTempFile));
    EXPECT_FALSE(fs.Exists(kStaging));
  }
}

TEST_F(PluginInstallTest, MissingDownloadIsADownloadFailure) {
  net.body = std::nullopt;  // reported success, wrote nothing
  Press(1);
  ExpectFailure(L"下载失败", DownloadFailedText(Hr(kErrorFileNotFound), kCheckTempFolder));
}

TEST_F(PluginInstallTest, ReplacesAnOlderPluginWhateverItsAttributes) {
  for (int attributes = 0; attributes < 4; ++attributes) {
    SCOPED_TRACE(attributes);
    fs.AddFile(kInstalled, "old plug-in");
    fs.Find(kInstalled)->readOnly = (attributes & 1) != 0;
    fs.Find(kInstalled)->hidden = (attributes & 2) != 0;
    fs.AddFile(kTempFile, "stale download");
    view.SetInstallButtonsEnabled(true);
    Press(1);
    ExpectInstalled();
  }
}

TEST_F(PluginInstallTest, PluginInUseKeepsTheOldFileAndSaysWhy) {
  fs.AddFile(kInstalled, "old plug-in");
  fs.Find(kInstalled)->inUse = true;
  // With POSIX renames and without: never set aside.
  for (const bool posix : {true, false}) {
    view.dialogs.clear();
    view.SetInstallButtonsEnabled(true);
    worker.paused = 0;
    fs.posixRenames = posix;
    Press(1);
    ExpectFailure(L"安装失败",
                  InstallFailedText(Hr(posix ? kErrorSharingViolation : kErrorAccessDenied), true));
    EXPECT_EQ(worker.paused, kHeldFileRetryMs) << "given up before CorelDRAW could let go";
    EXPECT_EQ(fs.Find(kInstalled)->bytes, "old plug-in");
    EXPECT_EQ(fs.calls[Op::Rename], 0);
    EXPECT_FALSE(fs.Exists(kStaging));
    EXPECT_FALSE(fs.Exists(kTempFile));
  }
}

TEST_F(PluginInstallTest, GmsThatIsAFileIsAnInstallFailure) {
  fs.AddFile(kGms, "a file where the folder should be");
  Press(1);
  ExpectFailure(L"安装失败", InstallFailedText(Hr(kErrorPathNotFound)));
  EXPECT_EQ(fs.Find(kGms)->bytes, "a file where the folder should be");
  EXPECT_FALSE(fs.Exists(kTempFile));
}

TEST_F(PluginInstallTest, AFailingFileStepLeavesTheOldPluginAsItWas) {
  // A step held up by another program (a scanner: sharing, lock or access
  // denied) is tried again for about 3 s; other failures count at once.
  // `times` < 0: the step fails for good.
  struct Fault {
    Op op;
    std::wstring path;
    WinError error;
    int times;
  };
  // A file elsewhere that must never change.
  const std::wstring kLetter = L"C:\\Users\\李娜\\Documents\\letter.txt";
  struct Case {
    std::vector<Fault> faults;
    bool installed;
    std::uint32_t paused;
    std::int32_t code = 0;  // of a failure
    // Runs once the old plug-in is there, before the button is pressed.
    std::function<void(FakeFileSystem&, FakeWorker&)> setUp = {};
    int replaceTries = -1;  // how often the rename was tried; -1: not counted
    std::uint32_t pausedClosing = 0;
  } cases[] = {
      {{{Op::CreateFolder, kGms, kErrorAccessDenied, 1}}, false, 0, Hr(kErrorAccessDenied)},
      {{{Op::Stage, kStaging, kErrorAccessDenied, -1}}, false, kHeldFileRetryMs,
       Hr(kErrorAccessDenied)},
      {{{Op::Stage, kStaging, kErrorPathNotFound, 1}}, false, 0, Hr(kErrorPathNotFound)},
      {{{Op::Stage, kStaging, kErrorSharingViolation, 3}}, true, 350},
      {{{Op::Stage, kStaging, kErrorDiskFull, 1}}, false, 0, Hr(kErrorDiskFull)},
      // Denied for good (no reader in the way): the old plug-in is set aside
      // and back each time, and stays.
      {{{Op::ReplaceStaged, kInstalled, kErrorAccessDenied, -1}}, false, kHeldFileRetryMs,
       Hr(kErrorAccessDenied)},
      {{{Op::ReplaceStaged, kInstalled, kErrorFileNotFound, 1}}, false, 0, Hr(kErrorFileNotFound),
       {}, 1},
      // A scanner holds the folder's new entry without delete sharing for 1.5 s.
      {{{Op::ReplaceStaged, kInstalled, kErrorSharingViolation, 6}}, true, 1750, 0, {}, 7},
      // ... or for longer than the rename waits: the staged file still goes.
      {{{Op::ReplaceStaged, kInstalled, kErrorSharingViolation, -1}}, false, kHeldFileRetryMs,
       Hr(kErrorSharingViolation), {}, 10},
      // A reader that shares delete holds the old plug-in: replaced at once
      // with POSIX renames, ...
      {{},
       true,
       0,
       0,
       [](FakeFileSystem& files, FakeWorker&) { files.Find(kInstalled)->sharesDelete = true; },
       1},
      // ... and without them once it is set aside.
      {{},
       true,
       0,
       0,
       [](FakeFileSystem& files, FakeWorker&) {
         files.posixRenames = false;
         files.Find(kInstalled)->sharesDelete = true;
       },
       2},
      // The new plug-in still fails once the old one is aside: the old one
      // comes back, read-only, hidden, even when that has to wait, and even
      // while the program closes.
      {{{Op::Rename, kInstalled, kErrorSharingViolation, 2}},
       false,
       0,
       Hr(kErrorFileNotFound),
       [](FakeFileSystem& files, FakeWorker& closing) {
         files.posixRenames = false;
         files.Find(kInstalled)->sharesDelete = true;
         files.Find(kInstalled)->readOnly = true;
         files.Find(kInstalled)->hidden = true;
         files.beforeOp = [&files, &closing](Op op, const std::wstring&) {
           if (op != Op::ReplaceStaged || !files.Exists(kAside)) return;
           files.Fail(Op::ReplaceStaged, kInstalled, kErrorFileNotFound, 1);
           closing.ending = true;
         };
       },
       2,
       150},
      // Another program rewrites the staged file between the copy and the
      // swap: it is refused, and the bytes copied are the bytes installed.
      {{},
       true,
       0,
       0,
       [](FakeFileSystem& files, FakeWorker&) {
         files.beforeOp = [&files](Op op, const std::wstring&) {
           if (op == Op::ReplaceStaged) {
             EXPECT_FALSE(files.WriteFile(kStaging, "rewritten").ok());
           }
         };
       }},
      // A name planted where the staging file goes (a hard link to another
      // file) is removed, never written into.
      {{},
       true,
       0,
       0,
       [kLetter](FakeFileSystem& files, FakeWorker&) {
         files.AddFile(kLetter, "a letter");
         files.AddLink(kLetter, kStaging);
       }},
      // Closing the window ends the wait for a held file at once: one try.
      {{{Op::ReplaceStaged, kInstalled, kErrorSharingViolation, -1}},
       false,
       0,
       Hr(kErrorSharingViolation),
       [](FakeFileSystem& files, FakeWorker& closing) {
         files.beforeOp = [&closing](Op op, const std::wstring&) {
           if (op == Op::ReplaceStaged) closing.ending = true;
         };
       },
       1},
      // CorelDRAW holds the old plug-in, but the attempt failed before that
      // mattered: no word about CorelDRAW.
      {{{Op::Stage, kStaging, kErrorDiskFull, 1}},
       false,
       0,
       Hr(kErrorDiskFull),
       [](FakeFileSystem& files, FakeWorker&) { files.Find(kInstalled)->inUse = true; }},
      // This very plug-in is installed already and held open: installed.
      {{},
       true,
       kHeldFileRetryMs,
       0,
       [](FakeFileSystem& files, FakeWorker&) {
         files.Find(kInstalled)->bytes = kPlugin;
         files.Find(kInstalled)->inUse = true;
       }},
      // An attempt that ended in the middle of the swap left the old
      // plug-in aside: it is put back even when this attempt fails.
      {{{Op::Stage, kStaging, kErrorDiskFull, 1}},
       false,
       0,
       Hr(kErrorDiskFull),
       [](FakeFileSystem& files, FakeWorker&) {
         EXPECT_TRUE(files.Rename(kInstalled, kAside).ok());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    FakeEnvironment caseEnv = env;
    FakeFileSystem caseFs = fs;
    FakeView caseView{InstallerDesign()};
    FakeDownloader caseNet{caseFs};
    FakeWorker caseWorker;
    caseNet.body = kPlugin;
    PluginInstaller caseInstaller{caseView, caseEnv, caseFs, caseNet, caseWorker, kUrl};
    InstallerPresenter casePresenter{caseView, InstallerDesign(), caseEnv, caseFs, caseInstaller};
    casePresenter.ShowFoundVersions();
    const bool hadFolder = c.faults.empty() || c.faults[0].op != Op::CreateFolder;
    if (hadFolder) caseFs.AddFile(kInstalled, "old plug-in");
    if (c.setUp) c.setUp(caseFs, caseWorker);
    const FakeFileSystem::Entry* before =
        caseFs.Exists(kInstalled) ? caseFs.Find(kInstalled) : caseFs.Find(kAside);
    const FakeFileSystem::Entry old = before != nullptr ? *before : FakeFileSystem::Entry{};
    for (const Fault& fault : c.faults) caseFs.Fail(fault.op, fault.path, fault.error, fault.times);
    casePresenter.InstallRequested(1);
    caseFs.beforeOp = nullptr;

    EXPECT_EQ(caseWorker.paused, c.paused);
    EXPECT_EQ(caseWorker.pausedClosing, c.pausedClosing);
    if (c.replaceTries >= 0) {
      EXPECT_EQ(caseFs.calls[Op::ReplaceStaged], c.replaceTries);
    }
    EXPECT_FALSE(caseFs.Exists(kStaging));
    EXPECT_FALSE(caseFs.Exists(kAside));
    EXPECT_FALSE(caseFs.Exists(kTempFile)) << "the download is left in TEMP";
    if (caseFs.Exists(kLetter)) {
      EXPECT_EQ(caseFs.Find(kLetter)->bytes, "a letter");
    }
    if (c.installed) {
      EXPECT_EQ(caseView.status, texts::kInstalled);
      EXPECT_TRUE(caseView.dialogs.empty());
      EXPECT_EQ(caseFs.Find(kInstalled)->bytes, kPlugin);
      continue;
    }
    EXPECT_EQ(caseView.status, L"安装失败");
    ASSERT_EQ(caseView.dialogs.size(), 1u);
    // The old plug-in itself was never held: CorelDRAW is not to blame.
    EXPECT_EQ(caseView.dialogs[0].message, InstallFailedText(c.code));
    EXPECT_TRUE(caseView.AllEnabled());
    if (hadFolder) {
      ASSERT_TRUE(caseFs.Exists(kInstalled));
      EXPECT_EQ(caseFs.Find(kInstalled)->bytes, "old plug-in");
      EXPECT_EQ(caseFs.Find(kInstalled)->readOnly, old.readOnly);
      EXPECT_EQ(caseFs.Find(kInstalled)->hidden, old.hidden);
    }
  }
}

// Wherever closing the window ends the file step, the plug-in's name holds
// the whole old plug-in or the whole new one, and nothing else is left.
TEST_F(PluginInstallTest, ClosingAtAnyStepLeavesAWholePlugin) {
  for (const Op at : {Op::Stage, Op::StageRead, Op::ReplaceStaged, Op::Rename, Op::Discard}) {
    SCOPED_TRACE(static_cast<int>(at));
    FakeFileSystem files = fs;
    FakeWorker closing;
    FakeView window{InstallerDesign()};
    FakeDownloader download{files};
    download.body = kPlugin;
    PluginInstaller attempt{window, env, files, download, closing, kUrl};
    files.AddFile(kInstalled, "old plug-in");
    files.Find(kInstalled)->sharesDelete = true;  // the way through Rename and Discard
    files.posixRenames = false;
    files.beforeOp = [&](Op op, const std::wstring&) {
      if (op == at) closing.ending = true;
    };
    attempt.DownloadAndInstall(kDraw2020);
    ASSERT_TRUE(closing.ending);
    ASSERT_TRUE(files.Exists(kInstalled));
    EXPECT_TRUE(files.Find(kInstalled)->bytes == "old plug-in" ||
                files.Find(kInstalled)->bytes == kPlugin);
    EXPECT_FALSE(files.Exists(kStaging));
    EXPECT_FALSE(files.Exists(kAside));
    EXPECT_FALSE(files.Exists(kTempFile));
  }
}

// A name to set the old plug-in aside under that cannot be deleted (a
// reader still holds an earlier one) is stepped over.
TEST_F(PluginInstallTest, ALeftoverAsideNameNeverBlocksAnInstall) {
  fs.AddFile(kInstalled, "old plug-in");
  fs.Find(kInstalled)->sharesDelete = true;
  fs.posixRenames = false;
  fs.AddFile(kAside, "older plug-in");
  fs.Fail(Op::Discard, kAside, kErrorAccessDenied);
  Press(1);
  ExpectInstalled();
  EXPECT_EQ(fs.Find(kAside)->bytes, "older plug-in");
  EXPECT_FALSE(fs.Exists(kAside + L"1"));
}

// No one else can change the download between its last byte and the copy.
TEST_F(PluginInstallTest, OnlyTheBytesReceivedAreInstalled) {
  fs.AddFile(kInstalled, "old plug-in");
  fs.beforeOp = [this](Op op, const std::wstring&) {
    if (op == Op::Stage) {
      EXPECT_FALSE(fs.WriteFile(kTempFile, "changed").ok());
      EXPECT_FALSE(fs.Rename(kTempFile, kTemp + L"\\elsewhere").ok());
    }
  };
  Press(1);
  ExpectInstalled();
}

// The download took a fresh name (a scanner holds the one asked for): that
// file is the one installed, and the one that goes.
TEST_F(PluginInstallTest, TheFileTheDownloadWroteIsInstalled) {
  const std::wstring fresh = kTemp + L"\\Zarvelo_CDRplugin (2).gip";
  fs.AddFile(kTempFile, "the last attempt's download");
  fs.Find(kTempFile)->inUse = true;
  net.freshFile = fresh;
  Press(1);
  EXPECT_EQ(view.status, texts::kInstalled);
  EXPECT_EQ(fs.Find(kInstalled)->bytes, kPlugin);
  EXPECT_FALSE(fs.Exists(fresh));
  EXPECT_EQ(fs.Find(kTempFile)->bytes, "the last attempt's download");
}

TEST_F(PluginInstallTest, UnsetTempUsesTheSystemTemporaryFolder) {
  env.vars.erase(L"TEMP");
  env.systemTemp = L"C:\\Windows\\Temp";
  fs.AddFolder(env.systemTemp);
  Press(1);
  EXPECT_EQ(net.files, std::vector<std::wstring>{L"C:\\Windows\\Temp\\Zarvelo_CDRplugin.gip"});
  ExpectInstalled();
}

TEST_F(PluginInstallTest, RetryAfterAFailureOverwritesTheDownloadAndInstalls) {
  net.result = kInetEResourceNotFound;
  net.body = "<html>404</html>";
  Press(1);
  ExpectFailure(L"下载失败", DownloadFailedText(kInetEResourceNotFound));

  net.result = 0;
  net.body = kPlugin;
  view.dialogs.clear();
  Press(1);
  ExpectInstalled();
  EXPECT_EQ(net.urls.size(), 2u);
}

TEST_F(PluginInstallTest, AfterSuccessNoButtonReacts) {
  Press(1);
  ExpectInstalled();
  for (int k = 0; k < static_cast<int>(view.buttons.size()); ++k) Press(k);
  EXPECT_EQ(net.urls.size(), 1u);
}

const std::wstring kSigUrl = std::wstring(kUrl) + L".sig";
const std::wstring kSigFile = kTempFile + L".sig";

TEST_F(PluginInstallTest, WithAKeyTheVendorsSignatureIsCheckedBeforeInstalling) {
  net.answers[kSigUrl] = {0, SignatureFileFor(kPlugin), 200};
  PressSigned(1);
  ExpectInstalled();
  EXPECT_EQ(net.urls, (std::vector<std::wstring>{kUrl, kSigUrl}));
  EXPECT_EQ(net.files, (std::vector<std::wstring>{kTempFile, kSigFile}));
  EXPECT_FALSE(fs.Exists(kSigFile));
  const std::vector<std::wstring> expected = {
      L"disable 0", L"disable 1", L"disable 2", L"status 开始下载...",
      L"status 下载完成，正在安装...", L"status 完成安装请关闭！重启 CorelDRAW 以加载插件。"};
  EXPECT_EQ(view.log, expected);
}

TEST_F(PluginInstallTest, WithAKeyAMissingOrWrongSignatureInstallsNothing) {
  const std::string otherFile = SignatureFileFor("another plug-in");
  struct Case {
    const char* what;
    FakeDownloader::Answer signature;
    std::int32_t code;
    std::optional<WinError> keyFailure;
    const wchar_t* hint = kCheckNetwork;
  } cases[] = {
      {"404", {kInetEResourceNotFound, std::nullopt, 404}, kTrustENoSignature, {}, kCheckSignature},
      // Only "no such file" means no signature; anything else is what it
      // would be for the plug-in.
      {"403", {kInetEDownloadFailure, std::nullopt, 403}, kInetEDownloadFailure, {}},
      // An unknown host shares the 404's code; it is a network failure.
      {"no such host", {kInetEResourceNotFound, std::nullopt, 0}, kInetEResourceNotFound, {}},
      {"500", {kInetEDownloadFailure, std::nullopt, 500}, kInetEDownloadFailure, {}},
      {"refused", {kInetECannotConnect, std::nullopt, 0}, kInetECannotConnect, {}},
      {"of another file", {0, otherFile, 200}, kTrustEBadDigest, {}, kCheckSignature},
      {"garbage", {0, std::string("<html>signature</html>"), 200}, kTrustEBadDigest, {}, kCheckSignature},
      {"empty", {0, std::string(), 200}, kTrustEBadDigest, {}, kCheckSignature},
      {"huge", {0, SignatureFileFor(kPlugin) + std::string(4096, 'x'), 200}, kTrustEBadDigest, {},
       kCheckSignature},
      {"key fails", {0, SignatureFileFor(kPlugin), 200}, HResultFromWin32(kErrorNotEnoughMemory),
       kErrorNotEnoughMemory},
      {"410", {kInetEResourceNotFound, std::nullopt, 410}, kTrustENoSignature, {}, kCheckSignature},
      {"429 after the retries", {kInetEDownloadFailure, std::nullopt, 429}, kInetEDownloadFailure,
       {}},
      {"407", {kInetEDownloadFailure, std::nullopt, 407}, kInetEDownloadFailure, {}},
      {"400", {kInetEDownloadFailure, std::nullopt, 400}, kInetEDownloadFailure, {}},
      {"TEMP full", {Hr(kErrorDiskFull), std::nullopt, 200, true}, Hr(kErrorDiskFull), {},
       kCheckDiskSpace},
      {"cannot be read", {0, SignatureFileFor(kPlugin), 200}, Hr(kErrorAccessDenied), {},
       kCheckTempFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs.AddFile(kInstalled, "old plug-in");
    view.dialogs.clear();
    view.SetInstallButtonsEnabled(true);
    net.answers[kSigUrl] = c.signature;
    key.failure = c.keyFailure;
    if (std::string(c.what) == "cannot be read") fs.Fail(Op::ReadSmallFile, kSigFile, kErrorAccessDenied, 1);
    PressSigned(1);
    ExpectFailure(L"下载失败", DownloadFailedText(c.code, c.hint));
    EXPECT_EQ(fs.Find(kInstalled)->bytes, "old plug-in");
    EXPECT_FALSE(fs.Exists(kStaging));
    EXPECT_FALSE(fs.Exists(kSigFile));
    EXPECT_FALSE(fs.Exists(kTempFile)) << "the unverified download stays in TEMP";
  }
  EXPECT_EQ(kTrustENoSignature, -2146762496);
  EXPECT_EQ(kTrustEBadDigest, -2146869232);
}

TEST(ParseDerSignature, TakesWhatOpensslWritesAsRawRAndS) {
  EcdsaP256Signature expected{};
  for (std::size_t i = 0; i < 32; ++i) {
    expected[i] = static_cast<std::uint8_t>(0x80 + i);  // high bit: a leading zero in DER
    expected[32 + i] = static_cast<std::uint8_t>(i < 2 ? 0 : i);  // two bytes shorter in DER
  }
  const std::string der = Der(expected);
  ASSERT_EQ(der.size(), 2u + 2 + 33 + 2 + 30);
  const std::optional<EcdsaP256Signature> parsed = ParseDerSignature(der);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, expected);
}

TEST(ParseDerSignature, RejectsWhatIsNotExactlyOneSignature) {
  EcdsaP256Signature raw{};
  for (std::size_t i = 0; i < 64; ++i) raw[i] = static_cast<std::uint8_t>(i + 1);
  const std::string good = Der(raw);  // 30 44 02 20 <r> 02 20 <s>
  ASSERT_TRUE(ParseDerSignature(good));
  const std::string r = good.substr(4, 32), s = good.substr(38, 32);
  const auto sequence = [](const std::string& content) {
    return std::string{'\x30', static_cast<char>(content.size())} + content;
  };
  const auto integer = [](const std::string& digits) {
    return std::string{'\x02', static_cast<char>(digits.size())} + digits;
  };
  const std::string bad[] = {
      good + '\0',                                                  // after the sequence
      sequence(integer(r) + integer(s) + '\0'),                     // inside it
      sequence(integer(r)),                                         // no s
      sequence(integer(std::string(1, '\0') + r) + integer(s)),     // needless leading zero
      sequence(integer("\x80" + r.substr(1)) + integer(s)),          // negative
      sequence(integer(r + "\x01") + integer(s)),                    // 33 bytes of number
      sequence(integer(std::string(1, '\0')) + integer(s)),          // r = 0
      sequence(integer(std::string()) + integer(s)),                // no digits
      sequence(std::string("\x03") + integer(r).substr(1) + integer(s)),  // not an INTEGER
      "\x31" + good.substr(1),                                      // not a SEQUENCE
      "\x30\x81\x44" + good.substr(2),                              // long-form length
      "\x30\x43" + good.substr(2),                                  // outer length too short
      "\x30\x45" + good.substr(2),                                  // outer length too long
  };
  for (const std::string& der : bad) {
    SCOPED_TRACE(::testing::PrintToString(der));
    EXPECT_FALSE(ParseDerSignature(der));
  }
  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(ParseDerSignature(good.substr(0, length)));
  }
}

TEST(Decimal, WritesSignedNumbersAsTheDialogShowsThem) {
  struct Case {
    long long value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {7, L"7"},
      {-1, L"-1"},
      {2147483647, L"2147483647"},
      {kInetEResourceNotFound, L"-2146697211"},
      {-2147483647 - 1, L"-2147483648"},
      {-9223372036854775807LL - 1, L"-9223372036854775808"},
  };
  for (const Case& c : cases) EXPECT_EQ(Decimal(c.value), c.text);
}

}  // namespace
}  // namespace zarvelo
