// The Win32 window toolkit in this process: what a monitor of another DPI
// does to the layout and fonts, and how captions are shown. (The installer's
// own layout at start-up is checked from outside in installer_layout_test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "win32/win32_form.h"
#include "ui/installer_layout.h"

namespace zarvelo::win32 {
namespace {

struct Box {
  int left, top, width, height;
};

Box ChildBox(HWND parent, int id) {
  RECT rect{};
  ::GetWindowRect(::GetDlgItem(parent, id), &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void ExpectBox(HWND parent, int id, const Box& box) {
  const Box got = ChildBox(parent, id);
  EXPECT_EQ(got.left, box.left) << id;
  EXPECT_EQ(got.top, box.top) << id;
  EXPECT_EQ(got.width, box.width) << id;
  EXPECT_EQ(got.height, box.height) << id;
}

LOGFONTW FontOf(HWND parent, int id) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(::SendMessageW(::GetDlgItem(parent, id), WM_GETFONT, 0, 0));
  ::GetObjectW(handle, sizeof font, &font);
  return font;
}

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(form_.Create(::GetModuleHandleW(nullptr), InstallerDesign(), 1).ok());
    window_ = form_.window();
  }

  // What Windows sends when the window moves to a monitor of `dpi`.
  void MoveToMonitorOf(UINT dpi) {
    RECT suggested{};
    ::GetWindowRect(window_, &suggested);
    ::SendMessageW(window_, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
  }

  Win32Form form_;
  HWND window_ = nullptr;
};

TEST_F(FormTest, InfoLabelUsesTheSongFaceAtTenAndAHalfPoints) {
  const UINT dpi = 96;
  MoveToMonitorOf(dpi);
  const LOGFONTW info = FontOf(window_, kInfoTextId);
  EXPECT_EQ(std::wstring(info.lfFaceName), L"宋体");
  EXPECT_EQ(info.lfHeight, -14);  // 10.5 pt at 96 dpi
  EXPECT_EQ(info.lfWeight, 400);
  EXPECT_EQ(info.lfCharSet, 134);
  EXPECT_FALSE(info.lfItalic || info.lfUnderline || info.lfStrikeOut);
  // The other controls share the window's default font.
  EXPECT_EQ(::SendMessageW(::GetDlgItem(window_, kStatusLineId), WM_GETFONT, 0, 0),
            ::SendMessageW(::GetDlgItem(window_, kWebsiteTextId), WM_GETFONT, 0, 0));
}

TEST_F(FormTest, AnotherMonitorsDpiRelaysTheWindowOut) {
  ASSERT_EQ(form_.ShowInstallButtons({{L"安装到 X7", L"", {1200, 3000, 1815, 375}},
                                      {L"安装到 X8", L"", {1200, 3495, 1815, 375}}}),
            2);
  form_.SetWindowHeight(4790);
  MoveToMonitorOf(96);
  RECT outer{};
  ::GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.bottom - outer.top, 319);  // 4790 twips
  ExpectBox(window_, kFirstInstallButtonId + 1, {80, 233, 121, 25});

  MoveToMonitorOf(144);
  ::GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.bottom - outer.top, 479);  // 4790 twips at 10 a pixel
  RECT client{};
  ::GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 435);  // 4350 twips
  ExpectBox(window_, kInfoTextId, {24, 12, 386, 110});
  ExpectBox(window_, kStatusLineId, {12, 240, 398, 38});
  ExpectBox(window_, kWebsiteTextId, {24, 132, 398, 50});
  ExpectBox(window_, kFirstInstallButtonId, {120, 300, 182, 38});
  ExpectBox(window_, kFirstInstallButtonId + 1, {120, 350, 182, 38});
  EXPECT_EQ(FontOf(window_, kInfoTextId).lfHeight, -21);  // 10.5 pt at 144 dpi
  // The default font grows with the DPI too.
  const LONG defaultAt144 = FontOf(window_, kStatusLineId).lfHeight;
  MoveToMonitorOf(96);
  EXPECT_GT(std::abs(defaultAt144), std::abs(FontOf(window_, kStatusLineId).lfHeight));
}

TEST_F(FormTest, CaptionsShowAmpersandsAndNewButtonsFollowInTabOrder) {
  ASSERT_EQ(form_.ShowInstallButtons({{L"安装到 R&D", L"", {1200, 3000, 1815, 375}},
                                      {L"安装到 R&D 2", L"", {1200, 3495, 1815, 375}}}),
            2);
  HWND first = ::GetDlgItem(window_, kFirstInstallButtonId);
  HWND second = ::GetDlgItem(window_, kFirstInstallButtonId + 1);
  EXPECT_EQ(TextOf(first), L"安装到 R&&D");
  EXPECT_EQ(TextOf(second), L"安装到 R&&D 2");
  EXPECT_TRUE(::GetWindowLongW(second, GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(::GetWindow(first, GW_HWNDNEXT), second);
  EXPECT_EQ(::GetDlgItem(window_, kFirstInstallButtonId + 2), nullptr);
}

TEST_F(FormTest, StatusLineAndInstallButtonsSwitch) {
  form_.SetStatus(L"开始下载...");
  EXPECT_EQ(TextOf(::GetDlgItem(window_, kStatusLineId)), L"开始下载...");
  ASSERT_EQ(form_.ShowInstallButtons({{L"安装到 X7", L"CorelDRAW X7", {1200, 3000, 1815, 375}},
                                      {L"安装到 X8", L"CorelDRAW X8", {1200, 3495, 1815, 375}}}),
            2);
  EXPECT_TRUE(form_.InstallButtonsEnabled());
  form_.SetInstallButtonsEnabled(false);
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window_, kFirstInstallButtonId)));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window_, kFirstInstallButtonId + 1)));
  EXPECT_FALSE(form_.InstallButtonsEnabled());
}

}  // namespace
}  // namespace zarvelo::win32
