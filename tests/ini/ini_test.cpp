// The settings store against the simulated disk: reading and changing entries in text
// it did not write, where files are found and stored, and memory. Saves that fail or are
// cut off: tests/stores.
#include "lib/ini/ini.h"

#include <string>
#include <vector>

#include "lib/hdd/hdd.h"
#include "tests/common/sim_disk.h"

namespace {

constexpr const char *kFile = "Quarrow.ini";
const std::string kPath = std::string("/ProgramFiles/Settings/Zorvane/") + kFile;

namespace fs = std::filesystem;

class IniTest : public ModuleDiskTest {
 protected:
  IniTest() : ModuleDiskTest("quarrow-ini-", true) {}
  void TearDown() override {
    INICloseFile();
    ModuleDiskTest::TearDown();
  }

  // Puts `text` into the settings folder as the file and opens it from there.
  INIPlace OpenWith(const std::string &text) {
    Write(kPath, text);
    EXPECT_TRUE(HDD_ChangeDir(kSettings));
    return INIOpenFile(kFile, "Quarrow");
  }

  std::string Text() const { return INIBuffer ? std::string(INIBuffer) : std::string("<closed>"); }
};

TEST_F(IniTest, ChangingOneValueKeepsEveryOtherByteOfAForeignFile) {
  struct Case {
    const char *what;
    std::string before;
    std::string after;
  };
  const std::vector<Case> cases = {
      {"CR LF lines with comments, blanks and other keys",
       "# written by hand\r\n\r\nOther=abc\r\n  indented = x\r\nInformUser=1\r\n;InformUser=7\r\nno equals here\r\n",
       "# written by hand\r\n\r\nOther=abc\r\n  indented = x\r\nInformUser=0\r\n;InformUser=7\r\nno equals here\r\n"},
      {"LF-only lines", "# c\n\nOther=abc\nInformUser=1\nTail=x\n", "# c\n\nOther=abc\nInformUser=0\nTail=x\n"},
      {"CR-only lines", "# c\r\rOther=abc\rInformUser=1\rTail=x\r", "# c\r\rOther=abc\rInformUser=0\rTail=x\r"},
      {"CR-only line before LF lines", "Other=abc\rInformUser=1\rTail=x\nMore=y\r\n",
       "Other=abc\rInformUser=0\rTail=x\nMore=y\r\n"},
      {"LF line before a CR-only line", "InformUser=1\nTail=x\rMore=y\r", "InformUser=0\nTail=x\rMore=y\r"},
      {"longer value replaced by a shorter one", "A=1\r\nInformUser=123456\r\nB=2\r\n", "A=1\r\nInformUser=0\r\nB=2\r\n"},
      {"key only commented out: appended", "#InformUser=1\r\n", "#InformUser=1\r\nInformUser=0\r\n"},
      {"no line end at the end: CR LF added, then the entry", "Other=abc", "Other=abc\r\nInformUser=0\r\n"},
      {"empty file", "", "\r\nInformUser=0\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(OpenWith(c.before), INIPlace_CurrentDir);
    INISetInt("InformUser", 0);
    ASSERT_TRUE(INISaveFile(kFile, INIPlace_CurrentDir, ""));
    INICloseFile();
    EXPECT_EQ(Read(kPath), c.after);

    ASSERT_EQ(INIOpenFile(kFile, "Quarrow"), INIPlace_CurrentDir);
    EXPECT_EQ(INIGetInt("InformUser", 5, 0, 9), 0);
    EXPECT_EQ(INIGetInt("Other", 5, -100, 100), 5);  // "abc" is not a number
    INICloseFile();
  }
}

TEST_F(IniTest, ReadingIntegers) {
  struct Case {
    const char *text;
    int32_t def, min, max, expected;
  };
  const std::vector<Case> cases = {
      {"", 7, 0, 9, 7},                                        // empty file
      {"InformUser=0", 1, 0, 1, 0},                            // no line end
      {"INFORMUSER=0\r\n", 1, 0, 1, 0},                        // keys ignore case
      {"#InformUser=0\r\n", 1, 0, 1, 1},                       // commented out
      {";InformUser=0\r\n", 1, 0, 1, 1},                       //
      {"#InformUser=0\r\nInformUser=1\r\n", 0, 0, 1, 1},       // the next occurrence counts
      {"# InformUser=0\r\n", 1, 0, 1, 0},                      // "#" and a blank: not a comment
      {"XInformUser=0\r\n", 1, 0, 1, 0},                       // a plain substring search
      {"InformUser =1\r\n", 4, 0, 9, 4},                       // blank before "="
      {"InformUser=1 \r\n", 4, 0, 9, 4},                       // trailing blank
      {"InformUser=\r\n", 4, 0, 9, 4},                         // empty value
      {"InformUser=-\r\n", 4, -9, 9, 4},                       // "-" alone
      {"InformUser=-3\r\n", 4, -5, 5, -3},                     //
      {"InformUser=-3\r\n", 1, 0, 1, 0},                       // clamped up to Min
      {"InformUser=7\r\n", 4, 0, 1, 1},                        // clamped down to Max
      {"Other=1\r\n", 5, 0, 1, 5},                             // Default is never clamped
      {"InformUser=00000000001x\r\n", 4, 0, 9, 1},             // 11 characters examined
      {"InformUser=1x\r\n", 4, 0, 9, 4},                       //
      {"InformUser=99999999999\r\n", 4, -5, 5, -1},            // saturates at 2^32-1
      {"InformUser=4294967296\r\n", 4, -5, 5, -1},             //
      {"InformUser=4294967295\r\n", 4, -5, 5, -1},             //
      {"InformUser=-1\r\n", 4, -5, 5, -1},                     //
      {"InformUser=2147483648\r\n", 4, INT32_MIN, 0, INT32_MIN},  // wraps to negative
      {"InformUser=1\rNext=2\r\n", 4, 0, 9, 1},                // CR-only line end, LF later
      {"InformUser=1\nNext=2\r", 4, 0, 9, 1},                  // LF first, CR later
      {"InformUser=3", 4, 5, 2, 2},                            // Min above Max gives Max
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(OpenWith(c.text), INIPlace_CurrentDir);
    EXPECT_EQ(INIGetInt("InformUser", c.def, c.min, c.max), c.expected);
    INICloseFile();
  }
  EXPECT_EQ(INIGetInt(nullptr, 4, 0, 9), 0);
}

TEST_F(IniTest, SettingValues) {
  // A new text gets exactly one CR LF line.
  ASSERT_TRUE(HDD_ChangeDir(kSettings));
  ASSERT_EQ(INIOpenFile(kFile, "Quarrow"), INIPlace_New);
  EXPECT_EQ(Text(), "");
  INISetInt("InformUser", 0);
  EXPECT_EQ(Text(), "InformUser=0\r\n");
  INISetInt("InformUser", -2147483647 - 1);
  EXPECT_EQ(Text(), "InformUser=-2147483648\r\n");
  INISetString("Name", "a=b c");
  EXPECT_EQ(Text(), "InformUser=-2147483648\r\nName=a=b c\r\n");
  INISetString(nullptr, "x");
  INISetString("x", nullptr);
  EXPECT_EQ(Text(), "InformUser=-2147483648\r\nName=a=b c\r\n");
  INICloseFile();

  ASSERT_EQ(OpenWith("a=1\r\nInformUser=1\r\nb=2\r\n"), INIPlace_CurrentDir);
  INISetInt("InformUser", 0);
  EXPECT_EQ(Text(), "a=1\r\nInformUser=0\r\nb=2\r\n");
  INISetString("informuser", "12");  // written as the caller spells the key
  EXPECT_EQ(Text(), "a=1\r\ninformuser=12\r\nb=2\r\n");
  INISetString("b", "");
  EXPECT_EQ(Text(), "a=1\r\ninformuser=12\r\nb=\r\n");
  INICloseFile();

  // Keys are cut to 78 characters for setting and reading alike.
  ASSERT_EQ(OpenWith(""), INIPlace_CurrentDir);
  std::string longKey(100, 'K');
  INISetString(longKey.c_str(), "5");
  EXPECT_EQ(Text(), "\r\n" + std::string(78, 'K') + "=5\r\n");
  EXPECT_EQ(INIGetInt((std::string(78, 'K') + "ignored").c_str(), 0, 0, 9), 5);
}

TEST_F(IniTest, BufferSizesAndGrowth) {
  ASSERT_EQ(OpenWith(""), INIPlace_CurrentDir);
  EXPECT_EQ(BufferSize, 1024u);
  EXPECT_EQ(Text(), "\r\n");
  INICloseFile();

  std::string big = "A=1\r\n" + std::string(693, 'x') + "\r\n";  // 700 bytes
  ASSERT_EQ(OpenWith(big), INIPlace_CurrentDir);
  EXPECT_EQ(BufferSize, 1536u);
  INICloseFile();

  // 512 bytes new; an entry that needs 514 grows it once to 1024.
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  ASSERT_EQ(INIOpenFile(kFile, ""), INIPlace_New);
  EXPECT_EQ(BufferSize, 512u);
  std::string value(500, 'v');
  INISetString("InformUser", value.c_str());
  EXPECT_EQ(BufferSize, 1024u);
  EXPECT_EQ(Text(), "InformUser=" + value + "\r\n");

  // More than one growth step would be needed: nothing changes.
  std::string huge(2100, 'h');
  INISetString("Other", huge.c_str());
  EXPECT_EQ(BufferSize, 1024u);
  EXPECT_EQ(Text(), "InformUser=" + value + "\r\n");
  INISetString("InformUser", huge.c_str());
  EXPECT_EQ(Text(), "InformUser=" + value + "\r\n");

  // A replacement that needs the next size grows into it.
  std::string longer(1020, 'w');
  INISetString("InformUser", longer.c_str());
  EXPECT_EQ(BufferSize, 2048u);
  EXPECT_EQ(Text(), "InformUser=" + longer + "\r\n");
}

TEST_F(IniTest, TheDeepestPlaceWinsAndTheCallersFolderIsKept) {
  Write("/ProgramFiles/Q.ini", "A=5\r\n");
  Write("/ProgramFiles/Settings/Q.ini", "A=4\r\n");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));

