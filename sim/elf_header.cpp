#include "sim/elf_header.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

namespace sim::elf {
namespace {

constexpr uint64_t kMaxFile = 256ull << 20;

std::string field_text(const std::vector<uint8_t> &data, size_t size) {
  const size_t n = std::min(size, data.size());
  size_t len = 0;
  while (len < n && data[len] != 0) ++len;
  return std::string(reinterpret_cast<const char *>(data.data()), len);
}

uint32_t le32(const std::vector<uint8_t> &data, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | data[at + static_cast<size_t>(i)];
  return v;
}

}  // namespace

uint64_t File::word(uint64_t offset, int bytes) const {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | bytes_[offset + static_cast<uint64_t>(i)];
  return v;
}

bool File::Inside(uint64_t offset, uint64_t size) const {
  return offset <= bytes_.size() && size <= bytes_.size() - offset;
}

bool File::Text(uint64_t offset, uint64_t begin, uint64_t end, std::string *out) const {
  if (offset >= end - begin) return false;
  const char *base = reinterpret_cast<const char *>(bytes_.data() + begin + offset);
  const size_t max = static_cast<size_t>(end - begin - offset);
  const size_t n = strnlen(base, max);
  if (n == max) return false;
  out->assign(base, n);
  return true;
}

bool File::Load(const std::string &path, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length < 0 || static_cast<uint64_t>(length) > kMaxFile) {
    *error = path + " is not a readable module file";
    return false;
  }
  in.seekg(0);
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (!in.read(reinterpret_cast<char *>(bytes.data()), length)) {
    *error = "cannot read " + path;
    return false;
  }
  return Parse(std::move(bytes), path, error);
}

bool File::Parse(std::vector<uint8_t> bytes, const std::string &name, std::string *error) {
  *this = File();
  name_ = name;
  bytes_ = std::move(bytes);
  const std::vector<uint8_t> &f = bytes_;
  if (f.size() < 52 || std::memcmp(f.data(), "\x7f" "ELF", 4) != 0) {
    *error = name + " is not an ELF file";
    return false;
  }
  const int cls = f[4];
  if (cls != 1 && cls != 2) {
    *error = name + ": unknown ELF class";
    return false;
  }
  if (f[5] != 1) {
    *error = name + " is not a little-endian ELF file";
    return false;
  }
  is64_ = cls == 2;
  if (is64_ && f.size() < 64) {
    *error = name + ": ELF header cut short";
    return false;
  }
  type_ = static_cast<uint16_t>(word(16, 2));
  machine_ = static_cast<uint16_t>(word(18, 2));
  flags_ = static_cast<uint32_t>(word(is64_ ? 0x30 : 0x24, 4));
  const uint64_t shoff = is64_ ? word(0x28, 8) : word(0x20, 4);
  const uint64_t shentsize = word(is64_ ? 0x3A : 0x2E, 2);
  const uint64_t shnum = word(is64_ ? 0x3C : 0x30, 2);
  const uint64_t shstrndx = word(is64_ ? 0x3E : 0x32, 2);
  if (shnum == 0 || shentsize < (is64_ ? 64u : 40u) || shstrndx >= shnum || !Inside(shoff, shnum * shentsize)) {
    *error = name + ": no usable section table";
    return false;
  }
  std::vector<uint64_t> name_at;
  for (uint64_t i = 0; i < shnum; ++i) {
    const uint64_t b = shoff + i * shentsize;
    Section s;
    s.index = static_cast<uint32_t>(i);
    name_at.push_back(word(b, 4));
    s.type = static_cast<uint32_t>(word(b + 4, 4));
    s.flags = is64_ ? word(b + 8, 8) : word(b + 8, 4);
    s.addr = is64_ ? word(b + 0x10, 8) : word(b + 0x0C, 4);
    s.offset = is64_ ? word(b + 0x18, 8) : word(b + 0x10, 4);
    s.size = is64_ ? word(b + 0x20, 8) : word(b + 0x14, 4);
    s.link = static_cast<uint32_t>(word(b + (is64_ ? 0x28 : 0x18), 4));
    sections_.push_back(s);
  }
  const Section &names = sections_[shstrndx];
  if (!Inside(names.offset, names.size)) {
    *error = name + ": section names lie outside the file";
    return false;
  }
  for (Section &s : sections_) {
    // A name cut off by the end of the table is read up to there.
    const uint64_t at = name_at[s.index];
    if (at >= names.size) {
      names_sound_ = false;
      continue;
    }
    const char *base = reinterpret_cast<const char *>(f.data() + names.offset + at);
    const size_t max = static_cast<size_t>(names.size - at);
    const size_t n = strnlen(base, max);
    if (n == max) names_sound_ = false;
    s.name.assign(base, n);
  }
  return true;
}

const Section *File::section(const std::string &name) const {
  for (const Section &s : sections_)
    if (s.name == name) return &s;
  return nullptr;
}

bool File::Contents(const Section &s, std::vector<uint8_t> *out) const {
  if (s.type == SHT_NOBITS) {
    out->assign(static_cast<size_t>(std::min(s.size, kMaxFile)), 0);
    return true;
  }
  if (!Inside(s.offset, s.size)) return false;
  out->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(s.offset),
              bytes_.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
  return true;
}

