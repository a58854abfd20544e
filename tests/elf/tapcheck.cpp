#include "tests/elf/tapcheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <set>

#include "host/os_calls.h"
#include "host/tap.h"

namespace tapcheck {

namespace {

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(v));
  return text;
}

// Text field: the text, then zero bytes up to the full size.
bool IsPaddedText(const std::vector<uint8_t> &bytes, const std::string &text) {
  if (bytes.size() <= text.size()) return false;
  if (std::memcmp(bytes.data(), text.data(), text.size()) != 0) return false;
  return std::all_of(bytes.begin() + static_cast<long>(text.size()), bytes.end(), [](uint8_t b) { return b == 0; });
}

std::string Printable(const std::vector<uint8_t> &bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    if (b == 0) {
      out += "\\0";
    } else if (b < 0x20 || b > 0x7e) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    } else {
      out.push_back(static_cast<char>(b));
    }
  }
  return out;
}

struct HeaderSection {
  const char *section;
  const char *object;
  uint32_t size;
};

constexpr HeaderSection kHeaderSections[] = {
    {"._tap_header", "__tap_Header__", 32},
    {"._tap_id", "__tap_ud__", 4},
    {"._tap_program_name", "__tap_program_name__", 64},
    {"._tap_program_version", "__tap_program_version__", 64},
    {"._tap_author_name", "__tap_author_name__", 64},
    {"._tap_description", "__tap_description__", 128},
    {"._tap_etcinfo", "__tap_etc_str__", 64},
};

// Checks the content of one header field; empty when it is right.
std::string CheckHeaderContent(const std::string &section, const std::vector<uint8_t> &bytes) {
  if (section == "._tap_header") {
    static const uint8_t kMagic[8] = {'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S'};
    const bool ok = bytes.size() == 32 && std::memcmp(bytes.data(), kMagic, 8) == 0 && bytes[8] == 16 &&
                    bytes[9] == 0 && bytes[10] == 0 && bytes[11] == 0 &&
                    std::all_of(bytes.begin() + 12, bytes.end(), [](uint8_t b) { return b == 0; });
    return ok ? "" : "expected \"TFAPMIPS\", 16 little-endian and 20 zero bytes";
  }
  if (section == "._tap_id") return "";  // any fixed value
  if (section == "._tap_program_name")
    return IsPaddedText(bytes, "Quarrow V2.0") ? "" : "expected \"Quarrow V2.0\" padded with zeros";
  if (section == "._tap_program_version")
    return IsPaddedText(bytes, "V2.0") ? "" : "expected \"V2.0\" padded with zeros";
  if (section == "._tap_author_name")
    return IsPaddedText(bytes, "Tamorbel") ? "" : "expected \"Tamorbel\" padded with zeros";
  if (section == "._tap_description")
    return IsPaddedText(bytes, "Move Quarrow files into DataFiles")
               ? ""
               : "expected \"Move Quarrow files into DataFiles\" padded with zeros";
  if (section == "._tap_etcinfo") {
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    const std::string text(bytes.begin(), end);
    static const std::regex kDate(
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ([1-9]|[12][0-9]|3[01]) [0-9]{4}");
    if (end == bytes.end() || !std::regex_match(text, kDate) ||
        !std::all_of(end, bytes.end(), [](uint8_t b) { return b == 0; }))
      return "expected a build date like \"Dec 8 2026\" padded with zeros";
    return "";
  }
  return "unknown header section";
}

}  // namespace

Problems CheckShape(const elf::File &f) {
  Problems p;
  if (f.is64()) p.push_back("not a 32-bit ELF file");
  if (f.type() != elf::ET_DYN) p.push_back("not a shared object (e_type " + std::to_string(f.type()) + ")");
  if (f.machine() != elf::EM_MIPS) p.push_back("not MIPS (e_machine " + std::to_string(f.machine()) + ")");
  const uint32_t flags = f.flags();
  if ((flags & elf::EF_MIPS_ARCH) != elf::E_MIPS_ARCH_32)
    p.push_back("instruction set is not MIPS32 (e_flags " + Hex(flags) +
                "); code built for a later revision may not run on the recorder");
  if ((flags & elf::EF_MIPS_ABI) != elf::E_MIPS_ABI_O32 || (flags & elf::EF_MIPS_ABI2) != 0)
    p.push_back("not the o32 calling convention (e_flags " + Hex(flags) + ")");
  if ((flags & (elf::EF_MIPS_PIC | elf::EF_MIPS_CPIC)) != (elf::EF_MIPS_PIC | elf::EF_MIPS_CPIC))
    p.push_back("not position-independent code (e_flags " + Hex(flags) + ")");
  return p;
}

