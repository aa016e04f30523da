// The shipped installer under Wine, seen from outside: its window, texts,
// layout in pixels at 96 and 144 dpi, and the button column it builds from
// a real profile folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "resources/texts.h"
#include "windows/installer_session.h"

namespace zarvelo::uitest {
namespace {

struct Box {
  int left, top, width, height;
};

struct Layout {
  UINT dpi;
  Box info, detail, button0, label1;
  SIZE client;
  int buttonPitchTops[4];  // tops of buttons 0..3 in a column of four
  int fourVersionOuterHeight;
};

// Design twips converted by hand: 15 twips a pixel at 96 dpi, 10 at 144.
const Layout kLayouts[] = {
    {96, {16, 8, 257, 73}, {8, 160, 265, 25}, {80, 200, 121, 25}, {16, 88, 265, 33}, {290, 269},
     {200, 233, 266, 299}, 385},
    {144, {24, 12, 386, 110}, {12, 240, 398, 38}, {120, 300, 182, 38}, {24, 132, 398, 50},
     {435, 404}, {300, 350, 399, 449}, 578},
};

const Layout& ExpectedLayout() {
  const UINT dpi = ScreenDpi();
  for (const Layout& layout : kLayouts)
    if (layout.dpi == dpi) return layout;
  ADD_FAILURE() << "no expected layout for " << dpi << " dpi";
  return kLayouts[0];
}

void ExpectBox(const Control& control, const Box& box) {
  EXPECT_EQ(control.rect.left, box.left) << control.id;
  EXPECT_EQ(control.rect.top, box.top) << control.id;
  EXPECT_EQ(control.rect.right - control.rect.left, box.width) << control.id;
  EXPECT_EQ(control.rect.bottom - control.rect.top, box.height) << control.id;
}

TEST(InstallerLayout, RunsAtTheDpiTheTestRunAskedFor) {
  EXPECT_EQ(ScreenDpi(), RequestedDpi());
}

TEST(InstallerLayout, NoVersionShowsTheFixedTextsAndADisabledButton) {
  TestProfile profile({});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  const Layout& layout = ExpectedLayout();

  EXPECT_EQ(WindowText(installer.window()), texts::kTitle);
  const SIZE client = ClientSize(installer.window());
  EXPECT_EQ(client.cx, layout.client.cx);
  EXPECT_EQ(client.cy, layout.client.cy);

  const std::vector<Control> controls = Children(installer.window());
  ASSERT_EQ(controls.size(), 4u);
  // Tab order: the information text, the status line, the button, the
  // website line.
  const Control &info = controls[0], &detail = controls[1], &button = controls[2],
                &label1 = controls[3];
  EXPECT_EQ(info.text, texts::kInfo);
  EXPECT_EQ(detail.text, L"未检测到CorelDRAW。");
  EXPECT_EQ(button.text, L"未检测到CDR版本");
  EXPECT_EQ(label1.text, L"详情访问Zarvelo官网www.zarvelo.com");
  EXPECT_EQ(button.className, L"Button");
  EXPECT_FALSE(button.enabled);
  EXPECT_TRUE(button.visible);
  ExpectBox(info, layout.info);
  ExpectBox(detail, layout.detail);
  ExpectBox(button, layout.button0);
  ExpectBox(label1, layout.label1);
}

TEST(InstallerLayout, OneVersionKeepsTheDesignHeight) {
  TestProfile profile({L"CorelDRAW Graphics Suite 2021"});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  const Layout& layout = ExpectedLayout();

  const std::vector<Control> buttons = installer.Buttons();
  ASSERT_EQ(buttons.size(), 1u);
  EXPECT_EQ(buttons[0].text, L"安装到 2021");
  EXPECT_TRUE(buttons[0].enabled);
  ExpectBox(buttons[0], layout.button0);
  EXPECT_EQ(installer.Status(), L"检测到: CorelDRAW Graphics Suite 2021");
  EXPECT_EQ(ClientSize(installer.window()).cy, layout.client.cy);
  // The first usable button has the keyboard focus.
  EXPECT_TRUE(WaitUntil([&] { return installer.HasFocus(buttons[0].window); }, 3000));
}

TEST(InstallerLayout, FourVersionsMakeAColumnAndATallerWindow) {
  TestProfile profile({L"CorelDRAW Graphics Suite 2019", L"CorelDRAW Graphics Suite 2020",
                       L"CorelDRAW Graphics Suite X8", L"CorelDRAW Technical Suite 2023"});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  const Layout& layout = ExpectedLayout();

  const std::vector<Control> buttons = installer.Buttons();
  ASSERT_EQ(buttons.size(), 4u);
  std::vector<std::wstring> captions;
  for (size_t k = 0; k < buttons.size(); ++k) {
    captions.push_back(buttons[k].text);
    EXPECT_TRUE(buttons[k].enabled && buttons[k].visible);
    ExpectBox(buttons[k], {layout.button0.left, layout.buttonPitchTops[k], layout.button0.width,
                           layout.button0.height});
  }
  // Enumeration order is the file system's; compare as a set.
  std::sort(captions.begin(), captions.end());
  EXPECT_EQ(captions, (std::vector<std::wstring>{L"安装到 2019", L"安装到 2020", L"安装到 2023",
                                                 L"安装到 X8"}));
  EXPECT_EQ(OuterSize(installer.window()).cy, layout.fourVersionOuterHeight);
  EXPECT_EQ(ClientSize(installer.window()).cx, layout.client.cx);
  EXPECT_EQ(installer.Status(), L"检测到 4 个版本，请选择安装目标");
  // Each button has a tooltip (naming its full folder, for two versions of
  // one year).
  EXPECT_EQ(installer.ToolTipCount(), 4);
}

TEST(InstallerLayout, FolderWithoutDrawOrWithoutTheNameIsNotOffered) {
  TestProfile profile({L"CorelDRAW Graphics Suite 2020"});
  MakeFolders(profile.corel() + L"\\CorelDRAW Graphics Suite 2022");  // no Draw
  MakeFolders(profile.corel() + L"\\Corel PHOTO-PAINT 2020\\Draw");
  WriteBytes(profile.corel() + L"\\CorelDRAW.txt", "a file, not a version");
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  const std::vector<Control> buttons = installer.Buttons();
  ASSERT_EQ(buttons.size(), 1u);
  EXPECT_EQ(buttons[0].text, L"安装到 2020");
}

}  // namespace
}  // namespace zarvelo::uitest
