// The fingerprint database against the simulated disk: the file's bytes, adding and
// refreshing, damaged files, memory faults, and saves that fail or are cut off.
#include <cstring>
#include <string>
#include <vector>

#include "app/quarrow.h"
#include "lib/hdd/hdd.h"
#include "../ini/disk_fixture.h"

namespace {

const std::string kDB = "/ProgramFiles/Settings/Zorvane/Quarrow.db";

RecDBEntry MakeEntry(int i) {
  RecDBEntry e;
  std::memset(&e, 0, sizeof e);
  e.RecInode = 0x100000000ull + 1000 + i;
  e.RecSample = 0xA0000000u | static_cast<uint32_t>(i);
  e.InfInode = 2000 + i;
  e.InfSample = 0xB0000000u | static_cast<uint32_t>(i);
  e.NavInode = 3000 + i;
  e.NavSample = 0xC0000000u | static_cast<uint32_t>(i);
  std::snprintf(e.RecName, sizeof e.RecName, "Recording %d.rec", i);
  return e;
}

// Little-endian bytes written out field by field, independent of the struct's layout.
void PutLE(std::string &out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string RecordBytes(const RecDBEntry &e) {
  std::string out;
  PutLE(out, e.RecInode, 8);
  PutLE(out, e.RecSample, 4);
  PutLE(out, 0, 4);
  PutLE(out, e.InfInode, 8);
  PutLE(out, e.InfSample, 4);
  PutLE(out, 0, 4);
  PutLE(out, e.NavInode, 8);
  PutLE(out, e.NavSample, 4);
  PutLE(out, 0, 4);
  std::string name(e.RecName, strnlen(e.RecName, 127));
  name.resize(128, '\0');
  return out + name;
}

std::string FileBytes(uint32_t version, int32_t capacity, int32_t count, const std::vector<RecDBEntry> &entries,
                      size_t records) {
  std::string out;
  PutLE(out, version, 4);
  PutLE(out, static_cast<uint32_t>(capacity), 4);
  PutLE(out, static_cast<uint32_t>(count), 4);
  for (size_t i = 0; i < records; ++i) out += i < entries.size() ? RecordBytes(entries[i]) : std::string(176, '\0');
  return out;
}

std::vector<RecDBEntry> Entries(int from, int to) {
  std::vector<RecDBEntry> v;
  for (int i = from; i < to; ++i) v.push_back(MakeEntry(i));
  return v;
}

bool SameEntry(const RecDBEntry &a, const RecDBEntry &b) { return RecordBytes(a) == RecordBytes(b); }

class RecDBTest : public DiskTest {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    RecDB_CreateDir();
  }
  void TearDown() override {
    RecDB_Destroy();
    EXPECT_EQ(sim::outstanding_blocks(), 0);
    EXPECT_EQ(sim::open_files(), 0);
    DiskTest::TearDown();
  }

  // What a freshly loaded module would find.
  std::vector<RecDBEntry> Reloaded() {
    RecDB_Destroy();
    RecDB_Load();
    std::vector<RecDBEntry> v;
    for (int32_t i = 0; i < RecDBEntries; ++i) v.push_back(*RecDB_At(i));
    return v;
  }

  static bool Same(const std::vector<RecDBEntry> &a, const std::vector<RecDBEntry> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (!SameEntry(a[i], b[i])) return false;
    }
    return true;
  }

  void AddAll(const std::vector<RecDBEntry> &entries) {
    for (const RecDBEntry &e : entries) ASSERT_EQ(RecDB_Add(&e), 1);
  }
};

TEST_F(RecDBTest, SavedFileIsTheWholeArrayInLittleEndian) {
  for (int n : {1, 9, 10, 11, 25}) {
    SCOPED_TRACE("entries: " + std::to_string(n));
    fs::remove(Real(kDB));
    RecDB_Destroy();
    std::vector<RecDBEntry> entries = Entries(0, n);
    // Junk behind the name's terminator and in the padding is not stored.
    entries[0].Padding1 = 0xFFFFFFFF;
    entries[0].Padding3 = 7;
    std::strcpy(entries[0].RecName + 60, "junk after the name");
    AddAll(entries);
    int32_t capacity = (n + 9) / 10 * 10;
    EXPECT_EQ(RecDBSize, capacity);
    RecDB_Save();
    EXPECT_EQ(RecDBVersion, 1u);
    std::string bytes = Read(kDB);
    EXPECT_EQ(bytes.size(), 12u + 176u * static_cast<size_t>(capacity));
    EXPECT_EQ(bytes, FileBytes(1, capacity, n, entries, static_cast<size_t>(capacity)));
    EXPECT_EQ(FolderListing(kSettings), "Quarrow.db\nQuarrow.log\n");
    EXPECT_TRUE(Same(Reloaded(), entries));
    EXPECT_EQ(RecDBSize, capacity);
  }
}

