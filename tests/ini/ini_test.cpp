// The settings store against the simulated disk: reading and changing entries in text
// it did not write, where files are found and stored, memory, and saves that fail or
// are cut off.
#include "lib/ini/ini.h"

#include <string>
#include <vector>

#include "disk_fixture.h"
#include "lib/hdd/hdd.h"

namespace {

constexpr const char *kFile = "Quarrow.ini";
const std::string kPath = std::string("/ProgramFiles/Settings/Zorvane/") + kFile;

class IniTest : public DiskTest {
 protected:
  void TearDown() override {
    INICloseFile();
    EXPECT_EQ(sim::outstanding_blocks(), 0);
    DiskTest::TearDown();
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
  EXPECT_EQ(FolderListing("/DataFiles"), "Q.ini\n");
  EXPECT_EQ(FolderListing("/ProgramFiles/Settings"), "NewApp\nQ.ini\n");
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

// ---- saves that fail or are cut off --------------------------------------------------

class IniSaveTest : public IniTest {
 protected:
  const std::string old_ = "; hand-made\r\nOther=abc\nInformUser=1\r\nTail=x\r";
  const std::string new_ = "; hand-made\r\nOther=abc\nInformUser=0\r\nTail=x\r";

  // Opens the old file, changes it, and saves; the result of the save.
  bool ChangeAndSave() {
    EXPECT_EQ(OpenWith(old_), INIPlace_CurrentDir);
    INISetInt("InformUser", 0);
    bool saved = INISaveFile(kFile, INIPlace_CurrentDir, "");
    INICloseFile();
    return saved;
  }

  // What a later open finds: the old or the new text, whole, and nothing else.
  std::string Reopened() {
    EXPECT_TRUE(HDD_ChangeDir(kSettings));
    EXPECT_EQ(INIOpenFile(kFile, "Quarrow"), INIPlace_CurrentDir);
    std::string text = Text();
    INICloseFile();
    return text;
  }

  void ExpectOldOrNew(bool saved) {
    std::string text = Reopened();
    if (saved) {
      EXPECT_EQ(text, new_);
    } else {
      EXPECT_TRUE(text == old_ || text == new_) << text;
    }
    EXPECT_EQ(Read(kPath), text);
  }

  // Saves once more without faults: leftovers of the failure must not stand in the way.
  void ExpectLaterSaveWorks() {
    EXPECT_TRUE(ChangeAndSave());
    EXPECT_EQ(Read(kPath), new_);
    EXPECT_EQ(FolderListing(kSettings), "Quarrow.ini\n");
  }
};

TEST_F(IniSaveTest, EveryFailingFileCallKeepsACompleteFile) {
  for (int i = 0; i < sim::CALL_COUNT; ++i) {
    const auto op = static_cast<sim::Call>(i);
    if (!sim::on_disk(op)) continue;
    // How often the save calls this operation, then each of those calls failed in turn.
    Write(kPath, old_);
    uint64_t before = sim::calls(op);
    ASSERT_TRUE(ChangeAndSave());
    uint64_t calls = sim::calls(op) - before;
    for (uint64_t n = 1; n <= calls + 1; ++n) {
      SCOPED_TRACE(std::string(sim::call_name(op)) + " call " + std::to_string(n));
      Write(kPath, old_);
      ASSERT_EQ(OpenWith(old_), INIPlace_CurrentDir);
      INISetInt("InformUser", 0);
      sim::fault(op).nth(n);
      bool saved = INISaveFile(kFile, INIPlace_CurrentDir, "");
      sim::clear_faults();
      INICloseFile();
      ExpectOldOrNew(saved);
      ExpectLaterSaveWorks();
    }
  }
}

TEST_F(IniSaveTest, WritesThatReportSuccessButNeverLandAreCaught) {
  Write(kPath, old_);
  ASSERT_EQ(OpenWith(old_), INIPlace_CurrentDir);
  INISetInt("InformUser", 0);
  sim::fault(sim::Call::TAP_Hdd_Fwrite).always().returns(1);
  bool saved = INISaveFile(kFile, INIPlace_CurrentDir, "");
  sim::clear_faults();
  INICloseFile();
  EXPECT_FALSE(saved);
  EXPECT_EQ(Read(kPath), old_);
  ExpectLaterSaveWorks();
}

TEST_F(IniSaveTest, PowerCutAfterAnyByteKeepsACompleteFile) {
  for (long long budget = 0; budget <= static_cast<long long>(new_.size()); ++budget) {
    SCOPED_TRACE("bytes written: " + std::to_string(budget));
    Write(kPath, old_);
    sim::cut_power_after_bytes(budget);
    bool saved = ChangeAndSave();
    sim::clear_faults();
    EXPECT_EQ(saved, budget == static_cast<long long>(new_.size()));
    ExpectOldOrNew(saved);
  }
  ExpectLaterSaveWorks();
}

TEST_F(IniSaveTest, PowerCutAtAnyStepKeepsACompleteFile) {
  Write(kPath, old_);
  const long before = DiskChanges();
  ASSERT_TRUE(ChangeAndSave());
  const long steps = DiskChanges() - before;
  ASSERT_GT(steps, 3);

  bool sawOld = false, sawNew = false;
  for (long n = 0; n <= steps; ++n) {
    SCOPED_TRACE("steps before the cut: " + std::to_string(n));
    fs::remove_all(Real(kSettings));
    fs::create_directories(Real(kSettings));
    Write(kPath, old_);
    sim::cut_power_after_changes(static_cast<uint64_t>(n));
    ChangeAndSave();
    sim::clear_faults();
    // After the restart: the file's name holds a whole text.
    std::string text = Reopened();
    EXPECT_TRUE(text == old_ || text == new_) << text;
    (text == old_ ? sawOld : sawNew) = true;
    if (n == steps) {
      EXPECT_EQ(text, new_);
    }
    ExpectLaterSaveWorks();
  }
  EXPECT_TRUE(sawOld);
  EXPECT_TRUE(sawNew);
}

TEST_F(IniSaveTest, APreviousFileLeftAsBackupIsFoundAgain) {
  // The state between the two renames: no file, the old one under the backup name and
  // the new one, complete or not, under the temporary name.
  Write(kPath + ".bak", old_);
  Write(kPath + ".tmp", new_.substr(0, 5));
  ASSERT_TRUE(HDD_ChangeDir(kSettings));
  EXPECT_EQ(INIOpenFile(kFile, "Quarrow"), INIPlace_CurrentDir);
  EXPECT_EQ(Text(), old_);
  INICloseFile();
  EXPECT_EQ(Read(kPath), old_);
  ExpectLaterSaveWorks();

  // Only in the caller's folder: the other places searched hold other programs' files.
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

}  // namespace
