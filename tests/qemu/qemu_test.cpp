// The file that goes onto the recorder, run: the mipsel tapsim loads quarrow.tap under
// qemu-mipsel and lives through the same recovery as the PC build's end-to-end test.
// Both runs, this and the PC build's, must give the same files, settings and log.
#include <algorithm>
#include <cctype>

#include "tests/elf/mipsel_build.h"

// The shared end-to-end helpers expect the PC build's loader and module.
#define TAPSIM_PATH NATIVE_TAPSIM
#define MODULE_PATH NATIVE_MODULE
#include "tests/e2e/e2e.h"

namespace {

using namespace e2e;

constexpr const char *kClock = "2026-12-07 20:00:00";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// How a run loads the module: the command before tapsim's options, and the module.
struct Loader {
  std::string command;
  std::string module;
};

// A database record without its inode numbers, which differ from disk to disk: the three
// samples, which companions were there, and the name.
struct Fingerprint {
  uint32_t rec_sample = 0, inf_sample = 0, nav_sample = 0;
  bool has_inf = false, has_nav = false;
  std::string name;
  bool operator==(const Fingerprint &) const = default;
};

std::vector<Fingerprint> Fingerprints(const std::string &db) {
  std::vector<Fingerprint> out;
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, db.data() + at, 4);
    return v;
  };
  if (db.size() < 12) return out;
  const int32_t count = static_cast<int32_t>(u32(8));
  for (int32_t i = 0; i >= 0 && i < count && 12 + 176 * static_cast<size_t>(i + 1) <= db.size(); ++i) {
    const size_t r = 12 + 176 * static_cast<size_t>(i);
    Fingerprint f;
    f.rec_sample = u32(r + 8);
    f.inf_sample = u32(r + 24);
    f.nav_sample = u32(r + 40);
    f.has_inf = u32(r + 16) != 0 || u32(r + 20) != 0;
    f.has_nav = u32(r + 32) != 0 || u32(r + 36) != 0;
    f.name = std::string(db.c_str() + r + 48);
    out.push_back(f);
  }
  return out;
}

// One start of tapsim: its exit status and what it printed.
struct Started {
  int status = -1;
  std::string output;
};

Started RunStart(const std::string &command) {
  Started r;
  r.status = mipsel::Run(command, &r.output);
  return r;
}

// Everything a run leaves behind that another build's run must match.
struct Outcome {
  std::vector<Started> starts;
  std::map<std::string, std::string> files;    // the recordings as made: path -> bytes
  std::map<std::string, std::string> orphans;  // "#<inode>" -> original path
  std::string unknown;                         // the unrelated file's bytes
  std::string log, ini, console;
  std::vector<std::string> db_names;
  std::vector<Fingerprint> db;
  std::map<std::string, std::string> zorvane;  // what /DataFiles/Zorvane holds: name -> bytes
  std::vector<std::string> quarrow_left;       // names still in /Quarrow

  // Text with every "#<inode>" of this run replaced by the original path it stood for,
  // so that runs on different disks compare.
  std::string Normalised(std::string text) const {
    for (const auto &[hash, path] : orphans) {
      for (size_t at = text.find(hash); at != std::string::npos; at = text.find(hash, at + 1)) {
        const char next = at + hash.size() < text.size() ? text[at + hash.size()] : '\0';
        if (next >= '0' && next <= '9') continue;  // a longer number
        text.replace(at, hash.size(), "#<" + path + ">");
      }
    }
    return text;
  }

  // Normalised, and each run of "recovered" lines sorted: the module renames in the order
  // of the "#<inode>" names, which follows the inode numbers that the disk handed out.
  std::string Comparable(const std::string &text) const {
    std::vector<std::string> lines;
    std::string normalised = Normalised(text);
    for (size_t start = 0; start < normalised.size();) {
      size_t end = normalised.find('\n', start);
      end = end == std::string::npos ? normalised.size() : end + 1;
      lines.push_back(normalised.substr(start, end - start));
      start = end;
    }
    auto recovered = [](const std::string &line) { return line.find(" recovered '") != std::string::npos; };
    for (auto run = lines.begin(); run != lines.end();) {
      if (!recovered(*run)) {
        ++run;
        continue;
      }
      auto end = std::find_if_not(run, lines.end(), recovered);
      std::sort(run, end);
      run = end;
    }
    std::string out;
    for (const std::string &line : lines) out += line;
    return out;
  }
};

std::string Start(const Loader &loader, const std::string &disk, const std::string &console,
                  const std::string &uptime, uint32_t until, const std::string &extra) {
  return loader.command + " --disk " + Quote(disk) + " --uptime " + uptime + " --until " +
         std::to_string(until) + " --clock " + Quote(kClock) + " --console " + Quote(console) + " " + extra +
         " " + Quote(loader.module);
}