  EXPECT_EQ(INIOpenFile("Q.ini", "App"), INIPlace_Settings);
  EXPECT_EQ(INIGetInt("A", 0, 0, 9), 4);
  INICloseFile();
  EXPECT_EQ(sim::current_dir(), "/DataFiles");

  Write("/ProgramFiles/Settings/App/Q.ini", "A=3\r\n");
  EXPECT_EQ(INIOpenFile("Q.ini", "App"), INIPlace_AppFolder);
  EXPECT_EQ(INIGetInt("A", 0, 0, 9), 3);
  INICloseFile();
  // An absolute application folder is never searched.
  EXPECT_EQ(INIOpenFile("Q.ini", "/ProgramFiles/Settings/App"), INIPlace_Settings);
  INICloseFile();

  Write("/DataFiles/Q.ini", "A=2\r\n");
  EXPECT_EQ(INIOpenFile("Q.ini", "App"), INIPlace_CurrentDir);
  EXPECT_EQ(INIGetInt("A", 0, 0, 9), 2);
  INICloseFile();
  EXPECT_EQ(sim::current_dir(), "/DataFiles");

  EXPECT_EQ(INIOpenFile(nullptr, "App"), INIPlace_New);  // nothing to find: empty text
  INICloseFile();

  // The locator on its own stays where it found the file.
  fs::remove(Real("/DataFiles/Q.ini"));
  EXPECT_EQ(INILocateFile("Q.ini", "App"), INIPlace_AppFolder);
  EXPECT_EQ(sim::current_dir(), "/ProgramFiles/Settings/App");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_EQ(INILocateFile("Nowhere.ini", "App"), INIPlace_None);
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
}

