#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "install/plugin_install.h"
#include "platform/decimal.h"
#include "resources/texts.h"
#include "ui/install_buttons.h"
#include "ui/installer_window.h"

namespace zarvelo {
namespace {

using fake::FakeDownloader;
using fake::FakeEnvironment;
using fake::FakeFileSystem;
using fake::FakeForm;
using fake::Op;

const std::wstring kCorel = L"C:\\Users\\李娜\\AppData\\Roaming\\Corel";
const std::wstring kTemp = L"C:\\Users\\李娜\\AppData\\Local\\Temp";
const std::wstring kTempFile = kTemp + L"\\Zarvelo_CDRplugin.gip";
const std::wstring kDraw2020 = kCorel + L"\\CorelDRAW Graphics Suite 2020\\Draw";
const std::wstring kGms = kDraw2020 + L"\\GMS";
const std::wstring kInstalled = kGms + L"\\ZarveloVector.gms";
const std::wstring kStaging = kInstalled + L".download";
constexpr wchar_t kUrl[] = L"https://downloads.example/down/Zarvelo_CDRplugin.gip";
const std::string kPlugin = "new plug-in bytes";

std::wstring DownloadFailedText(std::int32_t code) {
  return L"下载失败！错误代码: " + std::to_wstring(code) + L"\r\n请检查网络连接";
}
std::wstring InstallFailedText() { return L"安装失败！无法写入：\r\n" + kInstalled; }

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
    Form_Load(form, env, fs);
    form.log.clear();
  }

  void Press(int index) { cmdDownloadInstall_Click(form, installer, index); }

  // The attempt ended in the failure with this status and dialog, and the
  // buttons came back after the dialog.
  void ExpectFailure(const std::wstring& status, const std::wstring& message) {
    EXPECT_EQ(form.detail, status);
    ASSERT_EQ(form.dialogs.size(), 1u);
    EXPECT_EQ(form.dialogs[0].prompt, message);
    EXPECT_EQ(form.dialogs[0].title, L"错误");
    EXPECT_FALSE(form.dialogs[0].anyButtonEnabled);
    EXPECT_TRUE(form.AllEnabled());
  }

  void ExpectInstalled() {
    EXPECT_EQ(form.detail, texts::kInstalled);
    EXPECT_TRUE(form.dialogs.empty());
    EXPECT_TRUE(form.NoneEnabled());
    ASSERT_TRUE(fs.Exists(kInstalled));
    EXPECT_EQ(fs.Find(kInstalled)->bytes, kPlugin);
    EXPECT_FALSE(fs.Exists(kTempFile));
    EXPECT_FALSE(fs.Exists(kStaging));
  }

  FakeEnvironment env;
  FakeFileSystem fs;
  FakeForm form{InstallerDesign()};
  FakeDownloader net{fs};
  PluginInstaller installer{form, env, fs, net, kUrl};
};

TEST_F(PluginInstallTest, InstallsIntoANewGmsFolderInOrder) {
  Press(1);
  ExpectInstalled();
  EXPECT_EQ(net.urls, std::vector<std::wstring>{kUrl});
  EXPECT_EQ(net.files, std::vector<std::wstring>{kTempFile});
  const std::vector<std::wstring> expected = {
      L"disable 0", L"disable 1", L"disable 2", L"status 开始下载...",
      L"status 下载完成，正在安装...", L"status 完成安装请关闭！重启 CorelDRAW 以加载插件。"};
  EXPECT_EQ(form.log, expected);
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
  EXPECT_TRUE(form.NoneEnabled());
  EXPECT_EQ(form.detail, L"开始下载...");
  Press(0);  // a click that was already queued
  EXPECT_EQ(net.urls.size(), 1u);
  net.Complete();
  ExpectInstalled();
}

