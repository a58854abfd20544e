// Recovery on a real file system: orphan recordings on an ext4 image, let e2fsck
// reconnect them, and either hand its recovery folder to the module as /Quarrow or let
// quarrow-db recover take them from lost+found.
#include <unistd.h>

#include "e2e.h"

namespace {

using namespace e2e;

bool HaveTool(const char *tool) {
  return Shell(std::string("command -v ") + tool + " >/dev/null || test -x /usr/sbin/" + tool + " || test -x /sbin/" + tool)
             .status == 0;
}

class Ext4Recovery : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to loop-mount an ext4 image";
    for (const char *tool : {"mkfs.ext4", "debugfs", "e2fsck", "mount", "umount", "losetup"})
      if (!HaveTool(tool)) GTEST_SKIP() << "needs " << tool;
    if (!fs::exists("/dev/loop-control")) GTEST_SKIP() << "no loop devices (/dev/loop-control missing)";
    root_ = testfiles::MakeTempDir("quarrow-ext4-");
    ASSERT_FALSE(root_.empty());
    image_ = root_ + "/disk.img";
    mnt_ = root_ + "/mnt";
    fs::create_directories(mnt_);
    Result mk = Shell("truncate -s 64M " + Quote(image_) + " && PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F " +
                    Quote(image_));
    ASSERT_EQ(mk.status, 0) << mk.output;
    if (!Mount()) GTEST_SKIP() << "cannot loop-mount an image here: " << last_.output;
  }
  void TearDown() override {
    if (mounted_) Unmount();
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  bool Mount() {
    last_ = Shell("mount -o loop " + Quote(image_) + " " + Quote(mnt_));
    mounted_ = last_.status == 0;
    return mounted_;
  }
  bool Unmount() {
    last_ = Shell("umount " + Quote(mnt_));
    if (last_.status == 0) mounted_ = false;
    return !mounted_;
  }
  Result Debugfs(const std::string &request) {
    return Shell("PATH=$PATH:/sbin:/usr/sbin debugfs -w -R " + Quote(request) + " " + Quote(image_));
  }

  // Recordings scanned by the module, then three of them orphaned on the unmounted image
  // and reconnected by a real e2fsck into lost+found; mounted again.
  void OrphanThroughFsck() {
    const std::vector<Recording> recs = {
        {"Nachrichten.rec", true, true},     {"Spielfilm am Abend.rec", true, true},
        {"Natur/Die K\xFCste.rec", true, false}, {"Natur/Wald.rec", true, true},
        {"Sport.rec", false, false},
    };
    files = MakeRecordings(mnt_, recs);
    sim.disk = mnt_;
    sim.console = root_ + "/console.txt";
    Result first = sim.Start("35.27", 12100);
    ASSERT_EQ(first.status, 0) << first.output;
    ASSERT_EQ(DatabaseNames(mnt_ + "/ProgramFiles/Settings/Zorvane/Quarrow.db").size(), recs.size());

    // Orphan every file of three recordings: directory entries gone, inodes kept.
    for (const auto &[path, bytes] : files)
      if (path.find("Sport.rec") == std::string::npos && path.find("/Nachrichten.rec") == std::string::npos)
        orphaned.push_back(path);
    for (const std::string &path : orphaned) inodes[path] = Inode(mnt_ + path);
    ASSERT_TRUE(Unmount()) << last_.output;
    for (const std::string &path : orphaned) {
      Result r = Debugfs("unlink \"" + path + "\"");  // names hold blanks
      ASSERT_EQ(r.status, 0) << r.output;
      // One link with no entry pointing at it: e2fsck connects it to its recovery folder.
      r = Debugfs("set_inode_field <" + std::to_string(inodes[path]) + "> links_count 1");
      ASSERT_EQ(r.status, 0) << r.output;
    }
    Result fsck = Shell("PATH=$PATH:/sbin:/usr/sbin e2fsck -fy " + Quote(image_));
    ASSERT_LE(fsck.status, 1) << fsck.output;  // 1: errors corrected
    ASSERT_TRUE(Mount()) << last_.output;
    for (const std::string &path : orphaned) {
      ASSERT_FALSE(fs::exists(mnt_ + path)) << path;
      ASSERT_TRUE(fs::exists(mnt_ + "/lost+found/#" + std::to_string(inodes[path]))) << path;
    }
  }

  Tapsim sim;
  std::map<std::string, std::string> files;  // path below the disk -> contents
  std::vector<std::string> orphaned;
  std::map<std::string, uint64_t> inodes;
  std::string root_, image_, mnt_;
  bool mounted_ = false;
  Result last_;
};

