// A small reader for 32-bit little-endian ELF shared objects, enough to check the file
// that goes onto the recorder: header, sections, dynamic section and dynamic symbols.
// Every read is bounds-checked; a damaged file raises ElfError instead of crashing.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace elf {

struct ElfError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum : uint32_t {
  ET_DYN = 3,
  EM_MIPS = 8,
  SHT_PROGBITS = 1,
  SHT_SYMTAB = 2,
  SHT_DYNSYM = 11,
  SHF_WRITE = 1,
  SHF_ALLOC = 2,
  SHF_EXECINSTR = 4,
  SHN_UNDEF = 0,
  STT_OBJECT = 1,
  STT_FUNC = 2,
  STB_LOCAL = 0,
  STB_GLOBAL = 1,
  STB_WEAK = 2,
  DT_NULL = 0,
  DT_NEEDED = 1,
  DT_HASH = 4,
  DT_STRTAB = 5,
  DT_INIT = 12,
  DT_FINI = 13,
  DT_SONAME = 14,
  DT_RPATH = 15,
  DT_RUNPATH = 29,
  DT_TEXTREL = 22,
  DT_INIT_ARRAY = 25,
  DT_FINI_ARRAY = 26,
  DT_PREINIT_ARRAY = 32,
  DT_FLAGS = 30,
  DT_VERNEED = 0x6ffffffe,
  DF_TEXTREL = 4,
  // e_flags of a MIPS object.
  EF_MIPS_PIC = 0x2,
  EF_MIPS_CPIC = 0x4,
  EF_MIPS_ABI2 = 0x20,
  EF_MIPS_ABI = 0x0000f000,
  E_MIPS_ABI_O32 = 0x00001000,
  EF_MIPS_ARCH = 0xf0000000,
  E_MIPS_ARCH_32 = 0x50000000,
};

struct Section {
  uint32_t index = 0;
  std::string name;
  uint32_t type = 0;
  uint32_t flags = 0;
  uint32_t addr = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

struct Symbol {
  std::string name;
  uint32_t value = 0;
  uint32_t size = 0;
  uint8_t type = 0;
  uint8_t bind = 0;
  uint16_t shndx = 0;
  bool defined() const { return shndx != SHN_UNDEF; }
};

struct DynEntry {
  uint32_t tag = 0;
  uint32_t value = 0;
};

class File {
 public:
  // Reads and parses the whole file; throws ElfError on anything malformed.
  static File Load(const std::string &path);
  static File Parse(std::vector<uint8_t> bytes);

  uint8_t elf_class() const { return bytes_.at(4); }
  uint8_t data_encoding() const { return bytes_.at(5); }
  uint16_t type() const { return type_; }
  uint16_t machine() const { return machine_; }
  uint32_t flags() const { return flags_; }

  const std::vector<Section> &sections() const { return sections_; }
  std::optional<Section> section(const std::string &name) const;
  // The bytes of a section as stored in the file.
  std::vector<uint8_t> contents(const Section &s) const;

  const std::vector<DynEntry> &dynamic() const { return dynamic_; }
  std::vector<uint32_t> dynamic_values(uint32_t tag) const;
  // The libraries named by DT_NEEDED, in the order the loader reads them.
  std::vector<std::string> needed() const;
  std::string dynamic_string(uint32_t offset) const;

  const std::vector<Symbol> &dynamic_symbols() const { return dynsym_; }
  const std::vector<Symbol> &symbols() const { return symtab_; }  // empty when stripped
  std::optional<Symbol> dynamic_symbol(const std::string &name) const;

 private:
  uint32_t u32(uint64_t offset) const;
  uint16_t u16(uint64_t offset) const;
  std::string cstring(uint64_t offset, uint64_t limit) const;
  std::vector<Symbol> read_symbols(const Section &table) const;

  std::vector<uint8_t> bytes_;
  uint16_t type_ = 0;
  uint16_t machine_ = 0;
  uint32_t flags_ = 0;
  std::vector<Section> sections_;
  std::vector<DynEntry> dynamic_;
  std::vector<Symbol> dynsym_;
  std::vector<Symbol> symtab_;
  std::optional<Section> dynstr_;
};

}  // namespace elf
