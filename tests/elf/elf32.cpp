#include "tests/elf/elf32.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace elf {

namespace {
constexpr uint32_t kDynamicType = 6;  // SHT_DYNAMIC
}

File File::Load(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ElfError("cannot open " + path);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Parse(std::move(bytes));
}

uint32_t File::u32(uint64_t offset) const {
  if (offset + 4 > bytes_.size()) throw ElfError("read past the end of the file");
  return bytes_[offset] | bytes_[offset + 1] << 8 | bytes_[offset + 2] << 16 |
         static_cast<uint32_t>(bytes_[offset + 3]) << 24;
}

uint16_t File::u16(uint64_t offset) const {
  if (offset + 2 > bytes_.size()) throw ElfError("read past the end of the file");
  return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

std::string File::cstring(uint64_t offset, uint64_t limit) const {
  if (limit > bytes_.size()) limit = bytes_.size();
  std::string out;
  for (uint64_t i = offset;; ++i) {
    if (i >= limit) throw ElfError("unterminated string");
    if (bytes_[i] == 0) return out;
    out.push_back(static_cast<char>(bytes_[i]));
  }
}

File File::Parse(std::vector<uint8_t> bytes) {
  File f;
  f.bytes_ = std::move(bytes);
  if (f.bytes_.size() < 52 || std::memcmp(f.bytes_.data(), "\x7f" "ELF", 4) != 0)
    throw ElfError("not an ELF file");
  if (f.bytes_[4] != 1 || f.bytes_[5] != 1)
    throw ElfError("not a 32-bit little-endian ELF file");
  f.type_ = f.u16(16);
  f.machine_ = f.u16(18);
  f.flags_ = f.u32(36);
  const uint32_t shoff = f.u32(32);
  const uint16_t shentsize = f.u16(46);
  const uint16_t shnum = f.u16(48);
  const uint16_t shstrndx = f.u16(50);
  if (shentsize != 40 || shnum == 0 || shstrndx >= shnum) throw ElfError("bad section header table");
  if (uint64_t{shoff} + uint64_t{shnum} * shentsize > f.bytes_.size())
    throw ElfError("section header table beyond the end of the file");

  std::vector<uint32_t> name_offsets;
  for (uint32_t i = 0; i < shnum; ++i) {
    const uint64_t h = shoff + uint64_t{i} * shentsize;
    Section s;
    s.index = i;
    name_offsets.push_back(f.u32(h));
    s.type = f.u32(h + 4);
    s.flags = f.u32(h + 8);
    s.addr = f.u32(h + 12);
    s.offset = f.u32(h + 16);
    s.size = f.u32(h + 20);
    if (s.type != 8 /* SHT_NOBITS */ && uint64_t{s.offset} + s.size > f.bytes_.size())
      throw ElfError("section beyond the end of the file");
    f.sections_.push_back(s);
  }
  const Section &names = f.sections_[shstrndx];
  for (uint32_t i = 0; i < shnum; ++i) {
    if (name_offsets[i] >= names.size) throw ElfError("bad section name");
    f.sections_[i].name = f.cstring(uint64_t{names.offset} + name_offsets[i], uint64_t{names.offset} + names.size);
  }

  for (const Section &s : f.sections_) {
    if (s.type == kDynamicType) {
      for (uint64_t p = s.offset; p + 8 <= uint64_t{s.offset} + s.size; p += 8) {
        DynEntry e{f.u32(p), f.u32(p + 4)};
        if (e.tag == DT_NULL) break;
        f.dynamic_.push_back(e);
      }
    }
  }
  f.dynstr_ = f.section(".dynstr");
  if (auto dynsym = f.section(".dynsym")) f.dynsym_ = f.read_symbols(*dynsym);
  if (auto symtab = f.section(".symtab")) f.symtab_ = f.read_symbols(*symtab);
  return f;
}

std::vector<Symbol> File::read_symbols(const Section &table) const {
  // The linked string table is named by sh_link, at offset 24 of the section header.
  const uint32_t shoff = u32(32);
  const uint32_t link = u32(uint64_t{shoff} + uint64_t{table.index} * 40 + 24);
  if (link >= sections_.size()) throw ElfError("bad string table link");
  const Section &strings = sections_[link];
  std::vector<Symbol> out;
  for (uint64_t p = table.offset; p + 16 <= uint64_t{table.offset} + table.size; p += 16) {
    Symbol s;
    const uint32_t name = u32(p);
    if (name >= strings.size) throw ElfError("bad symbol name");
    s.name = cstring(uint64_t{strings.offset} + name, uint64_t{strings.offset} + strings.size);
    s.value = u32(p + 4);
    s.size = u32(p + 8);
    const uint8_t info = bytes_.at(p + 12);
    s.type = info & 0xf;
    s.bind = info >> 4;
    s.shndx = u16(p + 14);
    out.push_back(s);
  }
  return out;
}

std::optional<Section> File::section(const std::string &name) const {
  for (const Section &s : sections_)
    if (s.name == name) return s;
  return std::nullopt;
}

std::vector<uint8_t> File::contents(const Section &s) const {
  return std::vector<uint8_t>(bytes_.begin() + s.offset, bytes_.begin() + s.offset + s.size);
}

std::vector<uint32_t> File::dynamic_values(uint32_t tag) const {
  std::vector<uint32_t> out;
  for (const DynEntry &e : dynamic_)
    if (e.tag == tag) out.push_back(e.value);
  return out;
}

std::string File::dynamic_string(uint32_t offset) const {
  if (!dynstr_ || offset >= dynstr_->size) throw ElfError("bad dynamic string");
  return cstring(uint64_t{dynstr_->offset} + offset, uint64_t{dynstr_->offset} + dynstr_->size);
}

std::vector<std::string> File::needed() const {
  std::vector<std::string> out;
  for (uint32_t v : dynamic_values(DT_NEEDED)) out.push_back(dynamic_string(v));
  return out;
}

std::optional<Symbol> File::dynamic_symbol(const std::string &name) const {
  for (const Symbol &s : dynsym_)
    if (s.name == name) return s;
  return std::nullopt;
}

}  // namespace elf
