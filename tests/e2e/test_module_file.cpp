// The built module file as the loader sees it: header sections, needed libraries, init entry.
#include <elf.h>

#include <algorithm>
#include <regex>

#include "e2e.h"

namespace {

using namespace e2e;

class ModuleFile : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadFile(MODULE_PATH);
    ASSERT_GE(image_.size(), sizeof(Elf64_Ehdr));
    ASSERT_EQ(image_.compare(0, 4, ELFMAG), 0);
    ASSERT_EQ(image_[EI_CLASS], ELFCLASS64) << "the PC build is a 64-bit object";
    std::memcpy(&eh_, image_.data(), sizeof eh_);
    ASSERT_LE(eh_.e_shoff + static_cast<uint64_t>(eh_.e_shnum) * sizeof(Elf64_Shdr), image_.size());
  }
  const Elf64_Shdr *Section(const std::string &name) const {
    auto *sh = reinterpret_cast<const Elf64_Shdr *>(image_.data() + eh_.e_shoff);
    const char *names = image_.data() + sh[eh_.e_shstrndx].sh_offset;
    for (int i = 0; i < eh_.e_shnum; ++i)
      if (name == names + sh[i].sh_name) return &sh[i];
    return nullptr;
  }
  std::string Bytes(const Elf64_Shdr *s) const { return image_.substr(s->sh_offset, s->sh_size); }

  std::string image_;
  Elf64_Ehdr eh_{};
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
    const Elf64_Shdr *s = Section(w.section);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Bytes(s), Padded(w.text, w.size));
  }
  const Elf64_Shdr *header = Section("._tap_header");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(Bytes(header), Padded(std::string("TFAPMIPS\x10", 9), 32));
  const Elf64_Shdr *id = Section("._tap_id");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->sh_size, 4u);
  const Elf64_Shdr *etc = Section("._tap_etcinfo");
  ASSERT_NE(etc, nullptr);
  EXPECT_EQ(etc->sh_size, 64u);
  std::string date = Bytes(etc).c_str();
  EXPECT_TRUE(std::regex_match(date, std::regex("[A-Z][a-z]{2} [1-9][0-9]? [0-9]{4}"))) << date;
  EXPECT_EQ(Bytes(etc), Padded(date, 64));
}

TEST_F(ModuleFile, NeedsTheHostLibraryAndNoCxxRuntimeAndHasOurInit) {
  const Elf64_Shdr *dyn = Section(".dynamic");
  const Elf64_Shdr *dynstr = Section(".dynstr");
  ASSERT_NE(dyn, nullptr);
  ASSERT_NE(dynstr, nullptr);
  std::vector<std::string> needed;
  bool hasInit = false;
  auto *d = reinterpret_cast<const Elf64_Dyn *>(image_.data() + dyn->sh_offset);
  for (size_t i = 0; i < dyn->sh_size / sizeof(Elf64_Dyn) && d[i].d_tag != DT_NULL; ++i) {
    if (d[i].d_tag == DT_NEEDED) needed.emplace_back(image_.data() + dynstr->sh_offset + d[i].d_un.d_val);
    if (d[i].d_tag == DT_INIT) hasInit = true;
  }
  EXPECT_NE(std::find(needed.begin(), needed.end(), "/tapapi/TMS/libtap.so"), needed.end());
  for (const std::string &n : needed) {
    EXPECT_EQ(n.find("stdc++"), std::string::npos) << n;
    EXPECT_EQ(n.find("libgcc_s"), std::string::npos) << n;
  }
  EXPECT_TRUE(hasInit);
  Result nm = Shell("nm -D --defined-only " + Quote(MODULE_PATH));
  if (nm.status != 0) GTEST_SKIP() << "nm not available: " << nm.output;
  for (const char *sym : {" __TAP_Init_", " TAP_Main", " TAP_EventHandler", " __builtin_new", " _init", " _finit",
                          " abort", " __tap_Header__"})
    EXPECT_NE(nm.output.find(sym), std::string::npos) << sym;
}

}  // namespace
