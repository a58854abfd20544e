// Start-up delays, the idle-event scheduler and the acknowledgement keys.
#include <sys/stat.h>

#include "app/seenfiles.h"
#include "fixture.h"
#include "host/frame.h"
#include "lib/osd/osd.h"

namespace {

constexpr uint32_t kOk = 0x1001E, kExit = 0x10017;

class SchedulerTest : public AppTest {
 protected:
  uint32_t Idle(uint32_t tick, uint32_t param = 0) {
    sim::set_tick(tick);
    return TAP_EventHandler(EVT_IDLE, param, 0);
  }
  uint32_t Key(uint32_t code) { return TAP_EventHandler(EVT_KEY, code, 0); }

  // Loaded long after boot at tick 0: intake due after 100, first scan after 4000.
  void LoadLate() {
    sim::set_uptime_text("600.00");
    sim::set_tick(0);
    ASSERT_EQ(TAP_Main(), 1);
  }
  // A later load that finds something in the recovery folder shows the box at tick 101.
  void ShowBoxAt101() {
    MakeFile("/Quarrow/#5", 10, 1);
    LoadLate();
    Idle(101);
    ASSERT_TRUE(OSDMenuMessageBoxIsVisible());
  }
  int StoredInformUser() {
    Settings_Read();
    return InformUser;
  }
};

struct DelayCase {
  const char *uptime;
  uint32_t intake, scan;
};

TEST_F(SchedulerTest, StartUpDelaysFollowTheUptime) {
  const DelayCase cases[] = {
      {"35.27", 18000, 12000}, {"120.00", 18000, 12000},  // 12000 hundredths: fresh boot
      {"120.01", 100, 4000},   {"86400.5", 100, 4000},
      {"", 18000, 12000},  // unreadable uptime counts as 0
  };
  for (const DelayCase &c : cases) {
    SCOPED_TRACE(c.uptime);
    sim::set_uptime_text(c.uptime);
    sim::set_tick(5000);
    EXPECT_EQ(TAP_Main(), 1);
    EXPECT_EQ(NextLFCheck, 5000 + c.intake);
    EXPECT_EQ(NextDataFilesCheck, 5000 + c.scan);
    EXPECT_EQ(MessageTimeout, 0u);
    EXPECT_EQ(RecDB, nullptr);
  }
  // Start-up also makes the settings folder and a settings file holding 0.
  EXPECT_TRUE(Exists("/ProgramFiles/Settings/Zorvane/Quarrow.ini"));
  EXPECT_EQ(InformUser, 0);
}

TEST_F(SchedulerTest, DeadlinesFireOnlyOnATickStrictlyGreater) {
  LoadLate();
  MakeFile("/DataFiles/A.rec", 64, 1);
  Idle(100);
  EXPECT_EQ(NextLFCheck, 100u);
  Idle(101);
  EXPECT_EQ(NextLFCheck, 0xFFFFFFFFu);

  Idle(4000);
  EXPECT_EQ(NextDataFilesCheck, 4000u);
  EXPECT_FALSE(Exists("/ProgramFiles/Settings/Zorvane/Quarrow.db"));
  Idle(4001);
  EXPECT_EQ(NextDataFilesCheck, 4001u + 30000);
  EXPECT_TRUE(Exists("/ProgramFiles/Settings/Zorvane/Quarrow.db"));
  EXPECT_EQ(RecDB, nullptr);  // held only within the step
  EXPECT_EQ(quarrow::SeenFiles_Count(), 1u);
  EXPECT_EQ(sim::outstanding_blocks(), 2) << "only the scans' record of what they read stays: a block and its index";

  // The next scan counts from the end of this one.
  Idle(34001);
  EXPECT_EQ(NextDataFilesCheck, 34001u);
  Idle(34002);
  EXPECT_EQ(NextDataFilesCheck, 64002u);
}

TEST_F(SchedulerTest, IntakeRunsOncePerLoad) {
  LoadLate();
  Idle(101);
  ASSERT_EQ(NextLFCheck, 0xFFFFFFFFu);
  MakeFile("/Quarrow/#7", 10, 1);
  for (uint32_t t : {200u, 20000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) Idle(t);
  EXPECT_TRUE(Exists("/Quarrow/#7"));
  EXPECT_FALSE(Exists("/DataFiles/Zorvane/#7"));
  EXPECT_EQ(LogCount("found"), 0);
}

TEST_F(SchedulerTest, NothingFoundAndNothingOwedShowsNoBox) {
  LoadLate();
  Idle(101);
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_EQ(MessageTimeout, 0u);
  EXPECT_EQ(Log(), "");
}

TEST_F(SchedulerTest, FindingFilesStoresTheFlagMovesThemAndShowsTheBox) {
  ShowBoxAt101();
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#5"));
  EXPECT_FALSE(Exists("/Quarrow/#5"));
  EXPECT_EQ(MessageTimeout, 101u + 3000);
  EXPECT_EQ(StoredInformUser(), 1);
  EXPECT_STREQ(MessageBox.Title, "Quarrow");
  EXPECT_STREQ(MessageBox.Text, "Dateien gefunden und verschoben");
  EXPECT_EQ(MessageBox.NrButtons, 1u);
  EXPECT_STREQ(MessageBox.Button[0], "OK");
}

TEST_F(SchedulerTest, OwedMessageIsShownAgainWithNothingNew) {
  InformUser = 1;
  Settings_Write();
  LoadLate();
  ASSERT_EQ(InformUser, 1);
  Idle(101);
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
}

TEST_F(SchedulerTest, BoxTimesOut3000TicksAfterItWasShown) {
  ShowBoxAt101();
  Idle(3101);
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
  EXPECT_EQ(Idle(3102, 9), 9u);
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_EQ(MessageTimeout, 0u);
  EXPECT_EQ(StoredInformUser(), 1);  // not acknowledged: still owed
  // Only one box per load.
  Idle(50000);
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
}

TEST_F(SchedulerTest, BothAcknowledgementKeysTakeTheBoxDownAndClearTheFlag) {
  for (uint32_t code : {kOk, kExit}) {
    SCOPED_TRACE(code);
    ShowBoxAt101();
    int acksBefore = LogCount("Dialog ack'd by user");
    EXPECT_EQ(Key(code), 0u);
    EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
    EXPECT_EQ(LogCount("Dialog ack'd by user"), acksBefore + 1);
    EXPECT_EQ(MessageTimeout, 101u + 3000);  // left for the time-out step
    EXPECT_EQ(StoredInformUser(), 0);
    Idle(3102);
    EXPECT_EQ(MessageTimeout, 0u);
    // A second key finds no box and is passed on.
    EXPECT_EQ(Key(code), code);
    EXPECT_EQ(LogCount("Dialog ack'd by user"), acksBefore + 1);
  }
}

TEST_F(SchedulerTest, OtherKeysAndEventsPassTheirParameterBack) {
  ShowBoxAt101();
  EXPECT_EQ(Key(0x10001), 0x10001u);
  EXPECT_EQ(Key(kOk + 1), kOk + 1);
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
  EXPECT_EQ(TAP_EventHandler(0x200, kOk, 0), kOk);  // right code, wrong event
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
  EXPECT_EQ(TAP_EventHandler(EVT_IDLE, 1234, 99), 1234u);
  EXPECT_EQ(StoredInformUser(), 1);
}

TEST_F(SchedulerTest, ScanRunsBeforeIntakeWhenBothAreDue) {
  MakeFile("/DataFiles/Stay.rec", 10, 2);
  MakeFile("/Quarrow/#77", 10, 3);
  LoadLate();
  NextLFCheck = 4000;  // both due at tick 4001
  Idle(4001);
  EXPECT_EQ(NextDataFilesCheck, 4001u + 30000);
  EXPECT_EQ(NextLFCheck, 0xFFFFFFFFu);
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#77"));
  std::string log = Log();
  ASSERT_NE(log.find("added 'Stay.rec'"), std::string::npos);
  ASSERT_NE(log.find("found 1 new files"), std::string::npos);
  EXPECT_LT(log.find("added 'Stay.rec'"), log.find("found 1 new files"));
}

// A database that is there but cannot be read costs one line, not one per recording per
// scan; the log says when it can be read again.
TEST_F(SchedulerTest, AnUnreadableDatabaseIsLoggedOnceUntilItCanBeReadAgain) {
  MakeFile("/DataFiles/Film.rec", 100, 3);
  LoadLate();
  Idle(4001);
  ASSERT_EQ(LogCount("added 'Film.rec'"), 1);
  MakeFile("/DataFiles/Neu.rec", 100, 4);
  sim::fault(sim::Call::TAP_Hdd_Fopen).always().on("Quarrow.db");
  Idle(34002);
  Idle(64003);
  sim::clear_faults();
  EXPECT_EQ(LogCount("failed to load the DB"), 1);
  EXPECT_EQ(LogCount("failed to save the DB"), 1);
  EXPECT_EQ(LogCount("added 'Neu.rec'"), 0);
  EXPECT_EQ(LogCount("DB readable again"), 0);
  Idle(94004);
  EXPECT_EQ(LogCount("DB readable again"), 1);
  EXPECT_EQ(LogCount("added 'Neu.rec'"), 1);
  EXPECT_EQ(LogCount("added 'Film.rec'"), 1);
}

// A recovery and what can come between its start and its end.
class RecoveryScheduleTest : public SchedulerTest {
 protected:
  // A recording with both companions, fingerprinted by a first load, then orphaned.
  void OrphanedRecording(const std::string &name) {
    for (const char *suffix : {"", ".inf", ".nav"}) MakeFile("/DataFiles/" + name + suffix, 100, 7);
    LoadLate();
    Idle(4001);
    fs::create_directories(Real("/Quarrow"));
    for (const char *suffix : {"", ".inf", ".nav"}) {
      const std::string from = "/DataFiles/" + name + suffix;
      fs::rename(Real(from), Real("/Quarrow/#" + std::to_string(Inode(from))));
    }
  }
  void NextLoad() {
    LoadLate();
    Idle(101);
  }
  bool Back(const std::string &name) {
    return Exists("/DataFiles/Zorvane/" + name) && Exists("/DataFiles/Zorvane/" + name + ".inf") &&
           Exists("/DataFiles/Zorvane/" + name + ".nav");
  }
};

TEST_F(RecoveryScheduleTest, ARecoveryCutShortIsFinishedAtTheNextStartWithQuarrowEmpty) {
  OrphanedRecording("Film.rec");
  sim::fault(sim::Call::TAP_Hdd_Fopen).nth(1).on("Quarrow.db");  // the database of this load
  NextLoad();
  EXPECT_TRUE(fs::is_empty(Real("/Quarrow")));
  EXPECT_FALSE(Back("Film.rec"));
  EXPECT_EQ(StoredInformUser(), 1);

  NextLoad();
  EXPECT_TRUE(Back("Film.rec"));
  EXPECT_FALSE(Exists(std::string(kSettings) + "/Quarrow.pending"));
  EXPECT_EQ(LogCount("found 3 new files"), 1);  // the second start found nothing new
}

TEST_F(RecoveryScheduleTest, AFinishedRecoveryIsNeverRepeated) {
  OrphanedRecording("Film.rec");
  NextLoad();
  ASSERT_TRUE(Back("Film.rec"));
  // The user names the file as they like; later files come and go.
  fs::rename(Real("/DataFiles/Zorvane/Film.rec"), Real("/DataFiles/Zorvane/Mein Film.rec"));
  MakeFile("/Quarrow/#77", 10, 1);
  NextLoad();
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/Mein Film.rec"));
  EXPECT_FALSE(Exists("/DataFiles/Zorvane/Film.rec"));
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#77"));
}

// Stored files that are not plain files are set aside; a fresh one takes their place.
TEST_F(RecoveryScheduleTest, NonPlainSettingsFilesAreSetAsideAndTheFlagIsStored) {
  const std::string s = std::string(kSettings) + "/";
  struct Shape {
    const char *what, *name;
    void (*make)(const std::string &path);
  };
  const Shape shapes[] = {
      {"database a folder", "Quarrow.db", [](const std::string &p) { fs::create_directories(p + "/x"); }},
      {"database a FIFO", "Quarrow.db", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
      {"database a dangling link", "Quarrow.db", [](const std::string &p) { fs::create_symlink("/nowhere/x", p); }},
      {"database a link off the disk", "Quarrow.db", [](const std::string &p) { fs::create_symlink("/etc/hostname", p); }},
      {"settings a folder", "Quarrow.ini", [](const std::string &p) { fs::create_directories(p + "/x"); }},
      {"settings a link off the disk", "Quarrow.ini", [](const std::string &p) { fs::create_symlink("/etc/hostname", p); }},
      {"temporary file a full folder", "Quarrow.ini.tmp", [](const std::string &p) { fs::create_directories(p + "/x"); }},
      {"backup a full folder", "Quarrow.db.bak", [](const std::string &p) { fs::create_directories(p + "/x"); }},
  };
  const std::string hostname = testfiles::ReadFile("/etc/hostname");
  for (const Shape &shape : shapes) {
    SCOPED_TRACE(shape.what);
    std::error_code ec;
    fs::remove_all(Real("/DataFiles"), ec);
    fs::remove_all(Real(kSettings), ec);
    fs::remove_all(Real("/Quarrow"), ec);
    fs::create_directories(Real(kSettings));
    shape.make(Real(s + shape.name));
    OrphanedRecording("Film.rec");
    NextLoad();
    EXPECT_TRUE(Back("Film.rec"));
    EXPECT_EQ(StoredInformUser(), 1);
    EXPECT_TRUE(fs::is_regular_file(Real(s + "Quarrow.db")));
    EXPECT_TRUE(fs::is_regular_file(Real(s + "Quarrow.ini")));
    EXPECT_TRUE(fs::symlink_status(Real(s + shape.name + ".bad")).type() != fs::file_type::not_found);
    EXPECT_GE(LogCount(std::string("'") + shape.name + "' is not a plain file, set aside as '" + shape.name + ".bad'"), 1);
  }
  EXPECT_EQ(testfiles::ReadFile("/etc/hostname"), hostname);
}

// A file or a link in place of a settings folder would block the module for good: it is
// set aside (a link never followed) and a real folder made.
TEST_F(RecoveryScheduleTest, ASettingsFolderThatIsNotAFolderIsSetAside) {
  const std::string outside = root_ + ".outside";
  struct Shape {
    const char *what, *folder;
    bool link;
  };
  const Shape shapes[] = {{"own folder a file", kSettings, false},
                          {"own folder a link off the disk", kSettings, true},
                          {"settings parent a file", "/ProgramFiles/Settings", false},
                          {"settings parent a link off the disk", "/ProgramFiles/Settings", true}};
  for (const Shape &shape : shapes) {
    SCOPED_TRACE(shape.what);
    std::error_code ec;
    fs::remove_all(Real("/DataFiles"), ec);
    fs::remove_all(Real("/ProgramFiles/Settings"), ec);
    fs::remove_all(Real("/Quarrow"), ec);
    fs::remove_all(outside, ec);
    fs::create_directories(outside);
    OrphanedRecording("Film.rec");
    fs::remove_all(Real(shape.folder), ec);
    fs::create_directories(Real(shape.folder).substr(0, Real(shape.folder).rfind('/')));
    if (shape.link)
      fs::create_directory_symlink(outside, Real(shape.folder));
    else
      Write(shape.folder, "not a folder");
    NextLoad();
    const std::string name = fs::path(shape.folder).filename().string();
    EXPECT_NE(sim::console_text().find("'" + name + "' is not a folder, set aside as '" + name + ".bad'"),
              std::string::npos);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(Real(kSettings))));
    EXPECT_EQ(StoredInformUser(), 1);
    EXPECT_TRUE(fs::is_regular_file(Real(std::string(kSettings) + "/Quarrow.ini")));
    EXPECT_TRUE(fs::is_empty(outside));
    // Fingerprints are taken again: a later scan saves them where they belong.
    MakeFile("/DataFiles/Neu.rec", 100, 5);
    Idle(4001);
    EXPECT_TRUE(fs::is_regular_file(Real(std::string(kSettings) + "/Quarrow.db")));
  }
  std::error_code ec;
  fs::remove_all(outside, ec);
}

TEST_F(RecoveryScheduleTest, ASettingsFileReadInPartIsNeverWrittenBack) {
  const std::string ini = std::string(kSettings) + "/Quarrow.ini";
  const std::string text = "; mine\r\nInformUser=1\r\nOther=1\r\n";
  Write(ini, text);
  sim::fault(sim::Call::TAP_Hdd_Fread).nth(1).on("Quarrow.ini");
  Settings_Read();
  EXPECT_EQ(InformUser, 1);  // kept pending
  sim::fault(sim::Call::TAP_Hdd_Fread).nth(1).on("Quarrow.ini");
  InformUser = 0;
  Settings_Write();
  EXPECT_EQ(Read(ini), text);
  EXPECT_EQ(LogCount("failed to read the settings"), 2);
}

}  // namespace