TEST_F(RecDBTest, GrowingKeepsTheEntriesAlreadyThere) {
  std::vector<RecDBEntry> entries = Entries(0, 11);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(RecDB_Add(&entries[i]), 1);
  EXPECT_EQ(RecDBSize, 10);
  ASSERT_EQ(RecDB_Add(&entries[10]), 1);
  EXPECT_EQ(RecDBSize, 20);
  EXPECT_EQ(RecDBEntries, 11);
  for (int i = 0; i < 11; ++i) EXPECT_TRUE(SameEntry(*RecDB_At(i), entries[i])) << i;
  for (int i = 11; i < 20; ++i) EXPECT_EQ(RecordBytes(*RecDB_At(i)), std::string(176, '\0')) << i;
}

TEST_F(RecDBTest, RefreshReportsOnlyRealChanges) {
  std::vector<RecDBEntry> entries = Entries(0, 3);
  AddAll(entries);
  EXPECT_EQ(LogCount("added 'Recording 1.rec' to the DB"), 1);
  std::string logBefore = Log();

  struct Change {
    const char *what;
    void (*apply)(RecDBEntry &);
  };
  const Change changes[] = {
      {"nothing", [](RecDBEntry &) {}},
      {"InfInode", [](RecDBEntry &e) { e.InfInode += 1; }},
      {"InfSample", [](RecDBEntry &e) { e.InfSample ^= 0x10; }},
      {"NavInode", [](RecDBEntry &e) { e.NavInode += 2; }},
      {"NavSample", [](RecDBEntry &e) { e.NavSample = 0; }},
      {"RecName", [](RecDBEntry &e) { std::strcpy(e.RecName, "Renamed.rec"); }},
      {"padding only", [](RecDBEntry &e) { e.Padding2 = 99; }},
      {"junk behind the name only", [](RecDBEntry &e) { e.RecName[100] = 'x'; }},
  };
  for (const Change &c : changes) {
    SCOPED_TRACE(c.what);
    RecDBEntry update = RecDB[1];
    c.apply(update);
    bool differs = std::strcmp(c.what, "nothing") != 0 && std::strcmp(c.what, "padding only") != 0 &&
                   std::strcmp(c.what, "junk behind the name only") != 0;
    EXPECT_EQ(RecDB_Add(&update), differs ? 1 : 0);
    EXPECT_EQ(RecDBEntries, 3);
    EXPECT_TRUE(SameEntry(RecDB[1], update));
    EXPECT_EQ(RecDB_Add(&update), 0);  // the same again changes nothing
    EXPECT_TRUE(SameEntry(RecDB[0], entries[0]));
    EXPECT_TRUE(SameEntry(RecDB[2], entries[2]));
  }
  EXPECT_EQ(Log(), logBefore);  // refreshes are not logged

  // A companion that is missing now keeps its stored fingerprint.
  RecDBEntry known = RecDB[1];
  RecDBEntry without = known;
  without.InfInode = without.NavInode = 0;
  without.InfSample = without.NavSample = 0;
  EXPECT_EQ(RecDB_Add(&without), 0);
  EXPECT_TRUE(SameEntry(RecDB[1], known));

  // Same inode, other sample: another recording.
  RecDBEntry twin = entries[0];
  twin.RecSample ^= 1;
  std::strcpy(twin.RecName, "Twin.rec");
  EXPECT_EQ(RecDB_Add(&twin), 1);
  EXPECT_EQ(RecDBEntries, 4);
  EXPECT_EQ(LogCount("added 'Twin.rec' to the DB"), 1);
  EXPECT_EQ(RecDB_Add(nullptr), 0);
}

