// tapsim as a user runs it: arguments, loading, the event loop and what the module sees.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "tests/common/files.h"

namespace {

using testfiles::Quote;
using testfiles::ReadFile;

std::string module(const std::string &variant) {
  return std::string(TEST_MODULE_DIR) + "/sim_test_module_" + variant + ".so";
}

class TapsimTest : public ::testing::Test {
 protected:
  // Runs a program with arguments (already quoted as needed); keeps stdout and stderr.
  int run(const std::string &program, const std::string &args) {
    const std::string cmd = Quote(program) + " " + args + " >" + Quote(root_ + "/out") + " 2>" + Quote(root_ + "/err");
    const int status = std::system(cmd.c_str());
    out_ = ReadFile(root_ + "/out");
    err_ = ReadFile(root_ + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int tapsim(const std::string &args) { return run(TAPSIM, args); }

  // Exactly one line on standard error.
  void expect_one_line_error(const std::string &part) {
    EXPECT_NE(err_.find(part), std::string::npos) << err_;
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
  }

  testfiles::TempDir dir_{"quarrow tapsim."};
  std::string root_ = dir_.path(), disk_ = root_ + "/disk", out_, err_;
};

TEST_F(TapsimTest, InfoPrintsTheHeaderFields) {
  ASSERT_EQ(tapsim("--info " + Quote(module("good"))), 0) << err_;
  EXPECT_EQ(out_,
            "header: TFAPMIPS 16\n"
            "id: 0x2a5e1001\n"
            "program name: Sim Test V1.0\n"
            "program version: V1.0\n"
            "author: Test Bench\n"
            "description: Drives the simulator\n"
            "etcinfo: Dec 8 2026\n");
}

TEST_F(TapsimTest, ModulesThatCannotBeLoadedExitWithThree) {
  EXPECT_EQ(tapsim("--disk " + Quote(disk_) + " " + Quote(root_ + "/missing.so")), 3);
  expect_one_line_error("missing.so");

  std::ofstream(root_ + "/text.so") << "not a module at all, just some text that is long enough";
  EXPECT_EQ(tapsim("--disk " + Quote(disk_) + " " + Quote(root_ + "/text.so")), 3);
  expect_one_line_error("not an ELF file");

  EXPECT_EQ(tapsim("--info " + Quote(module("no_header"))), 3);
  expect_one_line_error("._tap_header is missing");

  EXPECT_EQ(tapsim("--disk " + Quote(disk_) + " " + Quote(module("no_init"))), 3);
  expect_one_line_error("__TAP_Init_");

  EXPECT_EQ(tapsim("--disk " + Quote(disk_) + " " + Quote(module("unresolved"))), 3);
  expect_one_line_error("quarrow_no_such_function");
  EXPECT_EQ(out_.find("loaded:"), std::string::npos);
}

TEST_F(TapsimTest, WithoutLibtapTheModuleDoesNotLoad) {
  // A copy of tapsim with no libtap.so beside it (and none at /tapapi/TMS).
  struct stat st;
  if (stat("/tapapi/TMS/libtap.so", &st) == 0) GTEST_SKIP() << "/tapapi/TMS/libtap.so exists on this machine";
  const std::string copy = root_ + "/tapsim";
  ASSERT_EQ(std::system(("cp " + Quote(TAPSIM) + " " + Quote(copy)).c_str()), 0);
  EXPECT_EQ(run(copy, "--disk " + Quote(disk_) + " --until 1 " + Quote(module("good"))), 3);
  expect_one_line_error("libtap.so");
}

TEST_F(TapsimTest, BadArgumentsExitWithTwo) {
  const std::string m = Quote(module("good"));
  const std::string d = "--disk " + Quote(disk_) + " ";
  for (const std::string &args :
       {std::string(""), d, d + "--frobnicate " + m, d + "--key 0x1001E " + m, d + "--key zz@5 " + m,
        d + "--key 1@5x " + m, d + "--until 10 --start-tick 20 " + m, d + "--until 10 --key 1@11 " + m,
        d + "--uptime fast " + m, d + "--clock 2026-13-01 " + m, m, d + m + " " + m, d + "--until"}) {
    EXPECT_EQ(tapsim(args), 2) << args;
    EXPECT_EQ(err_.rfind("tapsim: ", 0), 0u) << args << ": " << err_;
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << args << ": " << err_;
  }
}

// The uptime given to tapsim is what the module's GetUptime reads, truncated to hundredths.
TEST_F(TapsimTest, UptimeReachesTheModuleInHundredths) {
  const std::pair<const char *, const char *> cases[] = {
      {"35.27", "GetUptime 3527\n"}, {"0.29", "GetUptime 28\n"}, {"600", "GetUptime 60000\n"}};
  for (const auto &[uptime, expected] : cases) {
    const std::string console = root_ + "/uptime-console.txt";
    std::remove(console.c_str());
    ASSERT_EQ(tapsim("--disk " + Quote(disk_) + " --console " + Quote(console) + " --uptime " + uptime +
                     " --until 1 " + Quote(module("good"))),
              0)
        << err_;
    const std::string text = ReadFile(console);
    EXPECT_NE(text.find(expected), std::string::npos) << uptime << ": " << text;
  }
}

TEST_F(TapsimTest, RunsTheEventLoopWithKeysOnTheirTicks) {
  const std::string console = root_ + "/console.txt";
  ASSERT_EQ(tapsim("--disk " + Quote(disk_) + " --console " + Quote(console) +
                   " --uptime 35.27 --start-tick 100 --until 300 --clock '2024-02-29 23:59:59'"
                   " --key 0x1001E@150 --key 66@150 --key 0x10@300 " +
                   Quote(module("good"))),
            0)
      << err_;
  EXPECT_EQ(out_,
            "loaded: Sim Test V1.0\n"
            "tick 150: key 0x1001e -> 0x0\n"
            "tick 150: key 0x42 -> 0x42\n"
            "tick 300: key 0x10 -> 0x10\n"
            "stopped at tick 300\n");
  const std::string text = ReadFile(console);
  EXPECT_NE(text.find("main at tick 100\n"), std::string::npos) << text;
  EXPECT_NE(text.find("uptime 35.27 "), std::string::npos) << text;
  EXPECT_NE(text.find("device 2050\n"), std::string::npos) << text;
  EXPECT_NE(text.find("disk entries 4\n"), std::string::npos) << text;  // ., .., ProgramFiles, DataFiles
  EXPECT_NE(text.find("echo from main"), std::string::npos) << text;
  EXPECT_EQ(text.find('\0'), std::string::npos);
  // Keys come before the idle event of their tick: 50 idles (ticks 100..149) had run.
  EXPECT_NE(text.find("key 0x1001e at tick 150 after 50 idles\n"), std::string::npos) << text;
  EXPECT_NE(text.find("key 0x10 at tick 300 after 200 idles\n"), std::string::npos) << text;
  EXPECT_EQ(ReadFile(disk_ + "/DataFiles/clock.txt"), "2024-02-29 23:59:59\n");
}

TEST_F(TapsimTest, TimeGoesOnAfterAModuleSleeps) {
  ASSERT_EQ(tapsim("--disk " + Quote(disk_) + " --until 1000 --key 0x50@10 --key 1@200 --key 2@700 " +
                   Quote(module("good"))),
            0)
      << err_;
  // The sleep of 500 ticks at tick 10 carries the loop to 510; the key due at 200 comes then.
  EXPECT_EQ(out_,
            "loaded: Sim Test V1.0\n"
            "tick 10: key 0x50 -> 0x50\n"
            "tick 510: key 0x1 -> 0x1\n"
            "tick 700: key 0x2 -> 0x2\n"
            "stopped at tick 1000\n");
}

TEST_F(TapsimTest, DefaultUptimeConsoleAndAFreshDisk) {
  ASSERT_EQ(tapsim("--disk " + Quote(disk_) + " --until 1 --key 0x44@1 " + Quote(module("good"))), 0) << err_;
  EXPECT_NE(err_.find("uptime 600 "), std::string::npos) << err_;  // console defaults to stderr
  EXPECT_NE(err_.find("entry 224 DataFiles\nentry 224 ProgramFiles\n"), std::string::npos) << err_;
}

TEST_F(TapsimTest, ScreenshotsArePngFilesOfTheScreen) {
  const std::string before = root_ + "/before.png", after = root_ + "/after.png";
  const int status = tapsim("--disk " + Quote(disk_) + " --until 5 --key 0x42@3 --screenshot " + Quote(before) +
                            "@2 --screenshot " + Quote(after) + "@3 " + Quote(module("good")));
  if (status == 2 && err_.find("PNG support") != std::string::npos) GTEST_SKIP() << "tapsim built without libpng";
  ASSERT_EQ(status, 0) << err_;
  const std::string a = ReadFile(before), b = ReadFile(after);
  ASSERT_GT(a.size(), 8u);
  EXPECT_EQ(a.substr(1, 3), "PNG");
  EXPECT_EQ(b.substr(1, 3), "PNG");
  EXPECT_NE(a, b);  // the red box of key 0x42 is on the second one

  EXPECT_EQ(tapsim("--disk " + Quote(disk_) + " --console " + Quote(root_ + "/c") + " --until 5 --screenshot " +
                   Quote(root_ + "/no/dir/x.png") + "@1 " +
                   Quote(module("good"))),
            1);
  expect_one_line_error("x.png");
}

}  // namespace
