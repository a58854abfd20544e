// Checks quarrow.tap from the mipsel build the way the recorder's firmware will meet it,
// and shows with deliberately faulty probe modules that each check catches its fault.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "tests/common/files.h"
#include "tests/elf/mipsel_build.h"
#include "tests/elf/tapcheck.h"

namespace {

std::string Join(const tapcheck::Problems &problems) {
  std::string out;
  for (const std::string &p : problems) out += "\n  " + p;
  return out;
}

bool Mentions(const tapcheck::Problems &problems, const std::string &text) {
  for (const std::string &p : problems)
    if (p.find(text) != std::string::npos) return true;
  return false;
}

constexpr const char *kNoCrossCompiler =
    "mipsel-linux-gnu-g++ is not installed, so there is no recorder build to check";

// Loads a file of the mipsel build (the caller has made sure the cross compiler is
// there): a failure when the file was not built.
bool LoadBuilt(const std::string &path, std::optional<elf::File> *out) {
  if (!mipsel::IsFile(path)) {
    ADD_FAILURE() << path << " is missing: build the mipsel preset first (make tap)";
    return false;
  }
  elf::File file;
  std::string error;
  if (!file.Load(path, &error) || !file.ReadLinkage(&error)) {
    ADD_FAILURE() << error;
    return false;
  }
  *out = std::move(file);
  return true;
}

class TapFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (mipsel::CrossCompiler().empty()) GTEST_SKIP() << kNoCrossCompiler;
    if (!LoadBuilt(mipsel::TapPath(), &tap_)) FAIL();
  }
  std::optional<elf::File> tap_;
};

// Every check the recorder's loader needs passed, each reporting what it found wrong.
void ExpectEveryCheckPasses(const elf::File &f) {
  const std::pair<const char *, tapcheck::Problems (*)(const elf::File &)> checks[] = {
      {"a MIPS32 o32 position-independent shared object", tapcheck::CheckShape},
      {"the dynamic section the loader needs", tapcheck::CheckDynamic},
      {"header sections carrying the module's identity", tapcheck::CheckHeaderSections},
      {"imports only what the recorder offers", tapcheck::CheckImports},
      {"exports only header objects and entry points", tapcheck::CheckExports}};
  for (const auto &[what, check] : checks) {
    const tapcheck::Problems problems = check(f);
    EXPECT_TRUE(problems.empty()) << what << Join(problems);
  }
}

TEST_F(TapFile, IsWhatTheRecordersLoaderNeeds) {
  ExpectEveryCheckPasses(*tap_);
  // The module reaches the host through the API objects, not through nothing at all.
  EXPECT_NE(tap_->dynamic_symbol("TAP_MemAlloc"), nullptr);
}

TEST_F(TapFile, CarriesOnlyWhatTheRecorderLoadsWithin128KiB) {
  // Symbol tables, debugger records and compiler notes are never loaded; without them and
  // with what no entry point reaches left out, the file stays within its budget.
  for (const char *name : {".symtab", ".strtab", ".pdr", ".comment", ".eh_frame", ".debug_info"})
    EXPECT_EQ(tap_->section(name), nullptr) << "carries " << name;
  std::ifstream in(mipsel::TapPath(), std::ios::binary | std::ios::ate);
  ASSERT_TRUE(in.good());
  EXPECT_LE(static_cast<long long>(in.tellg()), 128 * 1024);
}

TEST_F(TapFile, ReaderRejectsEveryTruncationOfIt) {
  // A cut-off copy must give a clear error, never a crash or a silent pass.
  std::ifstream in(mipsel::TapPath(), std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 1000u);
  for (size_t cut : {size_t{0}, size_t{3}, size_t{51}, bytes.size() / 2, bytes.size() - 1}) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
    elf::File f;
    std::string error;
    EXPECT_FALSE(f.Parse(part, "the cut copy", &error) && f.ReadLinkage(&error)) << "cut at " << cut;
    EXPECT_NE(error.find("the cut copy"), std::string::npos) << error;
  }
}

