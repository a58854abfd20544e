// Shared set-up for the application's in-process tests: a fresh simulated recorder on
// a temporary disk, and helpers to lay out files and read what the module wrote.
#pragma once

#include <filesystem>

#include "app/quarrow.h"
#include "tests/common/sim_disk.h"

namespace fs = std::filesystem;

class AppTest : public ModuleDiskTest {
 public:
  explicit AppTest(bool expectReleased = false) : ModuleDiskTest("quarrow-app-", expectReleased) {}
};
