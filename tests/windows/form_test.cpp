// The Win32 window toolkit in this process: what a monitor of another DPI
// does to the layout and fonts, and how captions are shown. (The installer's
// own layout at start-up is checked from outside in installer_layout_test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32/win32_form.h"
#include "ui/installer_window.h"

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
  const LOGFONTW info = FontOf(window_, kLblInfoId);
  EXPECT_EQ(std::wstring(info.lfFaceName), L"宋体");
  EXPECT_EQ(info.lfHeight, -14);  // 10.5 pt at 96 dpi
  EXPECT_EQ(info.lfWeight, 400);
  EXPECT_EQ(info.lfCharSet, 134);
  EXPECT_FALSE(info.lfItalic || info.lfUnderline || info.lfStrikeOut);
  // The other controls share the window's default font.
  EXPECT_EQ(::SendMessageW(::GetDlgItem(window_, kLblDetailId), WM_GETFONT, 0, 0),
            ::SendMessageW(::GetDlgItem(window_, kLabel1Id), WM_GETFONT, 0, 0));
}

TEST_F(FormTest, AnotherMonitorsDpiRelaysTheWindowOut) {
  ASSERT_TRUE(form_.LoadButton(1).ok());
  form_.cmdDownloadInstall(1).SetBounds({1200, 3495, 1815, 375});
  form_.SetHeight(4790);
  MoveToMonitorOf(96);
  RECT outer{};
  ::GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.bottom - outer.top, 319);  // 4790 twips
  ExpectBox(window_, kCmdDownloadInstallId + 1, {80, 233, 121, 25});

  MoveToMonitorOf(144);
  ::GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.bottom - outer.top, 479);  // 4790 twips at 10 a pixel
  RECT client{};
  ::GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 435);  // 4350 twips
  ExpectBox(window_, kLblInfoId, {24, 12, 386, 110});
  ExpectBox(window_, kLblDetailId, {12, 240, 398, 38});
  ExpectBox(window_, kLabel1Id, {24, 132, 398, 50});
  ExpectBox(window_, kCmdDownloadInstallId, {120, 300, 182, 38});
  ExpectBox(window_, kCmdDownloadInstallId + 1, {120, 350, 182, 38});
  EXPECT_EQ(FontOf(window_, kLblInfoId).lfHeight, -21);  // 10.5 pt at 144 dpi
  // The default font grows with the DPI too.
  const LONG defaultAt144 = FontOf(window_, kLblDetailId).lfHeight;
  MoveToMonitorOf(96);
  EXPECT_GT(std::abs(defaultAt144), std::abs(FontOf(window_, kLblDetailId).lfHeight));
}

TEST_F(FormTest, CaptionsShowAmpersandsAndCopiesKeepThem) {
  form_.cmdDownloadInstall(0).SetCaption(L"安装到 R&D");
  EXPECT_EQ(TextOf(::GetDlgItem(window_, kCmdDownloadInstallId)), L"安装到 R&&D");
  ASSERT_TRUE(form_.LoadButton(1).ok());
  EXPECT_EQ(TextOf(::GetDlgItem(window_, kCmdDownloadInstallId + 1)), L"安装到 R&&D");
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window_, kCmdDownloadInstallId + 1)));
  EXPECT_FALSE(form_.LoadButton(5).ok()) << "elements are created in order";
}

TEST_F(FormTest, StatusLineAndTagsAreKept) {
  form_.SetDetail(L"开始下载...");
  EXPECT_EQ(TextOf(::GetDlgItem(window_, kLblDetailId)), L"开始下载...");
  form_.cmdDownloadInstall(0).SetTag(L"C:\\Users\\李娜\\CorelDRAW X8\\Draw");
  EXPECT_EQ(form_.cmdDownloadInstall(0).Tag(), L"C:\\Users\\李娜\\CorelDRAW X8\\Draw");
  form_.cmdDownloadInstall(0).SetEnabled(false);
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window_, kCmdDownloadInstallId)));
}

}  // namespace
}  // namespace zarvelo::win32
