// The built module file as the loader sees it: header sections, needed libraries, init entry.
// (The header objects themselves are checked here, in the file, not in memory.)
#include <algorithm>

#include "e2e.h"
#include "tests/elf/tapcheck.h"

namespace {

using namespace e2e;
namespace elf = sim::elf;

class ModuleFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(file_.Load(MODULE_PATH, &error) && file_.ReadLinkage(&error)) << error;
    ASSERT_TRUE(file_.is64()) << "the PC build is a 64-bit object";
  }
  const elf::Section *Section(const std::string &name) const { return file_.section(name); }
  std::string Bytes(const elf::Section *s) const {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(file_.Contents(*s, &bytes)) << s->name;
    return std::string(bytes.begin(), bytes.end());
  }

  elf::File file_;
};

// The seven sections, each one exported object of its size, the texts exact and padded
// with zeros, the build date with single blanks.
TEST_F(ModuleFile, CarriesTheSevenHeaderSections) {
  const tapcheck::Problems problems = tapcheck::CheckHeaderSections(file_);
  std::string text;
  for (const std::string &p : problems) text += "\n  " + p;
  EXPECT_TRUE(problems.empty()) << text;
  ASSERT_NE(Section("._tap_id"), nullptr);
  EXPECT_NE(Bytes(Section("._tap_id")), std::string(4, '\0'));
}

TEST_F(ModuleFile, NeedsTheHostLibraryAndNoCxxRuntimeAndHasOurInit) {
  const std::vector<std::string> needed = file_.needed();
  EXPECT_NE(std::find(needed.begin(), needed.end(), "/tapapi/TMS/libtap.so"), needed.end());
  for (const std::string &n : needed) {
    EXPECT_EQ(n.find("stdc++"), std::string::npos) << n;
    EXPECT_EQ(n.find("libgcc_s"), std::string::npos) << n;
  }
  EXPECT_FALSE(file_.dynamic_values(elf::DT_INIT).empty());
  for (const char *name : {"__TAP_Init_", "TAP_Main", "TAP_EventHandler", "__builtin_new", "_init", "_finit", "abort",
                           "__tap_Header__"}) {
    const elf::Symbol *s = file_.dynamic_symbol(name);
    EXPECT_TRUE(s != nullptr && s->defined()) << name;
  }
}

}  // namespace