Problems CheckDynamic(const elf::File &f) {
  Problems p;
  if (f.dynamic().empty()) {
    p.push_back("no dynamic section");
    return p;
  }
  const std::vector<std::string> expected = {"/tapapi/TMS/libtap.so", "libdl.so.0", "libc.so.0"};
  const std::vector<std::string> needed = f.needed();
  if (needed != expected) {
    std::string list;
    for (const std::string &n : needed) list += " " + n;
    p.push_back("needs [" + list + " ] instead of exactly /tapapi/TMS/libtap.so libdl.so.0 libc.so.0");
  }
  if (!f.dynamic_values(elf::DT_TEXTREL).empty()) p.push_back("has text relocations (DT_TEXTREL)");
  for (uint64_t v : f.dynamic_values(elf::DT_FLAGS))
    if (v & elf::DF_TEXTREL) p.push_back("has text relocations (DF_TEXTREL)");
  if (!f.dynamic_values(elf::DT_VERNEED).empty())
    p.push_back("asks for symbol versions of the build machine's libraries (DT_VERNEED)");
  if (f.dynamic_values(elf::DT_HASH).empty()) p.push_back("no classic symbol hash table (DT_HASH)");
  for (uint64_t tag : {uint64_t{elf::DT_RPATH}, uint64_t{elf::DT_RUNPATH}})
    for (uint64_t v : f.dynamic_values(tag))
      p.push_back("carries a library search path of the build machine (" + f.dynamic_string(v) + ")");

  // Nothing may run before TAP_Main but the empty _init, nor when the module goes away.
  for (uint64_t tag : {uint64_t{elf::DT_INIT_ARRAY}, uint64_t{elf::DT_PREINIT_ARRAY}, uint64_t{elf::DT_FINI_ARRAY}})
    if (!f.dynamic_values(tag).empty())
      p.push_back("has constructors or destructors for the loader to run (dynamic tag " + std::to_string(tag) + ")");

  const elf::Symbol *init = f.dynamic_symbol("_init");
  const std::vector<uint64_t> dt_init = f.dynamic_values(elf::DT_INIT);
  if (!init || !init->defined() || init->type != elf::STT_FUNC) {
    p.push_back("_init is not an exported function");
  } else if (dt_init.size() != 1 || dt_init[0] != init->value) {
    p.push_back("DT_INIT is not _init (" + (dt_init.empty() ? std::string("missing") : Hex(dt_init[0])) +
                " vs " + Hex(init->value) + ")");
  }
  const elf::Symbol *finit = f.dynamic_symbol("_finit");
  if (!finit || !finit->defined() || finit->type != elf::STT_FUNC || finit->bind == elf::STB_LOCAL) {
    p.push_back("_finit is not an exported function");
  } else {
    for (uint64_t v : f.dynamic_values(elf::DT_FINI))
      if (v == finit->value) p.push_back("_finit is registered with the loader (DT_FINI)");
  }
  for (const char *entry : {"__TAP_Init_", "TAP_Main", "TAP_EventHandler"}) {
    const elf::Symbol *s = f.dynamic_symbol(entry);
    if (!s || !s->defined() || s->type != elf::STT_FUNC) p.push_back(std::string(entry) + " is not an exported function");
  }
  return p;
}

