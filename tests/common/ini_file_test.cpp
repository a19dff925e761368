#include "common/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/exceptions.h"
#include "support/odbc_test_env.h"

namespace velquarn {
namespace {

namespace fs = std::filesystem;

// A temporary folder that removes itself.
class TempFolder : public testing::TempDir {
 public:
  TempFolder() : TempDir("velquarn-ini") {}
  fs::path operator/(const char* name) const { return Path() / name; }
};

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int CountEntries(const fs::path& folder) {
  return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

constexpr const char* kSample =
    "; comment line\r\n"
    "[Settings]\r\n"
    "  IPV6 = 1 \r\n"
    "MaxDateDiff=0x0A\r\n"
    "Flag=true\r\n"
    "Dollar=$1f\r\n"
    "Quoted=\"  padded  \"\r\n"
    "Single='x'\r\n"
    "Mismatched=\"x'\r\n"
    "Empty=\r\n"
    "ipv6=2\r\n"
    "no equals sign\r\n"
    "\r\n"
    "[ sales ]\n"
    "DSN=SalesDB\n"
    "Password=a=b\n"
    "[CustomData]\r"
    "Colour = blue sky\r"
    "[SALES]\n"
    "DSN=Shadowed\n";

TEST(TIniFile, ReadsProfileLinesWithoutLetterCase) {
  TIniFile ini;
  ini.LoadFromText(kSample);
  EXPECT_TRUE(ini.SectionExists("settings"));
  EXPECT_TRUE(ini.SectionExists("Sales"));
  EXPECT_FALSE(ini.SectionExists("comment line"));
  EXPECT_EQ(ini.ReadString("SETTINGS", "ipv6", "?"), "1");
  EXPECT_EQ(ini.ReadString("Settings", "Quoted", "?"), "  padded  ");
  EXPECT_EQ(ini.ReadString("Settings", "Single", "?"), "x");
  EXPECT_EQ(ini.ReadString("Settings", "Mismatched", "?"), "\"x'");
  EXPECT_EQ(ini.ReadString("Settings", "Empty", "?"), "");
  EXPECT_TRUE(ini.ValueExists("Settings", "Empty"));
  EXPECT_FALSE(ini.ValueExists("Settings", "no equals sign"));
  EXPECT_EQ(ini.ReadString("Settings", "Missing", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("sales", "Password", ""), "a=b");
  EXPECT_EQ(ini.ReadString("customdata", "colour", ""), "blue sky");
  // The first section and the first key of a name win.
  EXPECT_EQ(ini.ReadString("sales", "DSN", ""), "SalesDB");
}

TEST(TIniFile, IntegersAndBooleansFallBackWhenUnreadable) {
  TIniFile ini;
  ini.LoadFromText(kSample);
  EXPECT_EQ(ini.ReadInteger("Settings", "MaxDateDiff", 3), 10);
  EXPECT_EQ(ini.ReadInteger("Settings", "Dollar", 3), 31);
  EXPECT_EQ(ini.ReadInteger("Settings", "Flag", 3), 3);
  EXPECT_EQ(ini.ReadInteger("Settings", "Empty", 3), 3);
  EXPECT_EQ(ini.ReadInteger("Settings", "Missing", -1), -1);
  EXPECT_TRUE(ini.ReadBool("Settings", "IPV6", false));
  EXPECT_FALSE(ini.ReadBool("Settings", "Flag", false));
  EXPECT_TRUE(ini.ReadBool("Settings", "Flag", true));
  EXPECT_FALSE(ini.ReadBool("Nowhere", "IPV6", false));
}

TEST(TIniFile, ListsSectionsAndKeysInFileOrder) {
  TIniFile ini;
  ini.LoadFromText(kSample);
  TStringList list;
  ini.ReadSections(list);
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"Settings", "sales", "CustomData", "SALES"}));
  ini.ReadSection("sales", list);
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"DSN", "Password"}));
  ini.ReadSectionValues("settings", list);
  EXPECT_EQ(list.Strings(0), "IPV6=1");
  EXPECT_EQ(list.Strings(4), "Quoted=  padded  ");
  // The repeated key shows the value that reading it gives.
  EXPECT_EQ(list.Strings(8), "ipv6=1");
  ini.ReadSectionValues("absent", list);
  EXPECT_TRUE(list.Empty());
}

TEST(TIniFile, MissingFileIsAnEmptyConfiguration) {
  TempFolder folder;
  TIniFile ini((folder / "absent.ini").string());
  TStringList sections;
  ini.ReadSections(sections);
  EXPECT_TRUE(sections.Empty());
  EXPECT_EQ(ini.ReadInteger("Settings", "MaxDateDiff", 3), 3);
  EXPECT_THROW(TIniFile::ReadFileText((folder / "absent.ini").string()), Exception);
}

