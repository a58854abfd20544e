// The fingerprint database against the simulated disk: the file's bytes, adding and
// refreshing, damaged and unreadable files, and memory faults. Saves that fail or are cut
// off: tests/stores.
#include <cstring>
#include <string>
#include <vector>

#include "app/quarrow.h"
#include "lib/hdd/hdd.h"
#include "tests/common/dbfile.h"
#include "tests/common/sim_disk.h"

namespace {

namespace fs = std::filesystem;
using testdb::File;
using testdb::Record;

const std::string kDB = "/ProgramFiles/Settings/Zorvane/Quarrow.db";

RecDBEntry MakeEntry(int i) {
  RecDBEntry e = testdb::Entry(("Recording " + std::to_string(i) + ".rec").c_str(), 0x100000000ull + 1000 + i,
                               0xA0000000u | static_cast<uint32_t>(i));
  e.InfInode = 2000 + i;
  e.InfSample = 0xB0000000u | static_cast<uint32_t>(i);
  e.NavInode = 3000 + i;
  e.NavSample = 0xC0000000u | static_cast<uint32_t>(i);
  return e;
}

std::vector<RecDBEntry> Entries(int from, int to) {
  std::vector<RecDBEntry> v;
  for (int i = from; i < to; ++i) v.push_back(MakeEntry(i));
  return v;
}

bool SameEntry(const RecDBEntry &a, const RecDBEntry &b) { return Record(a) == Record(b); }

class RecDBTest : public ModuleDiskTest {
 protected:
  RecDBTest() : ModuleDiskTest("quarrow-db-", true) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ModuleDiskTest::SetUp());
    RecDB_CreateDir();
  }
  void TearDown() override {
    RecDB_Destroy();
    ModuleDiskTest::TearDown();
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
    EXPECT_EQ(bytes, File(1, capacity, n, entries, static_cast<size_t>(capacity)));
    EXPECT_EQ(Listing(kSettings), "Quarrow.db\nQuarrow.log\n");
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
  for (int i = 11; i < 20; ++i) EXPECT_EQ(Record(*RecDB_At(i)), std::string(176, '\0')) << i;
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
  Write(kDB, File(1, 0, 0, std::vector<std::string>{}, 0));
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
  std::string v2 = File(2, 10, 3, Entries(0, 3), 10);
  Write(kDB, v2);
  RecDB_Load();
  EXPECT_EQ(LogCount("unexpected DB version"), 1);
  EXPECT_EQ(RecDB, nullptr);
  EXPECT_EQ(RecDBEntries, 0);
  EXPECT_EQ(RecDBSize, 0);

  std::vector<RecDBEntry> fresh = Entries(10, 12);
  AddAll(fresh);
  RecDB_Save();
  EXPECT_EQ(Read(kDB), File(1, 10, 2, fresh, 10));
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
  std::string partial = File(1, 10, 5, five, 4) + std::string(100, 'p');
  std::string withHole = File(1, 10, -1, five, 10);
  std::memset(&withHole[12 + 176], 0, 176);  // entry 1 blanked
  std::string withTwin = File(1, 10, 99, five, 10);
  std::memcpy(&withTwin[12 + 176 * 4], &withTwin[12 + 176 * 2], 12);  // entry 4 has entry 2's identity
  const std::vector<Case> cases = {
      {"count 0 with records behind it", File(1, 10, 0, five, 10), 5},
      {"count below the records present", File(1, 10, 2, five, 10), 5},
      {"file longer than its capacity says", File(1, 10, 5, five, 10) + Record(MakeEntry(7)), 6},
      {"count above capacity", File(1, 10, 11, five, 10), 5},
      {"count far above capacity", File(1, 10, 0x7FFFFFFF, five, 10), 5},
      {"negative count", File(1, 10, -5, five, 10), 5},
      {"negative capacity", File(1, -10, 5, five, 10), 5},
      {"capacity larger than the file", File(1, 1000, 5, five, 10), 5},
      {"huge capacity", File(1, 0x7FFFFFFF, 5, five, 10), 5},
      {"file cut inside a record", partial, 4},
      {"blank record inside", withHole, 4},
      {"same identity twice", withTwin, 4},
      {"header only, count set", File(1, 10, 5, five, 0), 0},
      {"count above capacity, every record blank", File(1, 3, 7, std::vector<std::string>{}, 3), 0},
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
    for (int32_t i = RecDBEntries; i < RecDBSize; ++i) EXPECT_EQ(Record(RecDB[i]), std::string(176, '\0'));

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

// A file that could not be read, for want of memory or by a failing open or read, loads as
// nothing, and what the scan adds then must not replace the fingerprints that were not read:
// for a sound file and for damaged ones that the salvage would read.
TEST_F(RecDBTest, FileThatCouldNotBeReadIsNotOverwritten) {
  const std::vector<RecDBEntry> four = Entries(0, 4), one = Entries(0, 1);
  const std::vector<std::pair<std::string, const std::vector<RecDBEntry> *>> files = {
      {File(1, 10, 4, four, 10), &four},  // sound
      {File(1, -1, 4, four, 10), &four},  // negative capacity
      {File(1, 3, 7, one, 3), &one},      // count above capacity
  };
  struct Fault {
    sim::Call op;
    uint64_t nth;
    const char *on, *says;
  };
  // The array's memory, the open, the header read and the array read.
  const Fault faults[] = {{sim::Call::TAP_MemAlloc, 1, nullptr, "failed to reserve memory for the DB"},
                          {sim::Call::TAP_Hdd_Fopen, 1, "Quarrow.db", "failed to load the DB"},
                          {sim::Call::TAP_Hdd_Fread, 1, "Quarrow.db", "failed to load the DB"},
                          {sim::Call::TAP_Hdd_Fread, 2, "Quarrow.db", "failed to load the DB"}};
  for (const auto &[bytes, salvaged] : files) {
    for (const Fault &f : faults) {
      SCOPED_TRACE("file " + std::to_string(&bytes - &files[0].first) + ", " + sim::call_name(f.op) + " " +
                   std::to_string(f.nth));
      Write(kDB, bytes);
      RecDB_Destroy();
      fs::remove(Real(std::string(kSettings) + "/Quarrow.log"));
      ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
      sim::Fault rule = sim::fault(f.op).nth(f.nth);
      if (f.on) rule.on(f.on);
      RecDB_Load();
      sim::clear_faults();
      EXPECT_EQ(LogCount(f.says), 1);
      EXPECT_EQ(RecDB, nullptr);
      EXPECT_EQ(RecDBSize, 0);
      EXPECT_EQ(RecDBEntries, 0);
      EXPECT_EQ(sim::outstanding_blocks(), 0);
      EXPECT_EQ(sim::current_dir(), "/DataFiles");

      RecDBEntry added = MakeEntry(9);
      ASSERT_EQ(RecDB_Add(&added), 1);
      RecDB_Save();
      EXPECT_EQ(LogCount("failed to save the DB"), 1);
      EXPECT_EQ(Read(kDB), bytes);
      EXPECT_TRUE(Same(Reloaded(), *salvaged));
    }
  }
}

// Found by the fuzzer (corpus/recdb/garbage-unused-slots): slots past the count of a file
// are not in use; they come back as zeros and are saved as zeros, whatever the file held.
TEST_F(RecDBTest, UnusedSlotsAreHeldAsZeros) {
  std::string file(12 + 176 * 10, '\xA5');
  file.replace(0, 12 + 176, File(1, 10, 1, Entries(0, 1), 1));
  Write(kDB, file);
  RecDB_Load();
  ASSERT_EQ(RecDBEntries, 1);
  ASSERT_EQ(RecDBSize, 10);
  for (int i = 1; i < RecDBSize; ++i) EXPECT_EQ(testdb::Raw(RecDB[i]), std::string(176, '\0')) << i;
  EXPECT_TRUE(SameEntry(RecDB[0], MakeEntry(0)));
  RecDB_Save();
  EXPECT_EQ(Read(kDB), File(1, 10, 1, Entries(0, 1), 10));
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

}  // namespace