Problems CheckHeaderSections(const elf::File &f) {
  Problems p;
  // The full symbol table when the file still has one, else the exported ones.
  const std::vector<elf::Symbol> &symbols = f.symbols().empty() ? f.dynamic_symbols() : f.symbols();
  for (const HeaderSection &h : kHeaderSections) {
    const std::string where = std::string(h.section) + ": ";
    const elf::Section *s = f.section(h.section);
    if (!s) {
      p.push_back(where + "missing");
      continue;
    }
    if (s->type != elf::SHT_PROGBITS || !(s->flags & elf::SHF_ALLOC) || (s->flags & elf::SHF_EXECINSTR))
      p.push_back(where + "not a loaded data section");
    if (s->size != h.size)
      p.push_back(where + "is " + std::to_string(s->size) + " bytes instead of " + std::to_string(h.size));

    std::vector<elf::Symbol> objects;
    for (const elf::Symbol &sym : symbols)
      if (sym.shndx == s->index && (sym.type == elf::STT_OBJECT || sym.type == elf::STT_FUNC || sym.type == 0))
        objects.push_back(sym);
    if (objects.size() != 1) {
      std::string names;
      for (const elf::Symbol &o : objects) names += " " + o.name;
      p.push_back(where + "holds " + std::to_string(objects.size()) + " objects instead of one (" + names + " )");
    } else if (objects[0].name != h.object || objects[0].size != h.size || objects[0].value != s->addr ||
               objects[0].type != elf::STT_OBJECT) {
      p.push_back(where + "holds " + objects[0].name + " of " + std::to_string(objects[0].size) +
                  " bytes instead of " + h.object + " of " + std::to_string(h.size));
    }
    const elf::Symbol *exported = f.dynamic_symbol(h.object);
    if (!exported || exported->shndx != s->index || exported->bind == elf::STB_LOCAL)
      p.push_back(where + h.object + " is not exported");

    std::vector<uint8_t> bytes;
    if (!f.Contents(*s, &bytes)) {
      p.push_back(where + "lies outside the file");
    } else if (s->size == h.size) {
      const std::string wrong = CheckHeaderContent(h.section, bytes);
      if (!wrong.empty()) p.push_back(where + wrong + ", found \"" + Printable(bytes) + "\"");
    }
  }
  return p;
}

Problems CheckExports(const elf::File &f) {
  static const std::set<std::string> kExports = {
      "__TAP_Init_", "TAP_Main", "TAP_EventHandler", "abort", "__builtin_new", "_init", "_finit"};
  Problems p;
  for (const elf::Symbol &s : f.dynamic_symbols()) {
    if (!s.defined() || s.bind == elf::STB_LOCAL || s.name.empty()) continue;
    bool header = false;
    for (const HeaderSection &h : kHeaderSections) header = header || s.name == h.object;
    if (!header && !kExports.count(s.name))
      p.push_back("exports " + s.name + ", which other modules' code could bind to");
  }
  return p;
}

std::vector<std::string> AllowedImports() {
  std::vector<std::string> names = {
#define QUARROW_TAP_NAME(result, name, params) #name,
      QUARROW_TAP_API_TABLE(QUARROW_TAP_NAME)
#undef QUARROW_TAP_NAME
  };
  // What the recorder's C library and loader offer and the module may call.
#define QUARROW_OS_NAME(result, name, params) names.emplace_back(#name);
#define QUARROW_HELPER_NAME(name) names.emplace_back(#name);
  QUARROW_OS_CALL_TABLE(QUARROW_OS_NAME)
  QUARROW_C_HELPERS(QUARROW_HELPER_NAME)
#undef QUARROW_OS_NAME
#undef QUARROW_HELPER_NAME
  return names;
}

Problems CheckImports(const elf::File &f) {
  // The firmware decodes only its own image format, which we do not know: a module that
  // hands it an image of ours draws garbage.
  static const std::set<std::string> kOwnImageFormat = {"TAP_Osd_PutGd"};
  Problems p;
  const std::vector<std::string> allowed_list = AllowedImports();
  const std::set<std::string> allowed(allowed_list.begin(), allowed_list.end());
  for (const elf::Symbol &s : f.dynamic_symbols()) {
    if (s.defined() || s.name.empty()) continue;
    if (kOwnImageFormat.count(s.name))
      p.push_back("calls " + s.name + ", whose input is an image in the firmware's own format");
    else if (!allowed.count(s.name))
      p.push_back("calls " + s.name + ", which the recorder does not offer");
  }
  return p;
}

}  // namespace tapcheck
