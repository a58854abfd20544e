// The loader's ELF reader on hand-made files: both classes, and files that lie about their
// own layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sim/elf_header.h"
#include "tests/common/files.h"

namespace {

struct Section {
  std::string name;
  std::vector<uint8_t> data;
};

void put(std::vector<uint8_t> &f, size_t off, uint64_t v, int bytes) {
  if (f.size() < off + static_cast<size_t>(bytes)) f.resize(off + static_cast<size_t>(bytes));
  for (int i = 0; i < bytes; ++i) f[off + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A minimal little-endian ELF file: header, section contents, names, section table.
std::vector<uint8_t> make_elf(bool is64, const std::vector<Section> &sections) {
  const size_t ehsize = is64 ? 64 : 52, shentsize = is64 ? 64 : 40;
  std::vector<uint8_t> f(ehsize, 0);
  std::memcpy(f.data(), "\x7f" "ELF", 4);
  f[4] = is64 ? 2 : 1;
  f[5] = 1;
  f[6] = 1;
  std::vector<size_t> offsets;
  for (const Section &s : sections) {
    offsets.push_back(f.size());
    f.insert(f.end(), s.data.begin(), s.data.end());
  }
  std::string names(1, '\0');
  std::vector<size_t> name_at;
  for (const Section &s : sections) {
    name_at.push_back(names.size());
    names += s.name + '\0';
  }
  const size_t names_name = names.size();
  names += std::string(".shstrtab") + '\0';
  const size_t names_off = f.size();
  f.insert(f.end(), names.begin(), names.end());
  const size_t shoff = f.size();
  const size_t count = sections.size() + 2;  // null section, ours, names
  f.resize(shoff + count * shentsize, 0);
  auto entry = [&](size_t i, size_t name, uint32_t type, size_t off, size_t size) {
    const size_t b = shoff + i * shentsize;
    put(f, b, name, 4);
    put(f, b + 4, type, 4);
    put(f, b + (is64 ? 0x18 : 0x10), off, is64 ? 8 : 4);
    put(f, b + (is64 ? 0x20 : 0x14), size, is64 ? 8 : 4);
  };
  for (size_t i = 0; i < sections.size(); ++i) entry(i + 1, name_at[i], 1, offsets[i], sections[i].data.size());
  entry(count - 1, names_name, 3, names_off, names.size());
  put(f, is64 ? 0x28 : 0x20, shoff, is64 ? 8 : 4);
  put(f, is64 ? 0x3A : 0x2E, shentsize, 2);
  put(f, is64 ? 0x3C : 0x30, count, 2);
  put(f, is64 ? 0x3E : 0x32, count - 1, 2);
  return f;
}

size_t le32(const std::vector<uint8_t> &f, size_t off) {
  size_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | f[off + static_cast<size_t>(i)];
  return v;
}

std::vector<uint8_t> text(const std::string &s, size_t size) {
  std::vector<uint8_t> v(size, 0);
  std::memcpy(v.data(), s.data(), std::min(s.size(), size));
  return v;
}

std::vector<Section> module_sections() {
  std::vector<uint8_t> header = text("TFAPMIPS", 32);
  header[8] = 16;
  return {{"._tap_header", header},
          {"._tap_id", {0x78, 0x56, 0x34, 0x12}},
          {"._tap_program_name", text("Quarrow V2.0", 64)},
          {"._tap_program_version", text("V2.0", 64)},
          {"._tap_author_name", text("Tamorbel", 64)},
          {"._tap_description", text("Move Quarrow files into DataFiles", 128)},
          {"._tap_etcinfo", text("Dec 8 2026", 64)}};
}

class ElfTest : public ::testing::Test {
 protected:
  void write(const std::vector<uint8_t> &f) { testfiles::WriteFile(path_, std::string(f.begin(), f.end())); }
  bool header(sim::elf::ModuleHeader *h, std::string *error) {
    return sim::elf::read_module_header(path_, h, error);
  }
  testfiles::TempDir dir_{"quarrow elf."};
  const std::string path_ = dir_.path() + "/module.so";
};

TEST_F(ElfTest, ReadsTheHeaderFieldsFromBothClasses) {
  for (bool is64 : {false, true}) {
    write(make_elf(is64, module_sections()));
    sim::elf::ModuleHeader h;
    std::string error;
    ASSERT_TRUE(header(&h, &error)) << error;
    EXPECT_EQ(h.header_value, 16u);
    EXPECT_EQ(h.id, 0x12345678u);
    EXPECT_EQ(h.program_name, "Quarrow V2.0");
    EXPECT_EQ(h.program_version, "V2.0");
    EXPECT_EQ(h.author_name, "Tamorbel");
    EXPECT_EQ(h.description, "Move Quarrow files into DataFiles");
    EXPECT_EQ(h.etcinfo, "Dec 8 2026");
  }
}

TEST_F(ElfTest, AFieldWithoutTerminatorIsReadOnlyToItsSize) {
  auto sections = module_sections();
  sections[2].data = std::vector<uint8_t>(70, 'N');  // longer than the field, no NUL
  write(make_elf(false, sections));
  sim::elf::ModuleHeader h;
  std::string error;
  ASSERT_TRUE(header(&h, &error)) << error;
  EXPECT_EQ(h.program_name, std::string(64, 'N'));
}

TEST_F(ElfTest, RejectsFilesThatAreNotModules) {
  sim::elf::ModuleHeader h;
  std::string error;
  auto sections = module_sections();
  sections.erase(sections.begin() + 4);
  write(make_elf(true, sections));
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("._tap_author_name is missing"), std::string::npos) << error;

  sections = module_sections();
  sections[1].data.resize(2);
  write(make_elf(true, sections));
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("holds 2 bytes, not 4"), std::string::npos) << error;

  sections = module_sections();
  sections[0].data[0] = 'X';
  write(make_elf(false, sections));
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("TFAPMIPS"), std::string::npos) << error;

