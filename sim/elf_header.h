// The one reader of ELF files: little-endian, 32- or 64-bit; the header, the sections, the
// dynamic section and the symbol tables. The loader reads a module's header sections with
// it, as the recorder does before loading it; the tests check the module files with it.
// Every read is bounds-checked: a damaged file gives a reason, never a crash.
// (The constants carry the standard names, so <elf.h> must not be included beside it.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim::elf {

enum : uint32_t {
  ET_DYN = 3,
  EM_MIPS = 8,
  SHT_PROGBITS = 1,
  SHT_SYMTAB = 2,
  SHT_DYNAMIC = 6,
  SHT_NOBITS = 8,
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
  DT_TEXTREL = 22,
  DT_INIT_ARRAY = 25,
  DT_FINI_ARRAY = 26,
  DT_RUNPATH = 29,
  DT_FLAGS = 30,
  DT_PREINIT_ARRAY = 32,
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
  std::string name;  // empty when the name lies outside the names' table
  uint32_t type = 0;
  uint64_t flags = 0;
  uint64_t addr = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

struct Symbol {
  std::string name;
  uint64_t value = 0;
  uint64_t size = 0;
  uint8_t type = 0;
  uint8_t bind = 0;
  uint16_t shndx = 0;
  bool defined() const { return shndx != SHN_UNDEF; }
};

struct DynEntry {
  uint64_t tag = 0;
  uint64_t value = 0;
};

class File {
 public:
  // Reads the file and its header and section table. False with the reason, which names
  // the file, when it cannot be read or is no little-endian ELF file with a usable section
  // table. Sections that lie outside the file are only found out by Contents and
  // ReadLinkage, as the loader looks at none but the header sections.
  bool Load(const std::string &path, std::string *error);
  // The same for a file's bytes; `name` stands for the file in the reason.
  bool Parse(std::vector<uint8_t> bytes, const std::string &name, std::string *error);
  // Reads the dynamic section and the symbol tables, and checks that every section and
  // every name lies inside the file. False with the reason otherwise.
  bool ReadLinkage(std::string *error);

  bool is64() const { return is64_; }
  uint16_t type() const { return type_; }
  uint16_t machine() const { return machine_; }
  uint32_t flags() const { return flags_; }

  const std::vector<Section> &sections() const { return sections_; }
  // The first section of that name, or null.
  const Section *section(const std::string &name) const;
  // The bytes of a section as stored in the file (zeros for SHT_NOBITS, up to 256 MiB);
  // false when it lies outside the file.
  bool Contents(const Section &s, std::vector<uint8_t> *out) const;

  // After ReadLinkage: the dynamic section up to DT_NULL, the exported and imported
  // symbols, and the full symbol table (empty when stripped).
  const std::vector<DynEntry> &dynamic() const { return dynamic_; }
  std::vector<uint64_t> dynamic_values(uint64_t tag) const;
  // The libraries named by DT_NEEDED, in the order the loader reads them.
  std::vector<std::string> needed() const;
  // A text of the dynamic string table ("" for an offset outside it; ReadLinkage has
  // checked those of DT_NEEDED, DT_SONAME, DT_RPATH and DT_RUNPATH).
  std::string dynamic_string(uint64_t offset) const;
  const std::vector<Symbol> &dynamic_symbols() const { return dynsym_; }
  const std::vector<Symbol> &symbols() const { return symtab_; }
  const Symbol *dynamic_symbol(const std::string &name) const;

 private:
  uint64_t word(uint64_t offset, int bytes) const;
  bool Inside(uint64_t offset, uint64_t size) const;
  // The terminated text at `offset` inside [begin, end); false when there is none.
  bool Text(uint64_t offset, uint64_t begin, uint64_t end, std::string *out) const;
  bool ReadSymbols(const Section &table, std::vector<Symbol> *out, std::string *error) const;

  std::string name_;
  std::vector<uint8_t> bytes_;
  bool is64_ = false;
  bool names_sound_ = true;
  uint16_t type_ = 0;
  uint16_t machine_ = 0;
  uint32_t flags_ = 0;
  std::vector<Section> sections_;
  std::vector<DynEntry> dynamic_;
  std::vector<Symbol> dynsym_;
  std::vector<Symbol> symtab_;
  int dynstr_ = -1;  // index of .dynstr
};

struct ModuleHeader {
  uint32_t header_value = 0;  // the word after "TFAPMIPS"
  uint32_t id = 0;
  std::string program_name, program_version, author_name, description, etcinfo;
};

// The seven header sections: present, at least their sizes, header starting "TFAPMIPS".
bool read_module_header(const std::string &path, ModuleHeader *header, std::string *error);

}  // namespace sim::elf
