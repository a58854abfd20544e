// A fresh simulated recorder on a temporary disk for each test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

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

  static void write_file(const std::string &real, const std::string &content) { testfiles::WriteFile(real, content); }
  static std::string read_file(const std::string &real) { return testfiles::ReadFile(real); }
  static bool exists(const std::string &real) { return testfiles::EntryExists(real); }
};
