#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "ui/installer_layout.h"

namespace zarvelo {
namespace {

TEST(InstallerDesign, MatchesTheWindowLayout) {
  const WindowDesign design = InstallerDesign();
  EXPECT_EQ(design.title, L"Zarvelo矢量图CDR插件安装程序");
  EXPECT_EQ(design.clientWidth, 4350);
  EXPECT_EQ(design.clientHeight, 4035);
  ASSERT_EQ(design.controls.size(), 4u);
  const int tabOrder[] = {kInfoTextId, kStatusLineId, kFirstInstallButtonId, kWebsiteTextId};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(design.controls[i].id, tabOrder[i]);
  const ControlDesign& info = design.controls[0];
  EXPECT_EQ(info.font.face, L"宋体");
  EXPECT_EQ(info.font.points, 10.5f);
  EXPECT_EQ(info.font.charset, 134);
  EXPECT_EQ(design.controls[3].text, L"详情访问Zarvelo官网www.zarvelo.com");
}

TEST(ColumnLayout, StacksTheButtonsAndGrowsTheWindowForTwoOrMore) {
  struct Case {
    int versions;
    std::vector<Twips> tops;
    std::optional<Twips> windowHeight;
  } cases[] = {
      {0, {3000}, std::nullopt},
      {1, {3000}, std::nullopt},
      {2, {3000, 3495}, 4790},
      {5, {3000, 3495, 3990, 4485, 4980}, 6275},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.versions);
    const ColumnLayout layout = LayOutColumn(c.versions, InstallerDesign());
    ASSERT_EQ(layout.buttons.size(), c.tops.size());
    for (std::size_t k = 0; k < c.tops.size(); ++k) {
      EXPECT_EQ(layout.buttons[k].left, 1200);
      EXPECT_EQ(layout.buttons[k].top, c.tops[k]);
      EXPECT_EQ(layout.buttons[k].width, 1815);
      EXPECT_EQ(layout.buttons[k].height, 375);
    }
    EXPECT_EQ(layout.windowHeight, c.windowHeight);
  }
}

}  // namespace
}  // namespace zarvelo