TEST(TIniFile, WritesKeepFileOrderAndReadBackTheSame) {
  TempFolder folder;
  const fs::path path = folder / "velquarn.ini";
  WriteFile(path, "[A]\nk1=v1\nk2=v2\n[B]\nx=1\n");
  TIniFile ini(path.string());
  // An existing key keeps the spelling of its name.
  ini.WriteString("a", "K2", "changed");
  ini.WriteString("A", "k3", "new");
  ini.WriteString("C", "quoted", " blank ");
  ini.WriteInteger("C", "n", -5);
  ini.WriteBool("B", "flag", true);
  ini.UpdateFile();
  EXPECT_EQ(TIniFile::ReadFileText(path.string()),
            "[A]\r\nk1=v1\r\nk2=changed\r\nk3=new\r\n"
            "\r\n[B]\r\nx=1\r\nflag=1\r\n"
            "\r\n[C]\r\nquoted=\" blank \"\r\nn=-5\r\n");
  TIniFile again(path.string());
  EXPECT_EQ(again.ReadString("c", "quoted", ""), " blank ");
  EXPECT_EQ(again.ReadInteger("c", "n", 0), -5);

  again.EraseSection("b");
  TStringList sections;
  again.ReadSections(sections);
  EXPECT_EQ(sections.Items(), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(CountEntries(folder.Path()), 1);
}

TEST(TIniFile, AtomicWriteReplacesTheFileAndKeepsItsMode) {
  TempFolder folder;
  const fs::path path = folder / "velquarn.ini";
  WriteFile(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  TIniFile::WriteFileAtomically(path.string(), "line1\nline2\n");
  EXPECT_EQ(TIniFile::ReadFileText(path.string()), "line1\nline2\n");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(CountEntries(folder.Path()), 1);
}

TEST(TIniFile, FailedWriteNamesThePathAndLeavesNoTemporaryFile) {
  TempFolder folder;
  const fs::path target = folder / "sub";
  fs::create_directory(target);
  // Renaming a file over a non-empty folder fails after the temporary file
  // has been written.
  WriteFile(target / "keep", "x");
  try {
    TIniFile::WriteFileAtomically(target.string(), "text");
    FAIL();
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos) << error.what();
  }
  EXPECT_EQ(CountEntries(folder.Path()), 1);
  EXPECT_THROW(TIniFile::WriteFileAtomically((folder / "missing/x.ini").string(), "t"), Exception);
}

TEST(TIniFile, LineNumbersCountEveryLineEndingKind) {
  TIniFile ini;
  // LF, CR LF and a lone CR each end one line; blank and comment lines count.
  ini.LoadFromText("stray\n; comment\r\n[A]\rk=1\n\nno equals\n[b]\r\nK=2\nk=3\n[a]\nx=4");
  const std::vector<TIniSectionLines> sections = ini.SectionLines();
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].name, "A");
  EXPECT_EQ(sections[0].line, 3);
  ASSERT_EQ(sections[0].keys.size(), 1u);
  EXPECT_EQ(sections[0].keys[0].line, 4);
  EXPECT_EQ(sections[1].line, 7);
  ASSERT_EQ(sections[1].keys.size(), 2u);
  EXPECT_EQ(sections[1].keys[1].key, "k");
  EXPECT_EQ(sections[1].keys[1].value, "3");
  EXPECT_EQ(sections[1].keys[1].line, 9);
  EXPECT_EQ(sections[2].keys[0].line, 11);
  ASSERT_EQ(ini.SkippedLines().size(), 2u);
  EXPECT_EQ(ini.SkippedLines()[0].line, 1);
  EXPECT_EQ(ini.SkippedLines()[0].text, "stray");
  EXPECT_EQ(ini.SkippedLines()[1].line, 6);
  EXPECT_EQ(ini.SkippedLines()[1].text, "no equals");
  // Reading is unchanged: the first of repeated sections and keys wins.
  EXPECT_EQ(ini.ReadString("a", "x", "none"), "none");
  EXPECT_EQ(ini.ReadInteger("B", "k", 0), 2);
  // Written parts have no line; a new load forgets the old skipped lines.
  ini.WriteString("c", "y", "5");
  EXPECT_EQ(ini.SectionLines().back().line, 0);
  ini.LoadFromText("[z]\nq=1\n");
  EXPECT_TRUE(ini.SkippedLines().empty());
  EXPECT_EQ(ini.SectionLines()[0].keys[0].line, 2);
}

}  // namespace
}  // namespace velquarn
