// The built module file as the loader sees it: header sections, needed libraries, init entry.
#include <algorithm>
#include <regex>

#include "e2e.h"
#include "sim/elf_header.h"

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

std::string Padded(const std::string &text, size_t size) { return text + std::string(size - text.size(), '\0'); }

TEST_F(ModuleFile, CarriesTheSevenHeaderSections) {
  struct Want {
    const char *section;
    size_t size;
    const char *text;
  };
  const Want wants[] = {
      {"._tap_program_name", 64, "Quarrow V2.0"},
      {"._tap_program_version", 64, "V2.0"},
      {"._tap_author_name", 64, "Tamorbel"},
      {"._tap_description", 128, "Move Quarrow files into DataFiles"},
  };
  for (const Want &w : wants) {
    SCOPED_TRACE(w.section);
    const elf::Section *s = Section(w.section);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Bytes(s), Padded(w.text, w.size));
  }
  const elf::Section *header = Section("._tap_header");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(Bytes(header), Padded(std::string("TFAPMIPS\x10", 9), 32));
  const elf::Section *id = Section("._tap_id");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->size, 4u);
  const elf::Section *etc = Section("._tap_etcinfo");
  ASSERT_NE(etc, nullptr);
  EXPECT_EQ(etc->size, 64u);
  std::string date = Bytes(etc).c_str();
  EXPECT_TRUE(std::regex_match(date, std::regex("[A-Z][a-z]{2} [1-9][0-9]? [0-9]{4}"))) << date;
  EXPECT_EQ(Bytes(etc), Padded(date, 64));
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