TEST_F(RecDBTest, NamesThatFillTheFieldStayInsideIt) {
  RecDBEntry e = MakeEntry(1);
  std::memset(e.RecName, 'N', sizeof e.RecName);  // no terminator at all
  ASSERT_EQ(RecDB_Add(&e), 1);
  EXPECT_EQ(std::string(RecDB[0].RecName), std::string(127, 'N'));
  EXPECT_EQ(LogCount("added '" + std::string(127, 'N') + "' to the DB"), 1);
  EXPECT_EQ(RecDB_Add(&e), 0);

  RecDBEntry other = e;
  std::memset(other.RecName, 'M', sizeof other.RecName);
  EXPECT_EQ(RecDB_Add(&other), 1);
  EXPECT_EQ(std::string(RecDB[0].RecName), std::string(127, 'M'));

  // A file whose names fill the field loads with the names cut at the field's end.
  RecDB_Save();
  std::string bytes = Read(kDB);
  ASSERT_GE(bytes.size(), 12u + 176u);
  std::memset(&bytes[12 + 48], 'Z', 128);
  Write(kDB, bytes);
  RecDB_Destroy();
  RecDB_Load();
  ASSERT_EQ(RecDBEntries, 1);
  EXPECT_EQ(std::string(RecDB[0].RecName), std::string(127, 'Z'));
}

TEST_F(RecDBTest, NothingToLoadOrSave) {
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  RecDB_Load();
  EXPECT_EQ(RecDB, nullptr);
  EXPECT_EQ(RecDBSize, 0);
  EXPECT_EQ(RecDBEntries, 0);
  RecDB_Save();
  EXPECT_FALSE(Exists(kDB));
  EXPECT_FALSE(Exists(std::string(kSettings) + "/Quarrow.log"));  // nothing logged
  EXPECT_EQ(sim::current_dir(), "/DataFiles");

  AddAll(Entries(0, 2));
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  RecDB_Save();
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  Reloaded();
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  EXPECT_EQ(RecDBEntries, 2);

  // A valid file without capacity loads as an empty database.
  Write(kDB, FileBytes(1, 0, 0, {}, 0));
  EXPECT_TRUE(Reloaded().empty());
  EXPECT_EQ(RecDB, nullptr);
  EXPECT_EQ(LogCount("damaged"), 0);
}

TEST_F(RecDBTest, CreateDirMakesTheSettingsFolders) {
  fs::remove_all(Real("/ProgramFiles/Settings"));
  RecDB_CreateDir();
  EXPECT_TRUE(fs::is_directory(Real(kSettings)));
  EXPECT_EQ(sim::current_dir(), "/ProgramFiles/Settings");
  RecDB_CreateDir();  // again: harmless
  EXPECT_TRUE(fs::is_directory(Real(kSettings)));
}

TEST_F(RecDBTest, AnotherVersionLoadsEmptyAndIsKeptAside) {
  std::string v2 = FileBytes(2, 10, 3, Entries(0, 3), 10);
  Write(kDB, v2);
  RecDB_Load();
  EXPECT_EQ(LogCount("unexpected DB version"), 1);
  EXPECT_EQ(RecDB, nullptr);
  EXPECT_EQ(RecDBEntries, 0);
  EXPECT_EQ(RecDBSize, 0);

  std::vector<RecDBEntry> fresh = Entries(10, 12);
  AddAll(fresh);
  RecDB_Save();
  EXPECT_EQ(Read(kDB), FileBytes(1, 10, 2, fresh, 10));
  EXPECT_EQ(Read(kDB + ".bad"), v2);

  // Random bytes are another version too, kept beside the first file set aside.
  std::string random;
  for (uint32_t i = 0; i < 12 + 176 * 10; ++i) random.push_back(static_cast<char>((i * 2654435761u) >> 13));
  Write(kDB, random);
  RecDB_Destroy();
  RecDB_Load();
  EXPECT_EQ(LogCount("unexpected DB version"), 2);
  AddAll(Entries(20, 21));
  RecDB_Save();
  EXPECT_EQ(Read(kDB + ".bad"), v2);
  EXPECT_EQ(Read(kDB + ".bad2"), random);
}

