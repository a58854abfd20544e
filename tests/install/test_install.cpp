// The install rules into a fresh prefix: the tools run from there, tapsim finds its
// library and loads the installed module, and the manual page renders and documents every
// command the tool itself lists.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/common/files.h"

namespace {

using testfiles::Quote;
using testfiles::Result;
using testfiles::Shell;

TEST(Install, ToolsAndManualWorkFromTheirPrefix) {
  testfiles::TempDir dir("quarrow-install-");
  const std::string prefix = dir.path() + "/usr";
  Result install = Shell(Quote(CMAKE_COMMAND_PATH) + " --install " + Quote(BUILD_DIR) + " --prefix " + Quote(prefix));
  ASSERT_EQ(install.status, 0) << install.output;

  const std::string tool = Quote(prefix + "/bin/quarrow-db");
  Result version = Shell(tool + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, std::string("quarrow-db ") + PROJECT_VERSION_TEXT + "\n");
  Result info = Shell(Quote(prefix + "/bin/tapsim") + " --info " + Quote(prefix + "/lib/quarrow/quarrow.so"));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("program name: Quarrow V2.0"), std::string::npos) << info.output;

  if (Shell("command -v man").status != 0) GTEST_SKIP() << "man is not installed (package man-db): the page is not rendered";
  const std::string page = prefix + "/share/man/man1/quarrow-db.1";
  Result man = Shell("MANWIDTH=100 MANPAGER=cat man --warnings -l " + Quote(page));
  ASSERT_EQ(man.status, 0) << man.output;
  EXPECT_EQ(man.output.find("warning"), std::string::npos) << man.output;
  for (const char *section : {"SYNOPSIS", "COMMANDS", "OPTIONS", "EXIT STATUS"})
    EXPECT_NE(man.output.find(section), std::string::npos) << section << "\n" << man.output;
  // Each command of --help, with its arguments as COMMAND --help gives them.
  Result help = Shell(tool + " --help");
  ASSERT_EQ(help.status, 0) << help.output;
  const std::regex command("\n  ([a-z]+) ");
  int commands = 0;
  for (std::sregex_iterator it(help.output.begin(), help.output.end(), command), end; it != end; ++it, ++commands) {
    Result usage = Shell(tool + " " + (*it)[1].str() + " --help");
    ASSERT_EQ(usage.status, 0) << usage.output;
    const std::string synopsis = usage.output.substr(0, usage.output.find('\n')).substr(std::string("usage: ").size());
    EXPECT_NE(man.output.find(synopsis), std::string::npos) << synopsis << "\n" << man.output;
  }
  EXPECT_GE(commands, 3) << help.output;
}

}  // namespace