TEST_F(Ext4Recovery, FsckReconnectedFilesGetTheirNamesBack) {
  ASSERT_NO_FATAL_FAILURE(OrphanThroughFsck());
  fs::rename(mnt_ + "/lost+found", mnt_ + "/Quarrow");  // same inodes, the module's name

  // The owner's PC tool predicts the recovery before the module makes it.
  Result planned = QuarrowDb("plan --disk " + Quote(mnt_) + " --json");
  ASSERT_EQ(planned.status, 0) << planned.output;
  const auto plan = ParsePlan(planned.output);
  Result second = sim.Start("600", 200);
  ASSERT_EQ(second.status, 0) << second.output;
  for (const std::string &path : orphaned) {
    const std::string name = fs::path(path).filename();
    std::string back = mnt_ + "/DataFiles/Zorvane/" + name;
    SCOPED_TRACE(path);
    EXPECT_EQ(Inode(back), inodes[path]);
    EXPECT_EQ(ReadFile(back), files.at(path));
    auto row = plan.find("Quarrow/#" + std::to_string(inodes[path]));
    ASSERT_NE(row, plan.end()) << planned.output;
    EXPECT_EQ(row->second.newName, name) << planned.output;
  }
  EXPECT_EQ(ReadFile(mnt_ + "/DataFiles/Sport.rec"), files.at("/DataFiles/Sport.rec"));
  EXPECT_EQ(fs::is_empty(mnt_ + "/Quarrow"), true);
}

// What a PC user does: one quarrow-db recover on the checked, mounted disk.
TEST_F(Ext4Recovery, RecoverOnThePcNamesWhatTheCheckerReconnected) {
  ASSERT_NO_FATAL_FAILURE(OrphanThroughFsck());
  Result r = QuarrowDb("recover --yes --disk " + Quote(mnt_));
  ASSERT_EQ(r.status, 0) << r.output;
  size_t recordings = 0;
  for (const std::string &path : orphaned) {
    const std::string name = fs::path(path).filename();
    const std::string back = mnt_ + "/DataFiles/Zorvane/" + name;
    SCOPED_TRACE(path);
    EXPECT_EQ(Inode(back), inodes[path]);
    EXPECT_EQ(ReadFile(back), files.at(path));
    if (fs::path(path).extension() == ".rec") ++recordings;
  }
  EXPECT_NE(r.output.find("moved " + std::to_string(orphaned.size()) + " files from lost+found"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("recordings named: " + std::to_string(recordings) + "\ncompanions (.inf, .nav) named: " +
                          std::to_string(orphaned.size() - recordings) + "\n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("unknown:"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::is_empty(mnt_ + "/lost+found"));
  EXPECT_TRUE(fs::is_empty(mnt_ + "/Quarrow"));
  EXPECT_FALSE(fs::exists(mnt_ + "/ProgramFiles/Settings/Zorvane/Quarrow.pending"));
  // The recorder's next start finds nothing left to do.
  const std::string log = ReadFile(mnt_ + "/ProgramFiles/Settings/Zorvane/Quarrow.log");
  ASSERT_EQ(sim.Start("600", 200).status, 0);
  EXPECT_EQ(ReadFile(mnt_ + "/ProgramFiles/Settings/Zorvane/Quarrow.log"), log);
}

}  // namespace