TEST_F(IniTest, WhereSavesGo) {
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_FALSE(INISaveFile("Q.ini", INIPlace_CurrentDir, ""));  // nothing open
  ASSERT_EQ(INIOpenFile("Q.ini", "App"), INIPlace_New);
  INISetInt("A", 1);

  EXPECT_FALSE(INISaveFile("Q.ini", 6, ""));
  EXPECT_FALSE(INISaveFile("Q.ini", INIPlace_AppFolder, ""));
  EXPECT_FALSE(INISaveFile("Q.ini", INIPlace_AppFolder, nullptr));
  EXPECT_FALSE(Exists("/ProgramFiles/Q.ini"));
  EXPECT_FALSE(Exists("/DataFiles/Q.ini"));

  EXPECT_TRUE(INISaveFile("Q.ini", INIPlace_None, ""));
  EXPECT_EQ(Read("/ProgramFiles/Q.ini"), "A=1\r\n");
  fs::remove(Real("/ProgramFiles/Q.ini"));
  EXPECT_TRUE(INISaveFile("Q.ini", INIPlace_New, ""));
  EXPECT_EQ(Read("/ProgramFiles/Q.ini"), "A=1\r\n");

  fs::remove_all(Real("/ProgramFiles/Settings"));
  EXPECT_TRUE(INISaveFile("Q.ini", INIPlace_AppFolder, "NewApp"));
  EXPECT_EQ(Read("/ProgramFiles/Settings/NewApp/Q.ini"), "A=1\r\n");
  EXPECT_TRUE(INISaveFile("Q.ini", INIPlace_Settings, ""));
  EXPECT_EQ(Read("/ProgramFiles/Settings/Q.ini"), "A=1\r\n");
  EXPECT_TRUE(INISaveFile("Q.ini", INIPlace_CurrentDir, ""));
  EXPECT_EQ(Read("/DataFiles/Q.ini"), "A=1\r\n");
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  // No temporary or backup names are left behind.
  EXPECT_EQ(Listing("/DataFiles"), "Q.ini\n");
  EXPECT_EQ(Listing("/ProgramFiles/Settings"), "NewApp\nQ.ini\n");
}