bool File::ReadSymbols(const Section &table, std::vector<Symbol> *out, std::string *error) const {
  if (table.link >= sections_.size()) {
    *error = name_ + ": bad string table link of " + table.name;
    return false;
  }
  const Section &strings = sections_[table.link];
  if (!Inside(strings.offset, strings.size)) {
    *error = name_ + ": section " + strings.name + " lies outside the file";
    return false;
  }
  const uint64_t entry = is64_ ? 24 : 16;
  for (uint64_t p = table.offset; p + entry <= table.offset + table.size; p += entry) {
    Symbol s;
    if (!Text(word(p, 4), strings.offset, strings.offset + strings.size, &s.name)) {
      *error = name_ + ": bad symbol name in " + table.name;
      return false;
    }
    const uint8_t info = bytes_[p + (is64_ ? 4 : 12)];
    s.type = info & 0xf;
    s.bind = info >> 4;
    s.shndx = static_cast<uint16_t>(word(p + (is64_ ? 6 : 14), 2));
    s.value = is64_ ? word(p + 8, 8) : word(p + 4, 4);
    s.size = is64_ ? word(p + 16, 8) : word(p + 8, 4);
    out->push_back(s);
  }
  return true;
}

bool File::ReadLinkage(std::string *error) {
  dynamic_.clear();
  dynsym_.clear();
  symtab_.clear();
  dynstr_ = -1;
  if (!names_sound_) {
    *error = name_ + ": bad section name";
    return false;
  }
  for (const Section &s : sections_) {
    if (s.type != SHT_NOBITS && !Inside(s.offset, s.size)) {
      *error = name_ + ": section " + s.name + " lies outside the file";
      return false;
    }
  }
  const uint64_t entry = is64_ ? 16 : 8;
  for (const Section &s : sections_) {
    if (s.type != SHT_DYNAMIC) continue;
    for (uint64_t p = s.offset; p + entry <= s.offset + s.size; p += entry) {
      const DynEntry e{word(p, static_cast<int>(entry / 2)), word(p + entry / 2, static_cast<int>(entry / 2))};
      if (e.tag == DT_NULL) break;
      dynamic_.push_back(e);
    }
  }
  if (const Section *strings = section(".dynstr")) dynstr_ = static_cast<int>(strings->index);
  for (const DynEntry &e : dynamic_) {
    std::string text;
    if ((e.tag == DT_NEEDED || e.tag == DT_SONAME || e.tag == DT_RPATH || e.tag == DT_RUNPATH) &&
        (dynstr_ < 0 || !Text(e.value, sections_[dynstr_].offset, sections_[dynstr_].offset + sections_[dynstr_].size,
                              &text))) {
      *error = name_ + ": bad dynamic string";
      return false;
    }
  }
  if (const Section *dynsym = section(".dynsym"); dynsym && !ReadSymbols(*dynsym, &dynsym_, error)) return false;
  if (const Section *symtab = section(".symtab"); symtab && !ReadSymbols(*symtab, &symtab_, error)) return false;
  return true;
}

std::vector<uint64_t> File::dynamic_values(uint64_t tag) const {
  std::vector<uint64_t> out;
  for (const DynEntry &e : dynamic_)
    if (e.tag == tag) out.push_back(e.value);
  return out;
}

std::string File::dynamic_string(uint64_t offset) const {
  std::string text;
  if (dynstr_ < 0) return text;
  const Section &s = sections_[dynstr_];
  if (!Text(offset, s.offset, s.offset + s.size, &text)) text.clear();
  return text;
}

std::vector<std::string> File::needed() const {
  std::vector<std::string> out;
  for (uint64_t v : dynamic_values(DT_NEEDED)) out.push_back(dynamic_string(v));
  return out;
}

const Symbol *File::dynamic_symbol(const std::string &name) const {
  for (const Symbol &s : dynsym_)
    if (s.name == name) return &s;
  return nullptr;
}

bool read_module_header(const std::string &path, ModuleHeader *header, std::string *error) {
  static const std::vector<std::pair<std::string, size_t>> kSections = {
      {"._tap_header", 32},          {"._tap_id", 4},           {"._tap_program_name", 64},
      {"._tap_program_version", 64}, {"._tap_author_name", 64}, {"._tap_description", 128},
      {"._tap_etcinfo", 64}};
  File file;
  if (!file.Load(path, error)) return false;
  // Read as the loader does: by name, the last of a name counts, and only these must lie
  // inside the file.
  std::vector<std::vector<uint8_t>> data(kSections.size());
  std::vector<bool> found(kSections.size(), false);
  for (const Section &s : file.sections()) {
    for (size_t i = 0; i < kSections.size(); ++i) {
      if (s.name != kSections[i].first) continue;
      if (!file.Contents(s, &data[i])) {
        *error = path + ": section " + s.name + " lies outside the file";
        return false;
      }
      found[i] = true;
    }
  }
  for (size_t i = 0; i < kSections.size(); ++i) {
    if (!found[i]) {
      *error = path + " is not a module: section " + kSections[i].first + " is missing";
      return false;
    }
    if (data[i].size() < kSections[i].second) {
      *error = path + " is not a module: section " + kSections[i].first + " holds " +
               std::to_string(data[i].size()) + " bytes, not " + std::to_string(kSections[i].second);
      return false;
    }
  }
  const std::vector<uint8_t> &h = data[0];
  if (std::memcmp(h.data(), "TFAPMIPS", 8) != 0) {
    *error = path + " is not a module: its header does not start with TFAPMIPS";
    return false;
  }
  header->header_value = le32(h, 8);
  header->id = le32(data[1], 0);
  header->program_name = field_text(data[2], 64);
  header->program_version = field_text(data[3], 64);
  header->author_name = field_text(data[4], 64);
  header->description = field_text(data[5], 128);
  header->etcinfo = field_text(data[6], 64);
  return true;
}

}  // namespace sim::elf
