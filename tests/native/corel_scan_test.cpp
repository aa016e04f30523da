#include <gtest/gtest.h>

#include <optional>

#include "detect/corel_scan.h"
#include "fakes/fake_platform.h"

namespace zarvelo {
namespace {

using fake::FakeEnvironment;
using fake::FakeFileSystem;

constexpr wchar_t kProfile[] = L"C:\\Users\\设计师";
const std::wstring kCorel = std::wstring(kProfile) + L"\\AppData\\Roaming\\Corel";

struct Scan {
  std::vector<std::wstring> names, paths;
};

Scan RunScan(const FakeEnvironment& env, const FakeFileSystem& fs) {
  Scan scan;
  scan.names = {L"stale"};  // the scan replaces whatever the caller held
  DetectCorelVersions(env, fs, scan.names, scan.paths);
  EXPECT_EQ(scan.names.size(), scan.paths.size());
  return scan;
}

class CorelScanTest : public ::testing::Test {
 protected:
  CorelScanTest() { env.vars[L"USERPROFILE"] = kProfile; }
  void Version(const std::wstring& name, bool withDraw = true) {
    fs.AddFolder(kCorel + L"\\" + name);
    if (withDraw) fs.AddFolder(kCorel + L"\\" + name + L"\\Draw");
  }
  FakeEnvironment env;
  FakeFileSystem fs;
};

TEST_F(CorelScanTest, MissingCorelFolderGivesNoVersions) {
  fs.AddFolder(kProfile);
  const Scan scan = RunScan(env, fs);
  EXPECT_TRUE(scan.names.empty());
}

TEST_F(CorelScanTest, KeepsOnlyCorelDrawFoldersWithDrawInEnumerationOrder) {
  Version(L"CorelDRAW Graphics Suite 2022", /*withDraw=*/false);
  Version(L"Corel PHOTO-PAINT");
  Version(L"coreldraw graphics suite x7");
  Version(L"CorelDRAW Graphics Suite 2020");
  Version(L"My CORELDRAW backup");
  fs.AddFile(kCorel + L"\\CorelDRAW.txt", "not a folder");
  fs.AddFolder(kCorel + L"\\Corel Draw 9\\Draw");  // no "CorelDRAW" in its name

  const Scan scan = RunScan(env, fs);
  const std::vector<std::wstring> names = {L"coreldraw graphics suite x7",
                                           L"CorelDRAW Graphics Suite 2020",
                                           L"My CORELDRAW backup"};
  EXPECT_EQ(scan.names, names);
  ASSERT_EQ(scan.paths.size(), 3u);
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(scan.paths[i], kCorel + L"\\" + names[i] + L"\\Draw");
}

TEST_F(CorelScanTest, DoesNotLookBelowDirectSubfolders) {
  fs.AddFolder(kCorel + L"\\Archive\\CorelDRAW Graphics Suite 2019\\Draw");
  EXPECT_TRUE(RunScan(env, fs).names.empty());
}

TEST_F(CorelScanTest, FailureWhileEnumeratingKeepsWhatWasFound) {
  Version(L"CorelDRAW Graphics Suite 2019");
  Version(L"CorelDRAW Graphics Suite 2020");
  Version(L"CorelDRAW Graphics Suite 2021");
  fs.FailSubFoldersAfter(2, kErrorAccessDenied);
  const Scan scan = RunScan(env, fs);
  EXPECT_EQ(scan.names, (std::vector<std::wstring>{L"CorelDRAW Graphics Suite 2019",
                                                   L"CorelDRAW Graphics Suite 2020"}));
}

TEST_F(CorelScanTest, UnreadableRootGivesNoVersions) {
  Version(L"CorelDRAW Graphics Suite 2020");
  fs.Fail(fake::Op::GetFolder, kCorel, kErrorAccessDenied);
  EXPECT_TRUE(RunScan(env, fs).names.empty());
}

TEST(CorelRootsTest, ProfileFirstThenTheKnownRoamingFolderEachVersionOnce) {
  const std::wstring profile = L"C:\\Users\\Müller Ωmega";
  const std::wstring share = L"\\\\server\\profiles\\Müller Ωmega\\AppData\\Roaming";
  const std::wstring in2020 = profile + L"\\AppData\\Roaming\\Corel\\CorelDRAW Graphics Suite 2020\\Draw";
  const std::wstring in2022 = share + L"\\Corel\\CorelDRAW Graphics Suite 2022\\Draw";
  FakeFileSystem fs;
  fs.AddFolder(in2020);
  fs.AddFolder(in2022);
  fs.AddFolder(L"\\AppData\\Roaming\\Corel\\CorelDRAW X8\\Draw");  // below the drive root
  fs.AddFolder(L"C:Users\\Müller Ωmega\\AppData\\Roaming\\Corel\\CorelDRAW X7\\Draw");  // C:'s current folder
  // Redirected elsewhere, with 2020 in both: the local copy is stale.
  const std::wstring moved = L"D:\\Redirected\\Müller Ωmega\\Roaming";
  const std::wstring moved2020 = moved + L"\\Corel\\coreldraw graphics suite 2020\\Draw";
  const std::wstring moved2024 = moved + L"\\Corel\\CorelDRAW Graphics Suite 2024\\Draw";
  fs.AddFolder(moved2024);
  fs.AddFolder(moved2020);
  // Z and z, and letters whose case Windows folds beyond the basic alphabets.
  const std::wstring cased = L"C:\\Users\\Zofia Łoś Ÿvette Άρης";
  const std::wstring cased2021 = cased + L"\\AppData\\Roaming\\Corel\\CorelDRAW 2021\\Draw";
  fs.AddFolder(cased2021);

  struct Case {
    std::optional<std::wstring> profile, roaming;
    std::vector<std::wstring> paths;
  } cases[] = {
      {profile, std::nullopt, {in2020}},
      // Not redirected: Windows' spelling of the same folder may differ in case.
      {profile, profile + L"\\AppData\\Roaming", {in2020}},
      {profile, L"c:\\USERS\\Müller Ωmega\\APPDATA\\ROAMING", {in2020}},
      {cased, L"c:\\users\\zOFIA łOŚ ÿVETTE άΡΗς\\appdata\\roaming", {cased2021}},
      {profile, share, {in2020, in2022}},
      {std::nullopt, share, {in2022}},
      {profile, moved, {moved2020, moved2024}},
      {std::nullopt, std::nullopt, {}},
      // A root that is not a full path is never looked at.
      {std::nullopt, L"\\AppData\\Roaming", {}},
      {L"C:Users\\Müller Ωmega", std::nullopt, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.roaming.value_or(L"(no roaming folder)").size());
    FakeEnvironment env;
    if (c.profile) env.vars[L"USERPROFILE"] = *c.profile;
    env.roamingAppData = c.roaming;
    const Scan scan = RunScan(env, fs);
    EXPECT_EQ(scan.paths, c.paths);
    for (size_t i = 0; i < scan.names.size() && i < c.paths.size(); ++i)
      EXPECT_EQ(L"\\" + scan.names[i] + L"\\Draw",
                c.paths[i].substr(c.paths[i].size() - scan.names[i].size() - 6));
  }
}

TEST(ContainsIgnoringCase, MatchesAsciiLettersInAnyCase) {
  struct Case {
    const wchar_t* text;
    bool found;
  } cases[] = {
      {L"CorelDRAW", true},          {L"xcoreldrawx", true},  {L"CORELDRAW 2020", true},
      {L"Corel DRAW", false},        {L"CorelDRA", false},    {L"", false},
      {L"ＣｏｒｅｌＤＲＡＷ", false},  // full-width letters are other characters
  };
  for (const Case& c : cases) EXPECT_EQ(ContainsIgnoringCase(c.text, L"CorelDRAW"), c.found) << c.text;
}

}  // namespace
}  // namespace zarvelo