TEST_F(IniTest, ClosingReleasesEverything) {
  ASSERT_EQ(OpenWith("InformUser=1\r\n"), INIPlace_CurrentDir);
  EXPECT_GT(sim::outstanding_blocks(), 0);
  INICloseFile();
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  EXPECT_EQ(INIBuffer, nullptr);
  EXPECT_EQ(BufferSize, 0u);
  EXPECT_EQ(INIGetInt("InformUser", 6, 0, 9), 6);
  INISetInt("InformUser", 0);  // closed: no effect, no crash
  EXPECT_EQ(INIBuffer, nullptr);
  INICloseFile();
  EXPECT_EQ(sim::outstanding_blocks(), 0);
}

TEST_F(IniTest, OutOfMemoryAtEveryAllocationChangesNothing) {
  // Opening: found file and new text.
  for (bool present : {true, false}) {
    SCOPED_TRACE(present ? "file present" : "no file");
    if (present) {
      Write(kPath, "InformUser=1\r\n");
    } else {
      fs::remove(Real(kPath));
    }
    ASSERT_TRUE(HDD_ChangeDir(kSettings));
    sim::fault(sim::Call::TAP_MemAlloc).nth(1);
    EXPECT_EQ(INIOpenFile(kFile, "Quarrow"), INIPlace_None);
    EXPECT_EQ(INIBuffer, nullptr);
    EXPECT_EQ(INIGetInt("InformUser", 7, 0, 9), 7);
    INICloseFile();
    EXPECT_EQ(sim::outstanding_blocks(), 0);
    EXPECT_EQ(sim::current_dir(), kSettings);
  }

  // Setting: replacing an entry and appending one that needs a larger buffer.
  struct Case {
    std::string text, key, value;
  };
  const std::vector<Case> cases = {
      {"a=1\r\nInformUser=1\r\nb=2\r\n", "InformUser", "0"},
      {std::string(900, '#') + "\r\n", "Other", std::string(700, 'v')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.key);
    ASSERT_EQ(OpenWith(c.text), INIPlace_CurrentDir);
    uint64_t before = sim::calls(sim::Call::TAP_MemAlloc);
    INISetString(c.key.c_str(), c.value.c_str());
    uint64_t calls = sim::calls(sim::Call::TAP_MemAlloc) - before;
    ASSERT_GE(calls, 1u);
    std::string changed = Text();
    INICloseFile();
    for (uint64_t n = 1; n <= calls; ++n) {
      ASSERT_EQ(OpenWith(c.text), INIPlace_CurrentDir);
      uint32_t size = BufferSize;
      sim::fault(sim::Call::TAP_MemAlloc).nth(n);
      INISetString(c.key.c_str(), c.value.c_str());
      sim::clear_faults();
      EXPECT_EQ(Text(), c.text);
      EXPECT_EQ(BufferSize, size);
      INISetString(c.key.c_str(), c.value.c_str());  // works again once memory is there
      EXPECT_EQ(Text(), changed);
      INICloseFile();
      EXPECT_EQ(sim::outstanding_blocks(), 0);
    }
  }
}