  auto f = make_elf(false, module_sections());
  f[5] = 2;  // big-endian
  write(f);
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("little-endian"), std::string::npos) << error;

  write(std::vector<uint8_t>(100, 0));
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("not an ELF file"), std::string::npos) << error;
}

TEST_F(ElfTest, RejectsTablesAndSectionsOutsideTheFile) {
  sim::elf::ModuleHeader h;
  std::string error;
  auto good = make_elf(true, module_sections());
  auto f = good;
  put(f, 0x28, f.size() - 10, 8);  // section table runs past the end
  write(f);
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("section table"), std::string::npos) << error;

  f = good;
  const size_t shoff = static_cast<size_t>(f[0x28]) | static_cast<size_t>(f[0x29]) << 8;
  put(f, shoff + 64 + 0x20, 1u << 30, 8);  // first section claims a gigabyte
  write(f);
  EXPECT_FALSE(header(&h, &error));
  EXPECT_NE(error.find("outside the file"), std::string::npos) << error;

  f = good;
  f.resize(40);  // cut inside the 64-bit header
  write(f);
  EXPECT_FALSE(header(&h, &error));
}

TEST_F(ElfTest, OnlyTheChecksOfTheFileLookBeyondTheHeaderSections) {
  auto sections = module_sections();
  sections.push_back({".comment", text("x", 8)});
  auto f = make_elf(false, sections);
  const size_t shoff = le32(f, 0x20);
  put(f, shoff + 8 * 40 + 0x14, 1u << 30, 4);  // .comment claims a gigabyte
  write(f);
  sim::elf::ModuleHeader h;
  std::string error;
  EXPECT_TRUE(header(&h, &error)) << error;  // the loader reads nothing else

  sim::elf::File file;
  ASSERT_TRUE(file.Load(path_, &error)) << error;
  EXPECT_FALSE(file.ReadLinkage(&error));
  EXPECT_NE(error.find("section .comment lies outside the file"), std::string::npos) << error;
}

}  // namespace
