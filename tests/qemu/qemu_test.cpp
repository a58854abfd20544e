// The file that goes onto the recorder, run: the mipsel tapsim loads quarrow.tap under
// qemu-mipsel and lives through the same recovery as the PC build's end-to-end test, with
// the same files, settings, log and output as this build's tapsim and quarrow.so.
#include "tests/elf/mipsel_build.h"

// The shared end-to-end helpers expect the PC build's loader and module.
#define TAPSIM_PATH NATIVE_TAPSIM
#define MODULE_PATH NATIVE_MODULE
#include "tests/e2e/e2e.h"
#include "tests/e2e/folders.h"

namespace {

using namespace e2e;

class QemuTap : public ::testing::Test {
 protected:
  void SetUp() override {
    if (mipsel::CrossCompiler().empty())
      GTEST_SKIP() << "mipsel-linux-gnu-g++ is not installed, so there is no quarrow.tap to run";
    const std::string qemu = mipsel::FindProgram("qemu-mipsel");
    if (qemu.empty()) GTEST_SKIP() << "qemu-mipsel is not installed (Debian package qemu-user)";
    const auto manifest = mipsel::Manifest();
    const std::string tap = mipsel::TapPath();
    ASSERT_TRUE(mipsel::IsFile(tap)) << tap << " is missing: build the mipsel preset first (make tap)";
    ASSERT_TRUE(manifest.count("tapsim") && mipsel::IsFile(manifest.at("tapsim")))
        << "the mipsel tapsim is not built in " << mipsel::BuildDir();
    const std::string sysroot = manifest.count("sysroot") ? manifest.at("sysroot") : "";
    ASSERT_TRUE(mipsel::IsFile(sysroot + "/lib/ld.so.1") && mipsel::IsFile(sysroot + "/tapapi/TMS/libtap.so"))
        << "the qemu sysroot " << sysroot << " is incomplete (target quarrow_sysroot)";
    mips_.command = Quote(qemu) + " -L " + Quote(sysroot) + " " + Quote(manifest.at("tapsim"));
    mips_.module = tap;
  }
  void TearDown() override {
    if (HasFailure()) dir_.Keep();
  }

  testfiles::TempDir dir_{"quarrow-qemu-"};
  Tapsim mips_;
};

TEST_F(QemuTap, GivesTheOrphanedRecordingsBackExactlyAsThePcBuild) {
  const Outcome mips = RunScenario(mips_, dir_.path() + "/mips");
  ExpectRecovered(mips);
  const Outcome pc = RunScenario(Tapsim{}, dir_.path() + "/pc");

  ASSERT_EQ(mips.starts.size(), pc.starts.size());
  for (size_t i = 1; i < pc.starts.size(); ++i) {  // the header fields carry each build's date
    SCOPED_TRACE("start " + std::to_string(i));
    EXPECT_EQ(mips.starts[i].status, pc.starts[i].status);
    EXPECT_EQ(mips.starts[i].output, pc.starts[i].output);
  }
  EXPECT_EQ(mips.Comparable(mips.log), pc.Comparable(pc.log));
  EXPECT_EQ(mips.Comparable(mips.console), pc.Comparable(pc.console));
  EXPECT_EQ(mips.ini, pc.ini);
  EXPECT_EQ(mips.owedIni, pc.owedIni);
  EXPECT_EQ(mips.db_names, pc.db_names);
  EXPECT_TRUE(mips.db == pc.db) << "the fingerprints' samples or companions differ";
  EXPECT_EQ(mips.zorvane, pc.zorvane);
  EXPECT_EQ(mips.quarrow_left, pc.quarrow_left);
  EXPECT_FALSE(pc.log.empty());
}

// The host that behaves otherwise wherever the plug-in API allows it.
TEST_F(QemuTap, UnderTheStrictHostEveryOrphanComesBack) {
  const Outcome run = RunScenario(mips_, dir_.path() + "/strict", "--host strict");
  for (const Result &r : run.starts) ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_FALSE(run.orphans.empty());
  for (const auto &[hash, path] : run.orphans) {
    const std::string name = fs::path(path).filename();
    ASSERT_EQ(run.zorvane.count(name), 1u) << name << " not back\n" << run.log;
    EXPECT_EQ(run.zorvane.at(name), run.files.at(path)) << name;
  }
  EXPECT_EQ(run.log.find("failed"), std::string::npos) << run.log;
  EXPECT_TRUE(run.quarrow_left.empty());
}

// Recordings back into their folders, on the recorder's CPU and under the strict host:
// every case ends as in the PC build.
TEST_F(QemuTap, UnderTheStrictHostFilesGoBackIntoTheirFolders) {
  folders::ExpectFolderCases(mips_, "--host strict");
}

}  // namespace