TEST_F(RecDBTest, DamagedHeadersNeverReachBeyondTheArray) {
  const std::vector<RecDBEntry> five = Entries(0, 5);
  struct Case {
    const char *what;
    std::string bytes;
    int kept;
  };
  std::string partial = FileBytes(1, 10, 5, five, 4) + std::string(100, 'p');
  std::string withHole = FileBytes(1, 10, -1, five, 10);
  std::memset(&withHole[12 + 176], 0, 176);  // entry 1 blanked
  std::string withTwin = FileBytes(1, 10, 99, five, 10);
  std::memcpy(&withTwin[12 + 176 * 4], &withTwin[12 + 176 * 2], 12);  // entry 4 has entry 2's identity
  const std::vector<Case> cases = {
      {"count 0 with records behind it", FileBytes(1, 10, 0, five, 10), 5},
      {"count below the records present", FileBytes(1, 10, 2, five, 10), 5},
      {"file longer than its capacity says", FileBytes(1, 10, 5, five, 10) + RecordBytes(MakeEntry(7)), 6},
      {"count above capacity", FileBytes(1, 10, 11, five, 10), 5},
      {"count far above capacity", FileBytes(1, 10, 0x7FFFFFFF, five, 10), 5},
      {"negative count", FileBytes(1, 10, -5, five, 10), 5},
      {"negative capacity", FileBytes(1, -10, 5, five, 10), 5},
      {"capacity larger than the file", FileBytes(1, 1000, 5, five, 10), 5},
      {"huge capacity", FileBytes(1, 0x7FFFFFFF, 5, five, 10), 5},
      {"file cut inside a record", partial, 4},
      {"blank record inside", withHole, 4},
      {"same identity twice", withTwin, 4},
      {"header only, count set", FileBytes(1, 10, 5, five, 0), 0},
      {"shorter than the header", std::string("\x01\x00\x00\x00\x0a", 5), 0},
      {"empty file", std::string(), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Real(kDB + ".bad"));
    fs::remove(Real(std::string(kSettings) + "/Quarrow.log"));
    Write(kDB, c.bytes);
    RecDB_Destroy();
    RecDB_Load();
    EXPECT_EQ(LogCount("damaged DB, kept " + std::to_string(c.kept) + " entries"), 1) << Log();
    EXPECT_EQ(RecDBEntries, c.kept);
    EXPECT_GE(RecDBSize, RecDBEntries);
    EXPECT_EQ(RecDBSize % 10, 0);
    EXPECT_EQ(RecDB == nullptr, c.kept == 0);
    for (int32_t i = 0; i < RecDBEntries; ++i) {
      // Salvaged entries keep their order; the blanked one and the twin are left out.
      bool found = SameEntry(MakeEntry(7), RecDB[i]);
      for (const RecDBEntry &e : five) found = found || SameEntry(e, RecDB[i]);
      EXPECT_TRUE(found) << i;
      if (i > 0) {
        EXPECT_LT(RecDB[i - 1].RecInode, RecDB[i].RecInode);
      }
    }
    for (int32_t i = RecDBEntries; i < RecDBSize; ++i) EXPECT_EQ(RecordBytes(RecDB[i]), std::string(176, '\0'));

    // The next save keeps what was salvaged and the damaged file itself.
    int32_t kept = RecDBEntries;
    RecDBEntry added = MakeEntry(50);
    ASSERT_EQ(RecDB_Add(&added), 1);
    RecDB_Save();
    EXPECT_EQ(Read(kDB + ".bad"), c.bytes);
    std::vector<RecDBEntry> after = Reloaded();
    EXPECT_EQ(static_cast<int>(after.size()), kept + 1);
    EXPECT_EQ(LogCount("damaged"), 1);  // the new file is sound
  }

  // A second damaged file is kept aside beside the first, never over it.
  Write(kDB, partial);
  RecDB_Destroy();
  RecDB_Load();
  RecDBEntry added = MakeEntry(51);
  ASSERT_EQ(RecDB_Add(&added), 1);
  RecDB_Save();
  EXPECT_EQ(Read(kDB + ".bad"), cases.back().bytes);
  EXPECT_EQ(Read(kDB + ".bad2"), partial);
}

TEST_F(RecDBTest, OutOfMemoryWhileLoading) {
  std::vector<RecDBEntry> entries = Entries(0, 4);
  const std::vector<std::pair<const char *, std::string>> files = {
      {"sound file", FileBytes(1, 10, 4, entries, 10)},
      {"damaged file", FileBytes(1, -1, 4, entries, 10)},
  };
  for (const auto &[what, bytes] : files) {
    SCOPED_TRACE(what);
    fs::remove(Real(std::string(kSettings) + "/Quarrow.log"));
    Write(kDB, bytes);
    RecDB_Destroy();
    sim::fault(sim::Call::TAP_MemAlloc).nth(1);
    RecDB_Load();
    sim::clear_faults();
    EXPECT_EQ(LogCount("failed to reserve memory for the DB"), 1);
    EXPECT_EQ(RecDB, nullptr);
    EXPECT_EQ(RecDBSize, 0);
    EXPECT_EQ(RecDBEntries, 0);
    EXPECT_EQ(sim::outstanding_blocks(), 0);

    // What the scan adds now must not replace the fingerprints that were not read.
    RecDBEntry added = MakeEntry(9);
    ASSERT_EQ(RecDB_Add(&added), 1);
    RecDB_Save();
    EXPECT_EQ(LogCount("failed to save the DB"), 1);
    EXPECT_EQ(Read(kDB), bytes);
    EXPECT_TRUE(Same(Reloaded(), entries));
  }
}

