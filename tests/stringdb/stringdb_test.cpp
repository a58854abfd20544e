// The string queue of the folder walk: offsets, duplicates, growth and failed allocations.
#include <cstring>
#include <vector>

#include "lib/stringdb/stringdb.h"
#include "tests/common/sim_disk.h"

namespace {

class StringQueue : public SimDiskTest {
 protected:
  StringQueue() : SimDiskTest("quarrow-sdb-") {}
  void TearDown() override {
    StringDBDestroy(&db);
    EXPECT_EQ(sim::outstanding_blocks(), 0) << "the buffer is released";
    SimDiskTest::TearDown();
  }
  std::string at(uint32_t offset) { return StringDBGet(&db, offset); }

  StringDB db{};
};

TEST_F(StringQueue, OffsetsAndDuplicates) {
  ASSERT_TRUE(StringDBInit(&db, 1024));
  EXPECT_EQ(db.AllocSize, 1024u);
  EXPECT_EQ(StringDBAdd(&db, "/DataFiles"), 0u);
  EXPECT_EQ(StringDBAdd(&db, "/DataFiles/A"), 11u);
  const char *before = db.WritePtr;
  EXPECT_EQ(StringDBAdd(&db, "/DataFiles"), 0u);
  EXPECT_EQ(db.WritePtr, before) << "nothing stored for a duplicate";
  // Comparison is case-sensitive.
  EXPECT_EQ(StringDBAdd(&db, "/DataFiles/a"), 24u);
  EXPECT_EQ(at(11), "/DataFiles/A");
  EXPECT_EQ(at(24), "/DataFiles/a");
}

TEST_F(StringQueue, BreadthFirstWalkVisitsEachStringOnce) {
  ASSERT_TRUE(StringDBInit(&db, 1024));
  StringDBAdd(&db, "/DataFiles");
  std::vector<std::string> visited;
  while (!StringDBEOF(&db)) {
    std::string current = StringDBGet(&db, StringDBCurrent(&db));
    visited.push_back(current);
    if (current.size() <= 12) {  // two levels below /DataFiles
      StringDBAdd(&db, (current + "/x").c_str());
      StringDBAdd(&db, (current + "/y").c_str());
      StringDBAdd(&db, "/DataFiles");  // already read: still not queued again
    }
    StringDBNext(&db);
  }
  std::vector<std::string> expected = {"/DataFiles", "/DataFiles/x", "/DataFiles/y", "/DataFiles/x/x",
                                       "/DataFiles/x/y", "/DataFiles/y/x", "/DataFiles/y/y"};
  EXPECT_EQ(visited, expected);
}

TEST_F(StringQueue, ReadPositionAtTheEnd) {
  ASSERT_TRUE(StringDBInit(&db, 64));
  EXPECT_TRUE(StringDBEOF(&db));
  EXPECT_EQ(StringDBNext(&db), 0u);
  StringDBAdd(&db, "one");
  EXPECT_FALSE(StringDBEOF(&db));
  EXPECT_EQ(StringDBNext(&db), 4u);
  EXPECT_TRUE(StringDBEOF(&db));
  EXPECT_EQ(StringDBNext(&db), 0u);
  EXPECT_EQ(StringDBCurrent(&db), 4u) << "a further Next does not move";
  // A new string lands on the end mark and becomes current.
  EXPECT_EQ(StringDBAdd(&db, "two"), 4u);
  EXPECT_FALSE(StringDBEOF(&db));
  EXPECT_EQ(at(StringDBCurrent(&db)), "two");
}

TEST_F(StringQueue, ExactFitAndOneGrowthStep) {
  ASSERT_TRUE(StringDBInit(&db, 16));
  StringDBAdd(&db, "abcd");
  StringDBAdd(&db, "efgh");
  StringDBNext(&db);  // the read position must survive the move
  ASSERT_EQ(db.WritePtr - db.Data, 10);
  EXPECT_EQ(StringDBAdd(&db, "ijkl"), 10u);
  EXPECT_EQ(db.AllocSize, 16u) << "10 + 4 + 2 fits exactly";

  StringDB second{};
  ASSERT_TRUE(StringDBInit(&second, 16));
  StringDBAdd(&second, "abcd");
  StringDBAdd(&second, "efgh");
  StringDBNext(&second);
  EXPECT_EQ(StringDBAdd(&second, "ijklm"), 10u);
  EXPECT_EQ(second.AllocSize, 4112u);
  EXPECT_STREQ(StringDBGet(&second, 0), "abcd");
  EXPECT_STREQ(StringDBGet(&second, 5), "efgh");
  EXPECT_STREQ(StringDBGet(&second, 10), "ijklm");
  EXPECT_EQ(StringDBCurrent(&second), 5u);
  EXPECT_EQ(second.WritePtr[0], '\0');
  EXPECT_EQ(sim::outstanding_blocks(), 4);  // two records, each with its buffer and its index: the old buffer went
  StringDBDestroy(&second);
}

TEST_F(StringQueue, RecordWithoutBufferAllocatesTwiceTheFirstString) {
  ASSERT_TRUE(StringDBInit(&db, 0));
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  EXPECT_EQ(StringDBAdd(&db, "ab"), 0u);
  EXPECT_EQ(db.AllocSize, 4u);
  EXPECT_EQ(at(0), "ab");
  // Full now: the next add grows by one step.
  EXPECT_EQ(StringDBAdd(&db, "c"), 3u);
  EXPECT_EQ(db.AllocSize, 4100u);
}

TEST_F(StringQueue, StringsOneStepCannotHoldGetTheRoomTheyNeed) {
  ASSERT_TRUE(StringDBInit(&db, 0));
  EXPECT_EQ(StringDBAdd(&db, "x"), 0u);  // 2 x 1 would leave no room for the end mark
  EXPECT_GE(db.AllocSize, 3u);
  EXPECT_EQ(at(0), "x");
  EXPECT_TRUE(db.WritePtr < db.Data + db.AllocSize);

  std::string huge(10000, 'h');
  uint32_t offset = StringDBAdd(&db, huge.c_str());
  EXPECT_EQ(offset, 2u);
  EXPECT_EQ(at(offset), huge);
  EXPECT_EQ(at(0), "x");
  EXPECT_GE(db.AllocSize, 2u + huge.size() + 2u);
  EXPECT_EQ(StringDBAdd(&db, "after"), offset + huge.size() + 1);
}

TEST_F(StringQueue, EmptyStringIsNotStored) {
  ASSERT_TRUE(StringDBInit(&db, 64));
  StringDBAdd(&db, "a");
  EXPECT_EQ(StringDBAdd(&db, ""), 0u);
  StringDBAdd(&db, "b");
  std::vector<std::string> read;
  for (; !StringDBEOF(&db); StringDBNext(&db)) read.push_back(at(StringDBCurrent(&db)));
  EXPECT_EQ(read, (std::vector<std::string>{"a", "b"}));
}

TEST_F(StringQueue, AddingAPartOfAStoredStringSurvivesTheMove) {
  ASSERT_TRUE(StringDBInit(&db, 16));
  StringDBAdd(&db, "/DataFiles/Sub");
  // The source lies in the buffer that the growth releases.
  EXPECT_EQ(StringDBAdd(&db, StringDBGet(&db, 10)), 15u);
  EXPECT_EQ(at(15), "/Sub");
}

TEST_F(StringQueue, FailedGrowthLeavesTheRecordUnchanged) {
  ASSERT_TRUE(StringDBInit(&db, 8));
  StringDBAdd(&db, "abc");
  StringDB before = db;
  sim::fault(sim::Call::TAP_MemAlloc).nth(1);
  EXPECT_EQ(StringDBAdd(&db, "defgh"), 0u);
  EXPECT_EQ(db.AllocSize, before.AllocSize);
  EXPECT_EQ(db.Data, before.Data);
  EXPECT_EQ(db.ReadPtr, before.ReadPtr);
  EXPECT_EQ(db.WritePtr, before.WritePtr);
  EXPECT_EQ(at(0), "abc");
  EXPECT_EQ(StringDBAdd(&db, "defgh"), 4u);  // the allocator is back
}

TEST_F(StringQueue, FailedInitLeavesARecordWithoutBufferThatStillWorks) {
  sim::fault(sim::Call::TAP_MemAlloc).nth(1);
  EXPECT_FALSE(StringDBInit(&db, 1024));
  EXPECT_EQ(db.Data, nullptr);
  EXPECT_TRUE(StringDBEOF(&db));
  // Adding without looking at the result of the init, as the folder walk does.
  EXPECT_EQ(StringDBAdd(&db, "/DataFiles"), 0u);
  ASSERT_NE(db.Data, nullptr);
  EXPECT_EQ(db.AllocSize, 20u);
  EXPECT_EQ(at(0), "/DataFiles");
  EXPECT_FALSE(StringDBEOF(&db));
}

TEST_F(StringQueue, RecordWithSizeButNoBufferIsNotWrittenThrough) {
  db.AllocSize = 1024;  // as a failed init elsewhere might leave it
  EXPECT_EQ(StringDBAdd(&db, "/DataFiles"), 0u);
  ASSERT_NE(db.Data, nullptr);
  EXPECT_EQ(at(0), "/DataFiles");
}

TEST_F(StringQueue, DestroyLeavesAnEmptyReusableRecord) {
  ASSERT_TRUE(StringDBInit(&db, 32));
  StringDBAdd(&db, "a");
  EXPECT_TRUE(StringDBDestroy(&db));
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  EXPECT_TRUE(StringDBEOF(&db));
  EXPECT_EQ(StringDBCurrent(&db), 0u);
  EXPECT_EQ(StringDBGet(&db, 0), nullptr);
  EXPECT_EQ(db.AllocSize, 0u);
  EXPECT_EQ(StringDBAdd(&db, "again"), 0u);
  EXPECT_EQ(at(0), "again");
}

TEST_F(StringQueue, NullRecordAndNullStringAreAnsweredWithoutEffect) {
  EXPECT_FALSE(StringDBInit(nullptr, 16));
  EXPECT_EQ(StringDBAdd(nullptr, "a"), 0u);
  EXPECT_EQ(StringDBCurrent(nullptr), 0u);
  EXPECT_TRUE(StringDBEOF(nullptr));
  EXPECT_EQ(StringDBGet(nullptr, 0), nullptr);
  EXPECT_EQ(StringDBNext(nullptr), 0u);
  EXPECT_FALSE(StringDBDestroy(nullptr));
  ASSERT_TRUE(StringDBInit(&db, 16));
  EXPECT_EQ(StringDBAdd(&db, nullptr), 0u);
  EXPECT_EQ(db.WritePtr, db.Data);
  EXPECT_EQ(StringDBGet(&db, 16), nullptr) << "offsets outside the buffer give no pointer";
}

}  // namespace