// First start soon after power-on, past the first scan; the file-system check orphans the
// recordings into /Quarrow as "#<inode>" (one companion stays, one unrelated file joins);
// the next start moves them out, gives them back, shows the box, and the OK key clears it.
Outcome RunScenario(const Loader &loader, const std::string &root, const std::string &host = "") {
  Outcome out;
  const std::string disk = root + "/disk", console = root + "/console.txt";
  fs::create_directories(disk + "/DataFiles");
  out.files = MakeRecordings(disk, {{"Tatort.rec", true, true},
                                    {"Die Sendung mit der Maus.rec", true, true},
                                    {"K\xE4se und M\xFC\x64igkeit.rec", true, false},
                                    {"Serien/Folge 1.rec", true, true},
                                    {"Serien/Folge 2.rec", false, false}});
  out.starts.push_back(RunStart(Start(loader, disk, console, "35.27", 12100, host)));

  fs::create_directories(disk + "/Quarrow");
  for (const auto &[path, bytes] : out.files) {
    if (path == "/DataFiles/Tatort.rec.nav") continue;
    const std::string hash = "#" + std::to_string(Inode(disk + path));
    fs::rename(disk + path, disk + "/Quarrow/" + hash);
    out.orphans[hash] = path;
  }
  out.unknown = "not a recording at all, twenty-seven bytes";
  WriteFile(disk + "/Quarrow/#999999", out.unknown);

  out.starts.push_back(RunStart(Start(loader, disk, console, "600", 300, host + " --key 0x1001E@200 --key 0x1001E@250")));

  const std::string settings = disk + "/ProgramFiles/Settings/Zorvane/";
  out.log = ReadFile(settings + "Quarrow.log");
  out.ini = ReadFile(settings + "Quarrow.ini");
  out.console = ReadFile(console);
  out.db_names = DatabaseNames(settings + "Quarrow.db");
  out.db = Fingerprints(ReadFile(settings + "Quarrow.db"));
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(disk + "/DataFiles/Zorvane", ec))
    out.zorvane[e.path().filename()] = ReadFile(e.path());
  for (const auto &e : fs::directory_iterator(disk + "/Quarrow", ec)) out.quarrow_left.push_back(e.path().filename());
  return out;
}

class QemuTap : public ::testing::Test {
 protected:
  void SetUp() override {
    if (mipsel::CrossCompiler().empty())
      GTEST_SKIP() << "mipsel-linux-gnu-g++ is not installed, so there is no quarrow.tap to run";
    qemu_ = mipsel::FindProgram("qemu-mipsel");
    if (qemu_.empty()) GTEST_SKIP() << "qemu-mipsel is not installed (Debian package qemu-user)";
    const auto manifest = mipsel::Manifest();
    const std::string tap = mipsel::TapPath();
    ASSERT_TRUE(mipsel::IsFile(tap)) << tap << " is missing: build the mipsel preset first (make tap)";
    ASSERT_TRUE(manifest.count("tapsim") && mipsel::IsFile(manifest.at("tapsim")))
        << "the mipsel tapsim is not built in " << mipsel::BuildDir();
    const std::string sysroot = manifest.count("sysroot") ? manifest.at("sysroot") : "";
    ASSERT_TRUE(mipsel::IsFile(sysroot + "/lib/ld.so.1") && mipsel::IsFile(sysroot + "/tapapi/TMS/libtap.so"))
        << "the qemu sysroot " << sysroot << " is incomplete (target quarrow_sysroot)";
    mips_ = {Quote(qemu_) + " -L " + Quote(sysroot) + " " + Quote(manifest.at("tapsim")), tap};

    char tmpl[] = "/tmp/quarrow-qemu-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty() && !HasFailure()) fs::remove_all(root_, ec);
  }

  std::string qemu_, root_;
  Loader mips_;
};