// A backup beside a settings file is the caller's own, from a save cut short; the other
// places searched hold other programs' files, whose backups are never taken for theirs.
TEST_F(IniTest, OnlyTheCallersFolderHasItsBackupRestored) {
  Write("/ProgramFiles/Settings/Q.ini.bak", "A=4\r\n");
  Write("/ProgramFiles/Q.ini.bak", "A=5\r\n");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_EQ(INIOpenFile("Q.ini", "App"), INIPlace_New);
  INICloseFile();
  EXPECT_FALSE(Exists("/ProgramFiles/Settings/Q.ini"));
  EXPECT_FALSE(Exists("/ProgramFiles/Q.ini"));
  EXPECT_EQ(Read("/ProgramFiles/Settings/Q.ini.bak"), "A=4\r\n");
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
}

TEST_F(IniTest, NamesWithoutRoomForTheSiblingsOfTheReplaceAreRefused) {
  ASSERT_TRUE(HDD_ChangeDir(kSettings));
  // The replace needs NAME.tmp and NAME.bak beside the file.
  const std::string longName(253, 'n');
  EXPECT_EQ(INIOpenFile(longName.c_str(), "Quarrow"), INIPlace_New);
  INISetInt("InformUser", 1);
  EXPECT_FALSE(INISaveFile(longName.c_str(), INIPlace_CurrentDir, ""));
  // A second open without a close releases the first text.
  EXPECT_EQ(INIOpenFile("Quarrow.ini", "Quarrow"), INIPlace_New);
  INICloseFile();
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  EXPECT_FALSE(Exists(std::string(kSettings) + "/" + longName));
}

// Found by the fuzzer (corpus/ini/nul-inside): a NUL ends the settings text, and the line
// end added after it must not pull in what follows.
TEST_F(IniTest, TheTextEndsAtANulInTheFile) {
  for (const std::string &file : {std::string("InformUser=0\0rest=1\r\n", 21), std::string("\0xyz=5\r\n", 8)}) {
    ASSERT_EQ(OpenWith(file), INIPlace_CurrentDir);
    EXPECT_EQ(Text(), file[0] == '\0' ? "\r\n" : "InformUser=0\r\n");
    EXPECT_EQ(INIGetInt("est", 7, 0, 9), 7);
    EXPECT_EQ(INIGetInt("xyz", 7, 0, 9), 7);
    INICloseFile();
  }
}

}  // namespace
