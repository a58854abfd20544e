// The properties the recorder's firmware relies on when it loads quarrow.tap. Each check
// returns what it found wrong, one line per fault, empty when the file is sound.
#pragma once

#include <string>
#include <vector>

#include "sim/elf_header.h"

namespace elf = sim::elf;

namespace tapcheck {

using Problems = std::vector<std::string>;

// ELF32, little-endian, MIPS, shared object, MIPS32 instruction set, o32, PIC.
Problems CheckShape(const elf::File &f);
// Needs exactly the plug-in API library, the loader and the C library, in that order;
// no text relocations, no symbol versions, no search path, no constructors, a classic hash
// table; _init is the initialisation entry, _finit exported but not registered, the entry
// points exported.
Problems CheckDynamic(const elf::File &f);
// The seven header sections, one exported object each, sizes and contents exact.
Problems CheckHeaderSections(const elf::File &f);
// Every undefined dynamic symbol is a plug-in API name or a C library / loader
// function that the recorder's libraries offer, and none is a drawing call whose input
// is an image in the firmware's own format (TAP_Osd_PutGd).
Problems CheckImports(const elf::File &f);

// The module shows the recorder only its header objects, entry points and runtime hooks.
Problems CheckExports(const elf::File &f);

// The names CheckImports accepts.
std::vector<std::string> AllowedImports();

}  // namespace tapcheck