TEST_F(RecDBTest, FileThatCannotBeOpenedOrReadIsNotOverwritten) {
  std::vector<RecDBEntry> entries = Entries(0, 4);
  AddAll(entries);
  RecDB_Save();
  std::string before = Read(kDB);

  struct Fault {
    sim::Call op;
    uint64_t nth;
  };
  // The open, the header read and the array read.
  for (Fault f : {Fault{sim::Call::TAP_Hdd_Fopen, 1}, Fault{sim::Call::TAP_Hdd_Fread, 1}, Fault{sim::Call::TAP_Hdd_Fread, 2}}) {
    {
      RecDB_Destroy();
      fs::remove(Real(std::string(kSettings) + "/Quarrow.log"));
      sim::fault(f.op).nth(f.nth).on("Quarrow.db");
      RecDB_Load();
      sim::clear_faults();
      EXPECT_EQ(LogCount("failed to load the DB"), 1);
      EXPECT_EQ(RecDBEntries, 0);
      RecDBEntry added = MakeEntry(9);
      ASSERT_EQ(RecDB_Add(&added), 1);
      RecDB_Save();
      EXPECT_EQ(LogCount("failed to save the DB"), 1);
      EXPECT_EQ(Read(kDB), before);
    }
  }
  EXPECT_TRUE(Same(Reloaded(), entries));
}

TEST_F(RecDBTest, OutOfMemoryWhileAdding) {
  for (int start : {0, 10}) {
    SCOPED_TRACE("entries before: " + std::to_string(start));
    RecDB_Destroy();
    AddAll(Entries(0, start));
    RecDBEntry extra = MakeEntry(77);
    uint64_t before = sim::calls(sim::Call::TAP_MemAlloc);
    ASSERT_EQ(RecDB_Add(&extra), 1);
    uint64_t calls = sim::calls(sim::Call::TAP_MemAlloc) - before;
    ASSERT_GE(calls, 1u);
    RecDB_Destroy();
    AddAll(Entries(0, start));

    for (uint64_t n = 1; n <= calls; ++n) {
      fs::remove(Real(std::string(kSettings) + "/Quarrow.log"));
      RecDBEntry *array = RecDB;
      int32_t size = RecDBSize;
      long blocks = sim::outstanding_blocks();
      sim::fault(sim::Call::TAP_MemAlloc).nth(n);
      int result = RecDB_Add(&extra);
      sim::clear_faults();
      EXPECT_EQ(sim::outstanding_blocks(), blocks);
      if (result == 0) {
        EXPECT_EQ(LogCount("failed to reserve memory while increasing the DB"), 1);
        EXPECT_EQ(RecDB, array);
        EXPECT_EQ(RecDBSize, size);
        EXPECT_EQ(RecDBEntries, start);
        for (int i = 0; i < start; ++i) EXPECT_TRUE(SameEntry(RecDB[i], MakeEntry(i)));
      } else {
        // Only an allocation of the log writer failed; the entry is in.
        EXPECT_EQ(RecDBEntries, start + 1);
        RecDB_Destroy();
        AddAll(Entries(0, start));
      }
    }
  }
}

// ---- saves that fail or are cut off --------------------------------------------------

class RecDBSaveTest : public RecDBTest {
 protected:
  void SetUp() override {
    RecDBTest::SetUp();
    old_ = Entries(0, 3);
    new_ = Entries(0, 4);
    AddAll(old_);
    RecDB_Save();
    oldBytes_ = Read(kDB);
    RecDB_Destroy();
  }

  // Loads the old database, adds one fingerprint and saves.
  void AddOneAndSave(void (*arm)(long), long arg) {
    RecDB_Load();
    ASSERT_EQ(RecDBEntries, 3);
    ASSERT_EQ(RecDB_Add(&new_[3]), 1);
    arm(arg);
    RecDB_Save();
    sim::clear_faults();
  }

  void Restore() {
    RecDB_Destroy();
    fs::remove_all(Real(kSettings));
    fs::create_directories(Real(kSettings));
    Write(kDB, oldBytes_);
  }