TEST_F(PluginInstallTest, DownloadFailuresAreReportedWithTheirCode) {
  struct Case {
    std::int32_t result;
    bool partialBody;
  } cases[] = {
      {kInetEResourceNotFound, false},  // 404
      {kInetEDownloadFailure, true},    // 500 or a truncated body
      {kInetECannotConnect, false},
      {kInetEConnectionTimeout, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    form.dialogs.clear();
    EnableInstallButtons(form);
    net.result = c.result;
    net.body = c.partialBody ? std::optional<std::string>("partial") : std::nullopt;
    Press(1);
    ExpectFailure(L"下载失败", DownloadFailedText(c.result));
    EXPECT_LT(c.result, 0);
    EXPECT_FALSE(fs.Exists(kGms));
  }
}

TEST_F(PluginInstallTest, EmptyDownloadIsReportedAndKept) {
  net.body = "";
  Press(1);
  ExpectFailure(L"下载文件为空", L"下载失败：文件大小为 0");
  ASSERT_TRUE(fs.Exists(kTempFile));
  EXPECT_FALSE(fs.Exists(kInstalled));
}

TEST_F(PluginInstallTest, MissingDownloadIsADownloadFailure) {
  net.body = std::nullopt;  // reported success, wrote nothing
  Press(1);
  ExpectFailure(L"下载失败", DownloadFailedText(HResultFromWin32(kErrorFileNotFound)));
}

TEST_F(PluginInstallTest, ReplacesAnOlderPluginWhateverItsAttributes) {
  for (int attributes = 0; attributes < 4; ++attributes) {
    SCOPED_TRACE(attributes);
    fs.AddFile(kInstalled, "old plug-in");
    fs.Find(kInstalled)->readOnly = (attributes & 1) != 0;
    fs.Find(kInstalled)->hidden = (attributes & 2) != 0;
    fs.AddFile(kTempFile, "stale download");
    EnableInstallButtons(form);
    Press(1);
    ExpectInstalled();
  }
}

TEST_F(PluginInstallTest, PluginInUseKeepsTheOldFileAndSaysWhy) {
  fs.AddFile(kInstalled, "old plug-in");
  fs.Find(kInstalled)->inUse = true;
  Press(1);
  ExpectFailure(L"安装失败", InstallFailedText() + L"\r\n文件正被其他程序使用，请关闭 CorelDRAW 后重试。");
  EXPECT_EQ(fs.Find(kInstalled)->bytes, "old plug-in");
  EXPECT_FALSE(fs.Exists(kStaging));
  EXPECT_TRUE(fs.Exists(kTempFile));
}

TEST_F(PluginInstallTest, GmsThatIsAFileIsAnInstallFailure) {
  fs.AddFile(kGms, "a file where the folder should be");
  Press(1);
  ExpectFailure(L"安装失败", InstallFailedText());
  EXPECT_EQ(fs.Find(kGms)->bytes, "a file where the folder should be");
  EXPECT_TRUE(fs.Exists(kTempFile));
}

TEST_F(PluginInstallTest, AFailingFileStepLeavesTheOldPluginAsItWas) {
  struct Case {
    Op op;
    std::wstring path;
    WinError error;
  } cases[] = {
      {Op::MakeDir, kGms, kErrorAccessDenied},
      {Op::FileCopy, kStaging, kErrorAccessDenied},
      {Op::FilesEqual, kStaging, kErrorAccessDenied},
      {Op::MoveReplacing, kInstalled, kErrorAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op));
    FakeEnvironment caseEnv = env;
    FakeFileSystem caseFs = fs;
    FakeForm caseForm{InstallerDesign()};
    FakeDownloader caseNet{caseFs};
    caseNet.body = kPlugin;
    Form_Load(caseForm, caseEnv, caseFs);
    const bool hadFolder = c.op != Op::MakeDir;
    if (hadFolder) caseFs.AddFile(kInstalled, "old plug-in");
    caseFs.Fail(c.op, c.path, c.error, 1);
    PluginInstaller caseInstaller{caseForm, caseEnv, caseFs, caseNet, kUrl};
    cmdDownloadInstall_Click(caseForm, caseInstaller, 1);

    EXPECT_EQ(caseForm.detail, L"安装失败");
    ASSERT_EQ(caseForm.dialogs.size(), 1u);
    EXPECT_EQ(caseForm.dialogs[0].prompt, InstallFailedText());
    EXPECT_TRUE(caseForm.AllEnabled());
    if (hadFolder) {
      EXPECT_EQ(caseFs.Find(kInstalled)->bytes, "old plug-in");
    }
    EXPECT_FALSE(caseFs.Exists(kStaging));
    EXPECT_TRUE(caseFs.Exists(kTempFile));
  }
}

TEST_F(PluginInstallTest, TempFileThatCannotBeDeletedStillInstalls) {
  fs.Fail(Op::KillFile, kTempFile, kErrorAccessDenied);
  Press(1);
  EXPECT_EQ(form.detail, texts::kInstalled);
  EXPECT_TRUE(form.dialogs.empty());
  EXPECT_EQ(fs.Find(kInstalled)->bytes, kPlugin);
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
  form.dialogs.clear();
  Press(1);
  ExpectInstalled();
  EXPECT_EQ(net.urls.size(), 2u);
}

TEST_F(PluginInstallTest, AfterSuccessNoButtonReacts) {
  Press(1);
  ExpectInstalled();
  for (int k = 0; k <= form.UBound(); ++k) Press(k);
  EXPECT_EQ(net.urls.size(), 1u);
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
