// A fresh simulated recorder on a temporary disk for each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "host/tap.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

class SimTest : public SimDiskTest {
 protected:
  // A blank in the name proves that paths are quoted for the shell.
  SimTest() : SimDiskTest("quarrow sim.", "/disk") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    sim::set_console_path(root_ + "/console.txt");
    ASSERT_FALSE(sim::disk().empty());
  }
  void TearDown() override {
    sim::reset();
    if (!RemoveRoot()) ADD_FAILURE() << "could not remove " << root_;
  }

  static void write_file(const std::string &real, const std::string &content) {
    std::ofstream(real, std::ios::binary) << content;
  }
  static std::string read_file(const std::string &real) {
    std::ifstream in(real, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static bool exists(const std::string &real) {
    struct stat st;
    return lstat(real.c_str(), &st) == 0;
  }

};