  // After the restart: the old database or the new one, whole.
  std::vector<RecDBEntry> ExpectOldOrNew() {
    std::vector<RecDBEntry> loaded = Reloaded();
    EXPECT_TRUE(Same(loaded, old_) || Same(loaded, new_)) << loaded.size() << " entries";
    EXPECT_EQ(LogCount("damaged"), 0);
    EXPECT_EQ(LogCount("failed to load"), 0);
    return loaded;
  }

  std::vector<RecDBEntry> old_, new_;
  std::string oldBytes_;
};

TEST_F(RecDBSaveTest, EveryFailingFileCallKeepsACompleteDatabase) {
  for (int i = 0; i < sim::CALL_COUNT; ++i) {
    const auto op = static_cast<sim::Call>(i);
    if (!sim::on_disk(op)) continue;
    Restore();
    RecDB_Load();
    ASSERT_EQ(RecDB_Add(&new_[3]), 1);
    uint64_t before = sim::calls(op);
    RecDB_Save();
    uint64_t calls = sim::calls(op) - before;
    for (uint64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE(std::string(sim::call_name(op)) + " call " + std::to_string(n));
      Restore();
      static uint64_t nth;
      static sim::Call failing;
      nth = n;
      failing = op;
      AddOneAndSave([](long) { sim::fault(failing).nth(nth); }, 0);
      bool reported = LogCount("failed to save the DB") > 0;
      std::vector<RecDBEntry> loaded = ExpectOldOrNew();
      if (reported) {
        EXPECT_TRUE(Same(loaded, old_));
      } else {
        EXPECT_TRUE(Same(loaded, new_));
      }
    }
  }
}

TEST_F(RecDBSaveTest, WritesThatReportSuccessButNeverLandAreCaught) {
  Restore();
  AddOneAndSave([](long) { sim::fault(sim::Call::TAP_Hdd_Fwrite).always().returns(1); }, 0);
  // The log file's own writes were swallowed too; the terminal echo shows the message.
  EXPECT_NE(sim::console_text().find("failed to save the DB"), std::string::npos);
  EXPECT_TRUE(Same(ExpectOldOrNew(), old_));
  EXPECT_EQ(Read(kDB), oldBytes_);
}

TEST_F(RecDBSaveTest, PowerCutAfterAnyByteKeepsACompleteDatabase) {
  const long long total = 12 + 176 * 10;
  for (long long budget = 0; budget <= total; ++budget) {
    SCOPED_TRACE("bytes written: " + std::to_string(budget));
    Restore();
    AddOneAndSave([](long b) { sim::cut_power_after_bytes(b); }, static_cast<long>(budget));
    std::vector<RecDBEntry> loaded = ExpectOldOrNew();
    EXPECT_EQ(Same(loaded, new_), budget == total);
  }
}

TEST_F(RecDBSaveTest, PowerCutAtAnyStepKeepsACompleteDatabase) {
  Restore();
  const long before = DiskChanges();
  AddOneAndSave([](long) {}, 0);
  const long steps = DiskChanges() - before;
  ASSERT_GT(steps, 3);
  bool sawOld = false, sawNew = false;
  for (long n = 0; n <= steps; ++n) {
    SCOPED_TRACE("steps before the cut: " + std::to_string(n));
    Restore();
    AddOneAndSave([](long k) { sim::cut_power_after_changes(static_cast<uint64_t>(k)); }, n);
    std::vector<RecDBEntry> loaded = ExpectOldOrNew();
    (Same(loaded, old_) ? sawOld : sawNew) = true;
    if (n == steps) {
      EXPECT_TRUE(Same(loaded, new_));
    }
    // Whatever was left over does not stand in the way of the next save.
    RecDBEntry more = MakeEntry(40);
    ASSERT_EQ(RecDB_Add(&more), 1);
    RecDB_Save();
    std::vector<RecDBEntry> later = Reloaded();
    EXPECT_EQ(later.size(), loaded.size() + 1);
    EXPECT_EQ(FolderListing(kSettings), "Quarrow.db\nQuarrow.log\n");
  }
  EXPECT_TRUE(sawOld);
  EXPECT_TRUE(sawNew);
}

TEST_F(RecDBSaveTest, LoadFindsThePreviousFileLeftAsBackup) {
  // Cut between the renames: no database, the old one as backup, the new one (whole or
  // not) under the temporary name.
  fs::rename(Real(kDB), Real(kDB + ".bak"));
  Write(kDB + ".tmp", oldBytes_.substr(0, 100));
  EXPECT_TRUE(Same(ExpectOldOrNew(), old_));
  EXPECT_EQ(Read(kDB), oldBytes_);
}

}  // namespace