TEST_F(QemuTap, GivesTheOrphanedRecordingsBack) {
  const Outcome run = RunScenario(mips_, root_ + "/mips");
  ASSERT_EQ(run.starts.size(), 2u);
  for (const Started &r : run.starts) {
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("loaded: Quarrow V2.0"), std::string::npos) << r.output;
  }
  EXPECT_NE(run.starts[0].output.find("stopped at tick 12100"), std::string::npos) << run.starts[0].output;
  const std::string second = Lower(run.starts[1].output);
  EXPECT_NE(second.find("tick 200: key 0x1001e -> 0x0"), std::string::npos) << second;
  EXPECT_NE(second.find("tick 250: key 0x1001e -> 0x1001e"), std::string::npos)
      << "the box is gone after the first OK\n" << second;

  // Every orphan has its name and its very bytes back; the unrelated file is untouched.
  EXPECT_TRUE(run.quarrow_left.empty());
  for (const auto &[hash, path] : run.orphans) {
    const std::string name = fs::path(path).filename();
    SCOPED_TRACE(hash + " " + path);
    EXPECT_EQ(run.zorvane.count(hash), 0u);
    ASSERT_EQ(run.zorvane.count(name), 1u);
    EXPECT_EQ(run.zorvane.at(name), run.files.at(path));
  }
  ASSERT_EQ(run.zorvane.count("#999999"), 1u);
  EXPECT_EQ(run.zorvane.at("#999999"), run.unknown);
  EXPECT_EQ(run.zorvane.size(), run.orphans.size() + 1);
  EXPECT_EQ(run.db_names.size(), 5u);
  // The samples are the recordings' own bytes 8 to 11 (the .nav's 12 to 15), read as stored.
  ASSERT_EQ(run.db.size(), 5u);
  for (const Fingerprint &f : run.db) {
    SCOPED_TRACE(f.name);
    std::string path;
    for (const auto &[p, bytes] : run.files)
      if (fs::path(p).filename() == f.name) path = p;
    ASSERT_FALSE(path.empty());
    const std::string &rec = run.files.at(path);
    EXPECT_EQ(std::memcmp(&f.rec_sample, rec.data() + 8, 4), 0);
    EXPECT_EQ(f.has_inf, run.files.count(path + ".inf") == 1);
    EXPECT_EQ(f.has_nav, run.files.count(path + ".nav") == 1);
    if (f.has_nav) {
      EXPECT_EQ(std::memcmp(&f.nav_sample, run.files.at(path + ".nav").data() + 12, 4), 0);
    }
  }

  // The log tells it in order, with the recorder's clock; the flag is cleared by the key.
  const std::string found = "2026-12-07 20:00:01 found " + std::to_string(run.orphans.size() + 1) +
                            " new files in the Quarrow folder\r\n";
  const size_t found_at = run.log.find(found);
  EXPECT_NE(found_at, std::string::npos) << run.log;
  for (const auto &[hash, path] : run.orphans) {
    const std::string line = "2026-12-07 20:00:01 recovered '" + hash + "' to '" +
                             std::string(fs::path(path).filename()) + "'\r\n";
    const size_t at = run.log.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    EXPECT_GT(at, found_at) << line;
  }
  EXPECT_NE(run.log.find("2026-12-07 20:00:02 Dialog ack'd by user\r\n"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("#999999"), std::string::npos);
  EXPECT_NE(run.console.find("found " + std::to_string(run.orphans.size() + 1)), std::string::npos) << run.console;
  EXPECT_NE(run.ini.find("InformUser=0"), std::string::npos) << run.ini;
}

// The host that behaves otherwise wherever the plug-in API allows it.
TEST_F(QemuTap, UnderTheStrictHostEveryOrphanComesBack) {
  const Outcome run = RunScenario(mips_, root_ + "/strict", "--host strict");
  ASSERT_EQ(run.starts.size(), 2u);
  for (const Started &r : run.starts) ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_FALSE(run.orphans.empty());
  for (const auto &[hash, path] : run.orphans) {
    const std::string name = fs::path(path).filename();
    ASSERT_EQ(run.zorvane.count(name), 1u) << name << " not back\n" << run.log;
    EXPECT_EQ(run.zorvane.at(name), run.files.at(path)) << name;
  }
  EXPECT_EQ(run.log.find("failed"), std::string::npos) << run.log;
  EXPECT_TRUE(run.quarrow_left.empty());
}

TEST_F(QemuTap, LoaderReadsTheHeaderOfTheRealFile) {
  const Started info = RunStart(mips_.command + " --info " + Quote(mips_.module));
  ASSERT_EQ(info.status, 0) << info.output;
  for (const char *field : {"Quarrow V2.0", "V2.0", "Tamorbel", "Move Quarrow files into DataFiles"})
    EXPECT_NE(info.output.find(field), std::string::npos) << field << "\n" << info.output;
}

TEST_F(QemuTap, BehavesExactlyLikeThePcBuild) {
  const Outcome mips = RunScenario(mips_, root_ + "/mips");
  const Outcome pc = RunScenario({Quote(NATIVE_TAPSIM), NATIVE_MODULE}, root_ + "/pc");

  ASSERT_EQ(mips.starts.size(), pc.starts.size());
  for (size_t i = 0; i < pc.starts.size(); ++i) {
    SCOPED_TRACE("start " + std::to_string(i + 1));
    EXPECT_EQ(mips.starts[i].status, pc.starts[i].status);
    EXPECT_EQ(mips.starts[i].output, pc.starts[i].output);
  }
  EXPECT_EQ(mips.Comparable(mips.log), pc.Comparable(pc.log));
  EXPECT_EQ(mips.Comparable(mips.console), pc.Comparable(pc.console));
  EXPECT_EQ(mips.ini, pc.ini);
  EXPECT_EQ(mips.db_names, pc.db_names);
  EXPECT_TRUE(mips.db == pc.db) << "the fingerprints' samples or companions differ";
  EXPECT_EQ(mips.zorvane, pc.zorvane);
  EXPECT_EQ(mips.quarrow_left, pc.quarrow_left);
  EXPECT_FALSE(pc.log.empty());
}

}  // namespace
