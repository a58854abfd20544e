// The log writer: the file, the terminal echo in pieces, stamps and faults.
#include <string>
#include <vector>

#include <unistd.h>

#include "host/os.h"
#include "lib/log/log.h"
#include "tests/common/sim_disk.h"

namespace fs = std::filesystem;

namespace {

constexpr char kStamp[] = "2026-12-07 12:00:00 ";

class Log : public SimDiskTest {
 protected:
  Log() : SimDiskTest("quarrow-log-") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    console_ = root_ + ".console";
    sim::set_console_path(console_);  // keep the echo off the test's standard error
    ASSERT_TRUE(sim::set_clock_text("2026-12-07 12:00:00"));
  }
  void TearDown() override {
    SimDiskTest::TearDown();
    std::error_code ignored;
    fs::remove(console_, ignored);
  }
  // The log file in the module's current folder (/ProgramFiles at start).
  std::string logFile() const { return Read("/ProgramFiles/Quarrow.log"); }
  std::string console_;
};

std::string withNul(const std::string &text) { return text + std::string(1, '\0'); }

TEST_F(Log, AppendsATimestampedLineAndEchoesIt) {
  LogEntry("Quarrow.log", "Quarrow", 1, 5, "hello");
  EXPECT_EQ(logFile(), std::string(kStamp) + "hello\r\n");
  EXPECT_EQ(sim::console_text(), std::string(kStamp) + "Quarrow: hello\n");
  // One device opening per piece, each write ending in a NUL byte.
  std::vector<std::string> expected = {withNul(kStamp), withNul("Quarrow: "), withNul("hello"), withNul("\n")};
  EXPECT_EQ(sim::terminal_writes(), expected);
  EXPECT_EQ(sim::open_files(), 0);
}

TEST_F(Log, LinesAccumulateAndEarlierOnesAreKept) {
  Write("/ProgramFiles/Quarrow.log", "earlier line\r\n");
  LogEntry("Quarrow.log", "Quarrow", 0, 5, "first");
  LogEntry("Quarrow.log", "Quarrow", 0, 5, "second");
  EXPECT_EQ(logFile(), "earlier line\r\n" + std::string(kStamp) + "first\r\n" + kStamp + "second\r\n");
  EXPECT_EQ(sim::console_text(), "");  // no echo asked for
}

TEST_F(Log, MissingTextGivesTheStampAlone) {
  LogEntry("Quarrow.log", "Quarrow", 1, 5, nullptr);
  LogEntry("Quarrow.log", "Quarrow", 1, 5, "");
  EXPECT_EQ(logFile(), std::string(kStamp) + "\r\n" + kStamp + "\r\n");
  EXPECT_EQ(sim::console_text(), std::string(kStamp) + "Quarrow: \n" + kStamp + "Quarrow: \n");
}

TEST_F(Log, TypeZeroHasNoStampAndNoLeadingSpace) {
  LogEntry("Quarrow.log", "Quarrow", 1, 0, "plain");
  EXPECT_EQ(logFile(), "plain\r\n");
  EXPECT_EQ(sim::console_text(), "Quarrow: plain\n");
}

TEST_F(Log, OtherStampTypesFollowTheirLayout) {
  LogEntry("Quarrow.log", nullptr, 1, 1, "short");
  EXPECT_EQ(logFile(), "12:00 short\r\n");
  EXPECT_EQ(sim::console_text(), "12:00 short\n");  // no program name: no prefix
}

TEST_F(Log, NoFileNameMeansEchoOnly) {
  LogEntry(nullptr, "Quarrow", 1, 5, "a");
  LogEntry("", "Quarrow", 1, 5, "b");
  EXPECT_TRUE(fs::is_empty(sim::host_to_real("/ProgramFiles")));
  EXPECT_EQ(sim::console_text(), std::string(kStamp) + "Quarrow: a\n" + kStamp + "Quarrow: b\n");
}

