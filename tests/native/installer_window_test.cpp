#include <gtest/gtest.h>

#include <optional>

#include "fakes/fake_platform.h"
#include "resources/texts.h"
#include "ui/installer_window.h"

namespace zarvelo {
namespace {

using fake::FakeEnvironment;
using fake::FakeFileSystem;
using fake::FakeForm;

const std::wstring kCorel = L"C:\\Users\\王伟\\AppData\\Roaming\\Corel";

struct Loaded {
  FakeEnvironment env;
  FakeFileSystem fs;
  FakeForm form{InstallerDesign()};

  explicit Loaded(const std::vector<std::wstring>& versions) {
    env.vars[L"USERPROFILE"] = L"C:\\Users\\王伟";
    fs.AddFolder(kCorel);
    for (const std::wstring& name : versions) fs.AddFolder(kCorel + L"\\" + name + L"\\Draw");
    Form_Load(form, env, fs);
  }
};

TEST(FormLoad, NoVersionShowsOneDisabledButton) {
  Loaded w({});
  ASSERT_EQ(w.form.UBound(), 0);
  EXPECT_EQ(w.form.buttons[0].caption, texts::kNoVersionButton);
  EXPECT_FALSE(w.form.buttons[0].enabled);
  EXPECT_TRUE(w.form.buttons[0].visible);
  EXPECT_EQ(w.form.detail, L"未检测到CorelDRAW。");
  EXPECT_FALSE(w.form.height.has_value());
}

TEST(FormLoad, OneVersionUsesTheTemplateButtonInPlace) {
  Loaded w({L"CorelDRAW Graphics Suite 2021"});
  ASSERT_EQ(w.form.UBound(), 0);
  const auto& button = w.form.buttons[0];
  EXPECT_EQ(button.caption, L"安装到 2021");
  EXPECT_EQ(button.tag, kCorel + L"\\CorelDRAW Graphics Suite 2021\\Draw");
  EXPECT_EQ(button.toolTip, L"CorelDRAW Graphics Suite 2021");
  EXPECT_TRUE(button.enabled);
  EXPECT_EQ(button.bounds.Top, 3000);
  EXPECT_EQ(button.bounds.Left, 1200);
  EXPECT_EQ(w.form.detail, L"检测到: CorelDRAW Graphics Suite 2021");
  EXPECT_FALSE(w.form.height.has_value());
}

TEST(FormLoad, SeveralVersionsMakeAColumnAndGrowTheWindow) {
  struct Case {
    std::vector<std::wstring> names;
    std::vector<float> tops;
    float height;
  } cases[] = {
      {{L"CorelDRAW X7", L"CorelDRAW X8"}, {3000, 3495}, 4790},
      {{L"CorelDRAW 2019", L"CorelDRAW 2020", L"CorelDRAW 2021"}, {3000, 3495, 3990}, 5285},
      {{L"CorelDRAW A", L"CorelDRAW B", L"CorelDRAW C", L"CorelDRAW D"},
       {3000, 3495, 3990, 4485},
       5780},
      // Both captioned "安装到 2020": the tooltips tell them apart.
      {{L"CorelDRAW Graphics Suite 2020", L"CorelDRAW Technical Suite 2020"}, {3000, 3495}, 4790},
  };
  for (const Case& c : cases) {
    Loaded w(c.names);
    ASSERT_EQ(w.form.UBound() + 1, static_cast<int>(c.names.size()));
    for (size_t k = 0; k < c.names.size(); ++k) {
      const auto& button = w.form.buttons[k];
      EXPECT_EQ(button.bounds.Top, c.tops[k]);
      EXPECT_EQ(button.bounds.Left, 1200);
      EXPECT_EQ(button.bounds.Width, 1815);
      EXPECT_EQ(button.bounds.Height, 375);
      EXPECT_TRUE(button.visible && button.enabled);
      EXPECT_EQ(button.caption, L"安装到 " + VersionLabel(c.names[k]));
      EXPECT_EQ(button.tag, kCorel + L"\\" + c.names[k] + L"\\Draw");
      EXPECT_EQ(button.toolTip, c.names[k]);
    }
    ASSERT_TRUE(w.form.height.has_value());
    EXPECT_EQ(*w.form.height, c.height);
    EXPECT_EQ(w.form.detail,
              L"检测到 " + std::to_wstring(c.names.size()) + L" 个版本，请选择安装目标");
  }
}

TEST(FormLoad, ButtonThatCannotBeCreatedEndsTheColumnAndTheWindowShowsWhatIsThere) {
  struct Case {
    int failLoadAt;
    std::optional<float> height;
    std::wstring status;
  } cases[] = {
      {1, std::nullopt, L"检测到: CorelDRAW 1"},
      {2, 4790, L"检测到 2 个版本，请选择安装目标"},
      {3, 5285, L"检测到 3 个版本，请选择安装目标"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failLoadAt);
    FakeEnvironment env;
    FakeFileSystem fs;
    FakeForm form{InstallerDesign()};
    env.vars[L"USERPROFILE"] = L"C:\\Users\\a";
    for (const wchar_t* name : {L"CorelDRAW 1", L"CorelDRAW 2", L"CorelDRAW 3", L"CorelDRAW 4"})
      fs.AddFolder(std::wstring(L"C:\\Users\\a\\AppData\\Roaming\\Corel\\") + name + L"\\Draw");
    form.failLoadAt = c.failLoadAt;
    Form_Load(form, env, fs);
    EXPECT_EQ(form.UBound(), c.failLoadAt - 1);
    EXPECT_TRUE(form.AllEnabled());
    EXPECT_EQ(form.height, c.height);
    EXPECT_EQ(form.detail, c.status);
  }
}

TEST(VersionLabel, IsTheTextAfterTheLastSpace) {
  struct Case {
    const wchar_t* name;
    const wchar_t* label;
  } cases[] = {
      {L"CorelDRAW Graphics Suite 2020", L"2020"},
      {L"CorelDRAW Graphics Suite X8", L"X8"},
      {L"CorelDRAW", L"CorelDRAW"},
      {L"CorelDRAW 2020 ", L""},
      {L"CorelDRAW  2020", L"2020"},
      {L"CorelDRAW\t2020", L"CorelDRAW\t2020"},  // only the space character splits
      {L"CorelDRAW Technical Suite 2023", L"2023"},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionLabel(c.name), c.label) << c.name;
}

TEST(InstallerDesign, MatchesTheWindowLayout) {
  const FormDesign design = InstallerDesign();
  EXPECT_EQ(design.Title, L"Zarvelo矢量图CDR插件安装程序");
  EXPECT_EQ(design.ClientWidth, 4350);
  EXPECT_EQ(design.ClientHeight, 4035);
  ASSERT_EQ(design.Controls.size(), 4u);
  const int tabOrder[] = {kLblInfoId, kLblDetailId, kCmdDownloadInstallId, kLabel1Id};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(design.Controls[i].Id, tabOrder[i]);
  const ControlDesign& info = design.Controls[0];
  EXPECT_EQ(info.Font.Face, L"宋体");
  EXPECT_EQ(info.Font.Points, 10.5f);
  EXPECT_EQ(info.Font.Charset, 134);
  EXPECT_EQ(design.Controls[3].Text, L"详情访问Zarvelo官网www.zarvelo.com");
}

}  // namespace
}  // namespace zarvelo