// Builds probe variants with the cross compiler, each with one fault, and checks that
// the right check reports it.
class FaultyProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    compiler_ = mipsel::CrossCompiler();
    if (compiler_.empty()) GTEST_SKIP() << kNoCrossCompiler;
    stubs_ = mipsel::BuildDir() + "/toolchain/stubs";
    if (!mipsel::IsFile(stubs_ + "/libc.so.0")) FAIL() << "no link stubs in " << stubs_ << ": build the mipsel preset";
  }

  // compile: extra compiler flags; link: how the libraries are given (the recipe by default).
  elf::File Build(const std::string &compile, const std::string &link = "") {
    const std::string out = dir_.path() + "/probe.tap";
    const std::string libs = link.empty() ? "-nostdlib -Wl,--hash-style=sysv -Wl,--no-as-needed " +
                                                stubs_ + "/libtap.so " + stubs_ + "/libdl.so.0 " + stubs_ +
                                                "/libc.so.0 -lgcc"
                                          : link;
    const std::string command = compiler_ + " -std=c++20 -march=mips32 -mabi=32 -O2 -fno-exceptions -fno-rtti " +
                                "-fno-threadsafe-statics -I" QUARROW_SOURCE_DIR " -shared " + compile + " -o " +
                                out + " " QUARROW_SOURCE_DIR "/tests/elf/probe_module.cpp " + libs;
    const testfiles::Result r = testfiles::Shell(command);
    if (r.status != 0) throw std::runtime_error("probe did not build: " + command + "\n" + r.output);
    elf::File f;
    std::string error;
    if (!f.Load(out, &error) || !f.ReadLinkage(&error)) throw std::runtime_error(error);
    return f;
  }

  std::string compiler_, stubs_;
  testfiles::TempDir dir_{"quarrow-elf-"};
};

TEST_F(FaultyProbe, SoundProbeBuiltHereAlsoPasses) {
  // The baseline for the variants below: only the one changed flag makes them fail.
  ExpectEveryCheckPasses(Build("-fPIC"));
}

// Each variant has one fault, which the check meant for it reports (where `alone`, as
// the only thing that check finds).
TEST_F(FaultyProbe, EachFaultIsReportedByItsCheck) {
  using Check = tapcheck::Problems (*)(const elf::File &);
  struct Variant {
    const char *what;
    std::string compile, link;  // link "": the recipe
    std::vector<std::pair<Check, std::string>> reports;
    bool alone;
  };
  const std::string libs = stubs_ + "/libtap.so " + stubs_ + "/libdl.so.0 " + stubs_ + "/libc.so.0 -lgcc";
  const Variant variants[] = {
      {"an internal function exported", "-DPROBE_EXTRA_EXPORT", "", {{tapcheck::CheckExports, "exports probe_helper"}}, true},
      {"a later instruction set", "-march=mips32r2 -Wa,-march=mips32r2", "", {{tapcheck::CheckShape, "not MIPS32"}}, false},
      // Linked the ordinary way: the C++ runtime and the build machine's libraries come in.
      {"the C++ runtime", "-DPROBE_CXX_RUNTIME", "-nostartfiles " + stubs_ + "/libtap.so",
       {{tapcheck::CheckDynamic, "libstdc++"}, {tapcheck::CheckDynamic, "DT_VERNEED"},
        {tapcheck::CheckImports, "calls _Znwj"}},  // operator new
       false},
      {"a function the recorder lacks", "-DPROBE_EXTRA_IMPORT", "", {{tapcheck::CheckImports, "calls puts"}}, true},
      {"a drawing call that takes the firmware's image format", "-DPROBE_PUT_GD", "",
       {{tapcheck::CheckImports, "calls TAP_Osd_PutGd"}}, true},
      {"a text relocation", "-DPROBE_TEXTREL", "", {{tapcheck::CheckDynamic, "text relocations"}}, false},
      {"a short header field", "-DPROBE_SHORT_NAME", "",
       {{tapcheck::CheckHeaderSections, "._tap_program_name: is 32 bytes instead of 64"}}, false},
      {"a wrong author", "-DPROBE_WRONG_AUTHOR", "",
       {{tapcheck::CheckHeaderSections, "._tap_author_name: expected \"Tamorbel\""}}, false},
      {"a constructor", "-DPROBE_CONSTRUCTOR", "", {{tapcheck::CheckDynamic, "constructors"}}, true},
      {"the build machine's search path", "",
       "-nostdlib -Wl,--hash-style=sysv -Wl,--no-as-needed -Wl,-rpath," + stubs_ + " " + libs,
       {{tapcheck::CheckDynamic, stubs_}}, true},
      // Linked without the loader's stub, and with another function as initialisation entry.
      {"no loader library, another init entry", "",
       "-nostdlib -Wl,-init=TAP_Main " + stubs_ + "/libtap.so " + stubs_ + "/libc.so.0",
       {{tapcheck::CheckDynamic, "instead of exactly"}, {tapcheck::CheckDynamic, "DT_INIT is not _init"}}, false},
  };
  for (const Variant &v : variants) {
    SCOPED_TRACE(v.what);
    const elf::File f = Build("-fPIC " + v.compile, v.link);
    for (const auto &[check, text] : v.reports) {
      const tapcheck::Problems problems = check(f);
      EXPECT_TRUE(Mentions(problems, text)) << text << Join(problems);
      if (v.alone) {
        EXPECT_EQ(problems.size(), 1u) << Join(problems);
      }
    }
  }
}

}  // namespace