TEST_F(Log, MessagesAreNeverFormatStrings) {
  LogEntry("Quarrow.log", "Quar%srow", 1, 5, "100% %s %n %d");
  EXPECT_EQ(logFile(), std::string(kStamp) + "100% %s %n %d\r\n");
  EXPECT_EQ(sim::console_text(), std::string(kStamp) + "Quar%srow: 100% %s %n %d\n");
}

TEST_F(Log, LongMessagesAreEchoedInPiecesOf510) {
  auto pieceSizes = [](const std::string &message) {
    sim::reset();
    std::vector<size_t> sizes;
    LogEntry(nullptr, nullptr, 1, 0, message.c_str());
    for (const std::string &w : sim::terminal_writes()) sizes.push_back(w.size() - 1);
    return sizes;
  };
  EXPECT_EQ(pieceSizes(std::string(509, 'x')), (std::vector<size_t>{509, 1}));
  EXPECT_EQ(pieceSizes(std::string(510, 'x')), (std::vector<size_t>{510, 1}));
  EXPECT_EQ(pieceSizes(std::string(1000, 'x')), (std::vector<size_t>{510, 490, 1}));
  EXPECT_EQ(pieceSizes(std::string(1020, 'x')), (std::vector<size_t>{510, 510, 1}));

  // The pieces join up to the whole message, which stays untouched.
  std::string message;
  for (int i = 0; i < 1100; ++i) message += static_cast<char>('a' + i % 26);
  const std::string copy = message;
  sim::reset();
  LogEntry(nullptr, nullptr, 1, 0, message.c_str());
  EXPECT_EQ(sim::console_text(), message + "\n");
  EXPECT_EQ(message, copy);
}

TEST_F(Log, OverlongProgramNameIsEchoedWithinTheBuffer) {
  std::string name(3000, 'N');
  LogEntry(nullptr, name.c_str(), 1, 0, "x");
  std::vector<std::string> writes = sim::terminal_writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_LT(writes[0].size(), sizeof puffer);
  EXPECT_EQ(writes[0].substr(writes[0].size() - 3), withNul(": "));
}

TEST_F(Log, LogFileThatCannotBeOpenedStillEchoes) {
  sim::fault(sim::Call::TAP_Hdd_Fopen).nth(1).on("Quarrow.log");
  LogEntry("Quarrow.log", "Quarrow", 1, 5, "lost");
  EXPECT_EQ(logFile(), "");
  EXPECT_EQ(sim::console_text(), std::string(kStamp) + "Quarrow: lost\n");
  EXPECT_EQ(sim::open_files(), 0);
}

TEST_F(Log, EchoGoesToTheFirstDeviceThatOpens) {
  sim::set_console_pts(19);
  PrintNet("last one");
  EXPECT_EQ(sim::terminal_writes(), std::vector<std::string>{withNul("last one")});
  sim::reset();
  sim::set_console_pts(-1);
  PrintNet("dropped");
  LogEntry(nullptr, "Quarrow", 1, 5, "dropped");
  EXPECT_TRUE(sim::terminal_writes().empty());
  EXPECT_EQ(sim::console_text(), "");
}

}  // namespace

// The echo never waits for a terminal and never takes it over: opened write-only,
// non-blocking and not as the controlling terminal; a line that would block is dropped.
TEST_F(Log, AStalledTerminalDropsTheLineInsteadOfWaiting) {
  sim::set_terminal_stalled(true);
  alarm(20);  // a blocking write would wait for ever
  LogEntry("Quarrow.log", "Quarrow", 1, 5, "hello");
  alarm(0);
  EXPECT_EQ(logFile(), std::string(kStamp) + "hello\r\n");
  for (int flags : sim::terminal_open_flags())
    EXPECT_EQ(flags, os::O_WRITEONLY | os::O_NONBLOCKING | os::O_NO_CTTY);
  EXPECT_FALSE(sim::terminal_open_flags().empty());
  EXPECT_EQ(sim::console_text(), "");
  EXPECT_EQ(sim::open_files(), 0);
}
