#include <gtest/gtest.h>

#include <optional>

#include "fakes/fake_platform.h"
#include "resources/texts.h"
#include "ui/installer_layout.h"
#include "ui/installer_presenter.h"

namespace zarvelo {
namespace {

using fake::FakeDownloader;
using fake::FakeEnvironment;
using fake::FakeFileSystem;
using fake::FakeView;
using fake::FakeWorker;

const std::wstring kCorel = L"C:\\Users\\王伟\\AppData\\Roaming\\Corel";

// The window after the scan, with versions found under `profile`.
struct Shown {
  FakeEnvironment env;
  FakeFileSystem fs;
  FakeView view{InstallerDesign()};
  FakeDownloader net{fs};
  FakeWorker worker;
  PluginInstaller installer{view, env, fs, net, worker, L"https://downloads.example/x.gip"};
  InstallerPresenter presenter{view, InstallerDesign(), env, fs, installer};

  Shown(const std::wstring& profile, const std::wstring& corel,
        const std::vector<std::wstring>& versions, int failButtonAt = -1) {
    env.vars[L"USERPROFILE"] = profile;
    fs.AddFolder(corel);
    for (const std::wstring& name : versions) fs.AddFolder(corel + L"\\" + name + L"\\Draw");
    view.failButtonAt = failButtonAt;
    presenter.ShowFoundVersions();
  }
  explicit Shown(const std::vector<std::wstring>& versions)
      : Shown(L"C:\\Users\\王伟", kCorel, versions) {}
};

TEST(ShowFoundVersions, NoVersionShowsOneDisabledButton) {
  Shown w({});
  ASSERT_EQ(w.view.buttons.size(), 1u);
  EXPECT_EQ(w.view.buttons[0].caption, texts::kNoVersionButton);
  EXPECT_FALSE(w.view.buttons[0].enabled);
  EXPECT_TRUE(w.view.buttons[0].visible);
  EXPECT_EQ(w.view.status, L"未检测到CorelDRAW。");
  EXPECT_FALSE(w.view.height.has_value());
}

TEST(ShowFoundVersions, OneVersionUsesTheTemplateButtonInPlace) {
  Shown w({L"CorelDRAW Graphics Suite 2021"});
  ASSERT_EQ(w.view.buttons.size(), 1u);
  const auto& button = w.view.buttons[0];
  EXPECT_EQ(button.caption, L"安装到 2021");
  EXPECT_EQ(w.presenter.targets(),
            std::vector<std::wstring>{kCorel + L"\\CorelDRAW Graphics Suite 2021\\Draw"});
  EXPECT_EQ(button.toolTip, L"CorelDRAW Graphics Suite 2021");
  EXPECT_TRUE(button.enabled);
  EXPECT_EQ(button.bounds.top, 3000);
  EXPECT_EQ(button.bounds.left, 1200);
  EXPECT_EQ(w.view.status, L"检测到: CorelDRAW Graphics Suite 2021");
  EXPECT_FALSE(w.view.height.has_value());
}

TEST(ShowFoundVersions, SeveralVersionsMakeAColumnAndGrowTheWindow) {
  struct Case {
    std::vector<std::wstring> names;
    std::vector<Twips> tops;
    Twips height;
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
    Shown w(c.names);
    ASSERT_EQ(static_cast<int>(w.view.buttons.size()), static_cast<int>(c.names.size()));
    for (size_t k = 0; k < c.names.size(); ++k) {
      const auto& button = w.view.buttons[k];
      EXPECT_EQ(button.bounds.top, c.tops[k]);
      EXPECT_EQ(button.bounds.left, 1200);
      EXPECT_EQ(button.bounds.width, 1815);
      EXPECT_EQ(button.bounds.height, 375);
      EXPECT_TRUE(button.visible && button.enabled);
      EXPECT_EQ(button.caption, L"安装到 " + VersionLabel(c.names[k]));
      EXPECT_EQ(w.presenter.targets().at(k), kCorel + L"\\" + c.names[k] + L"\\Draw");
      EXPECT_EQ(button.toolTip, c.names[k]);
    }
    ASSERT_TRUE(w.view.height.has_value());
    EXPECT_EQ(*w.view.height, c.height);
    EXPECT_EQ(w.view.status,
              L"检测到 " + std::to_wstring(c.names.size()) + L" 个版本，请选择安装目标");
  }
}

TEST(ShowFoundVersions, ButtonThatCannotBeCreatedEndsTheColumnAndTheWindowShowsWhatIsThere) {
  struct Case {
    int failButtonAt;
    std::optional<Twips> height;
    std::wstring status;
  } cases[] = {
      {1, std::nullopt, L"检测到: CorelDRAW 1"},
      {2, 4790, L"检测到 2 个版本，请选择安装目标"},
      {3, 5285, L"检测到 3 个版本，请选择安装目标"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failButtonAt);
    Shown w(L"C:\\Users\\a", L"C:\\Users\\a\\AppData\\Roaming\\Corel",
            {L"CorelDRAW 1", L"CorelDRAW 2", L"CorelDRAW 3", L"CorelDRAW 4"}, c.failButtonAt);
    EXPECT_EQ(static_cast<int>(w.view.buttons.size()), c.failButtonAt);
    EXPECT_EQ(static_cast<int>(w.presenter.targets().size()), c.failButtonAt);
    EXPECT_TRUE(w.view.AllEnabled());
    EXPECT_EQ(w.view.height, c.height);
    EXPECT_EQ(w.view.status, c.status);
    // A press past the last button shown installs nowhere, though its
    // version was found.
    w.presenter.InstallRequested(c.failButtonAt);
    EXPECT_TRUE(w.net.urls.empty());
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

}  // namespace
}  // namespace zarvelo
