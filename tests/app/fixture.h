// Shared set-up for the application's in-process tests: a fresh simulated recorder on
// a temporary disk, and helpers to lay out files and read what the module wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/quarrow.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace fs = std::filesystem;

class AppTest : public SimDiskTest {
 public:
  AppTest() : SimDiskTest("quarrow-app-") {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    sim::set_clock(2026, 12, 7, 12, 0, 0);
    fs::create_directories(Real("/ProgramFiles/Settings/Zorvane"));
  }

  // A file of `size` bytes; byte i is (i * 7 + seed) & 0xFF, so every offset differs.
  void MakeFile(const std::string &hostPath, size_t size, uint8_t seed) const {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    Write(hostPath, bytes);
  }

  // The 4 bytes at `offset` of a disk file, as one word exactly as stored.
  uint32_t Word(const std::string &hostPath, size_t offset) const {
    std::string bytes = Read(hostPath);
    uint32_t w = 0;
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i)
      w |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
    return w;
  }
};
