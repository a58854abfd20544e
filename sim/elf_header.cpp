#include "sim/elf_header.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sim::elf {
namespace {

uint64_t le(const std::vector<uint8_t> &f, uint64_t off, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | f[off + static_cast<uint64_t>(i)];
  return v;
}

std::string field_text(const std::vector<uint8_t> &data, size_t size) {
  const size_t n = std::min(size, data.size());
  size_t len = 0;
  while (len < n && data[len] != 0) ++len;
  return std::string(reinterpret_cast<const char *>(data.data()), len);
}

constexpr uint64_t kMaxFile = 256ull << 20;
constexpr uint32_t kNoBits = 8;

}  // namespace

bool read_sections(const std::string &path, const std::vector<std::string> &names,
                   std::map<std::string, std::vector<uint8_t>> *out, std::string *error) {
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
  std::vector<uint8_t> f(static_cast<size_t>(length));
  if (!in.read(reinterpret_cast<char *>(f.data()), length)) {
    *error = "cannot read " + path;
    return false;
  }
  if (f.size() < 52 || std::memcmp(f.data(), "\x7f" "ELF", 4) != 0) {
    *error = path + " is not an ELF file";
    return false;
  }
  const int cls = f[4];
  if (cls != 1 && cls != 2) {
    *error = path + ": unknown ELF class";
    return false;
  }
  if (f[5] != 1) {
    *error = path + " is not a little-endian ELF file";
    return false;
  }
  const bool is64 = cls == 2;
  if (is64 && f.size() < 64) {
    *error = path + ": ELF header cut short";
    return false;
  }
  const uint64_t shoff = is64 ? le(f, 0x28, 8) : le(f, 0x20, 4);
  const uint64_t shentsize = le(f, is64 ? 0x3A : 0x2E, 2);
  const uint64_t shnum = le(f, is64 ? 0x3C : 0x30, 2);
  const uint64_t shstrndx = le(f, is64 ? 0x3E : 0x32, 2);
  const uint64_t min_ent = is64 ? 64 : 40;
  if (shnum == 0 || shentsize < min_ent || shstrndx >= shnum || shoff > f.size() ||
      shnum * shentsize > f.size() - shoff) {
    *error = path + ": no usable section table";
    return false;
  }
  struct Sh {
    uint64_t name, type, offset, size;
  };
  auto sh = [&](uint64_t i) {
    const uint64_t b = shoff + i * shentsize;
    if (is64) return Sh{le(f, b, 4), le(f, b + 4, 4), le(f, b + 0x18, 8), le(f, b + 0x20, 8)};
    return Sh{le(f, b, 4), le(f, b + 4, 4), le(f, b + 0x10, 4), le(f, b + 0x14, 4)};
  };
  const Sh strtab = sh(shstrndx);
  if (strtab.offset > f.size() || strtab.size > f.size() - strtab.offset) {
    *error = path + ": section names lie outside the file";
    return false;
  }
  for (uint64_t i = 0; i < shnum; ++i) {
    const Sh s = sh(i);
    if (s.name >= strtab.size) continue;
    const char *base = reinterpret_cast<const char *>(f.data() + strtab.offset);
    const size_t max = static_cast<size_t>(strtab.size - s.name);
    const std::string name(base + s.name, strnlen(base + s.name, max));
    if (std::find(names.begin(), names.end(), name) == names.end()) continue;
    if (s.type == kNoBits) {
      (*out)[name] = std::vector<uint8_t>(static_cast<size_t>(std::min<uint64_t>(s.size, kMaxFile)), 0);
      continue;
    }
    if (s.offset > f.size() || s.size > f.size() - s.offset) {
      *error = path + ": section " + name + " lies outside the file";
      return false;
    }
    (*out)[name] = std::vector<uint8_t>(f.begin() + static_cast<std::ptrdiff_t>(s.offset),
                                        f.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
  }
  return true;
}

bool read_module_header(const std::string &path, ModuleHeader *header, std::string *error) {
  static const std::vector<std::pair<std::string, size_t>> kSections = {
      {"._tap_header", 32},          {"._tap_id", 4},           {"._tap_program_name", 64},
      {"._tap_program_version", 64}, {"._tap_author_name", 64}, {"._tap_description", 128},
      {"._tap_etcinfo", 64}};
  std::vector<std::string> names;
  for (const auto &s : kSections) names.push_back(s.first);
  std::map<std::string, std::vector<uint8_t>> data;
  if (!read_sections(path, names, &data, error)) return false;
  for (const auto &s : kSections) {
    auto it = data.find(s.first);
    if (it == data.end()) {
      *error = path + " is not a module: section " + s.first + " is missing";
      return false;
    }
    if (it->second.size() < s.second) {
      *error = path + " is not a module: section " + s.first + " holds " + std::to_string(it->second.size()) +
               " bytes, not " + std::to_string(s.second);
      return false;
    }
  }
  const auto &h = data["._tap_header"];
  if (std::memcmp(h.data(), "TFAPMIPS", 8) != 0) {
    *error = path + " is not a module: its header does not start with TFAPMIPS";
    return false;
  }
  header->header_value = static_cast<uint32_t>(le(h, 8, 4));
  header->id = static_cast<uint32_t>(le(data["._tap_id"], 0, 4));
  header->program_name = field_text(data["._tap_program_name"], 64);
  header->program_version = field_text(data["._tap_program_version"], 64);
  header->author_name = field_text(data["._tap_author_name"], 64);
  header->description = field_text(data["._tap_description"], 128);
  header->etcinfo = field_text(data["._tap_etcinfo"], 64);
  return true;
}

}  // namespace sim::elf
