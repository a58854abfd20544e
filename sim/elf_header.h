// Reads a module's header sections from its file, as the recorder does before loading it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim::elf {

// The named sections of a little-endian ELF file (32- or 64-bit). False with a reason when
// the file cannot be read or is not such a file; sections that are absent are simply not
// in *out.
bool read_sections(const std::string &path, const std::vector<std::string> &names,
                   std::map<std::string, std::vector<uint8_t>> *out, std::string *error);

struct ModuleHeader {
  uint32_t header_value = 0;  // the word after "TFAPMIPS"
  uint32_t id = 0;
  std::string program_name, program_version, author_name, description, etcinfo;
};

// The seven header sections: present, at least their sizes, header starting "TFAPMIPS".
bool read_module_header(const std::string &path, ModuleHeader *header, std::string *error);

}  // namespace sim::elf
