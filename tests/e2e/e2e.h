// Helpers for end-to-end runs of tapsim with the module on a prepared disk, and the one
// recovery that the PC build (tests/e2e) and quarrow.tap under qemu (tests/qemu) both live
// through and must end alike.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/common/dbfile.h"
#include "tests/common/files.h"

namespace e2e {

namespace fs = std::filesystem;

using testfiles::Content;
using testfiles::Inode;
using testfiles::Quote;
using testfiles::ReadFile;
using testfiles::Result;
using testfiles::Shell;
using testfiles::WriteFile;

// One recording and which companions it has, relative to /DataFiles.
struct Recording {
  std::string path;
  bool inf, nav;
};

// The files of `recs` with their contents, keyed by the path below the disk.
inline std::map<std::string, std::string> MakeRecordings(const std::string &disk, const std::vector<Recording> &recs) {
  std::map<std::string, std::string> files;
  uint32_t seed = 1;
  for (const Recording &r : recs) {
    std::string base = "/DataFiles/" + r.path;
    files[base] = Content(20000 + seed * 1000, seed);
    ++seed;
    if (r.inf) files[base + ".inf"] = Content(1500, seed++);
    if (r.nav) files[base + ".nav"] = Content(3000, seed++);
  }
  for (auto &[p, bytes] : files) WriteFile(disk + p, bytes);
  return files;
}

// A loader (by default this build's tapsim) with a module, a disk and a console file.
struct Tapsim {
  std::string command = Quote(TAPSIM_PATH);
  std::string module = MODULE_PATH;
  std::string disk;
  std::string console;

  std::string Args(const std::string &uptime, uint32_t until, const std::string &extra) const {
    return " --disk " + Quote(disk) + " --uptime " + uptime + " --until " + std::to_string(until) +
           " --clock '2026-12-07 20:00:00' --console " + Quote(console) + " " + extra + " " + Quote(module);
  }
  Result Start(const std::string &uptime, uint32_t until, const std::string &extra = "") const {
    return Shell(command + Args(uptime, until, extra));
  }
};

// Recordings named in the module's database file.
inline std::vector<std::string> DatabaseNames(const std::string &dbFile) { return testdb::Names(ReadFile(dbFile)); }

#ifdef QUARROW_DB_PATH
inline Result QuarrowDb(const std::string &args) { return Shell(Quote(QUARROW_DB_PATH) + " " + args); }
#endif

// One row of `quarrow-db plan --json`.
struct Planned {
  std::string folder;
  std::optional<std::string> newName, movedAs;
};

// The tool's JSON strings hold \uXXXX only for single bytes.
inline std::optional<std::string> Unjson(const std::string &s) {
  if (s == "null") return std::nullopt;
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '\\' && s[i + 1] == 'u') {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 4), nullptr, 16));
      i += 5;
    } else if (s[i] == '\\') {
      out += s[++i];
    } else {
      out += s[i];
    }
  }
  return out;
}

// Keyed by folder/file.
inline std::map<std::string, Planned> ParsePlan(const std::string &json) {
  std::map<std::string, Planned> plan;
  const std::string str = "(\"(?:[^\"\\\\]|\\\\.)*\"|null)";
  std::regex row("\\{\"file\": " + str + ", \"folder\": " + str + ", \"new_name\": " + str +
                 ", \"kind\": " + str + ", \"moved_as\": " + str);
  for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it) {
    const std::smatch &m = *it;
    plan[*Unjson(m[2].str()) + "/" + *Unjson(m[1].str())] = {*Unjson(m[2].str()), Unjson(m[3].str()), Unjson(m[5].str())};
  }
  return plan;
}

// ---- the recovery of record -----------------------------------------------------------

// A database record without its inode numbers, which differ from disk to disk: the three
// samples, which companions were there, and the name.
struct Fingerprint {
  uint32_t rec_sample = 0, inf_sample = 0, nav_sample = 0;
  bool has_inf = false, has_nav = false;
  std::string name;
  bool operator==(const Fingerprint &) const = default;
};

inline std::vector<Fingerprint> Fingerprints(const std::string &db) {
  std::vector<Fingerprint> out;
  for (const std::string &r : testdb::Records(db)) {
    using testfiles::Word;
    out.push_back({Word(r, 8), Word(r, 24), Word(r, 40), testdb::Le64(r, 16) != 0, testdb::Le64(r, 32) != 0,
                   std::string(r.c_str() + testdb::kName)});
  }
  return out;
}

// Everything a run leaves behind that another build's run must match.
struct Outcome {
  std::vector<Result> starts;                  // --info, then the three starts
  std::map<std::string, std::string> files;    // the recordings as made: path -> bytes
  std::map<std::string, std::string> orphans;  // "#<inode>" -> original path
  std::string unknown;                         // the unrelated file's bytes
  std::string stayed;                          // the companion the check left in place
  std::string log, ini;                        // after the third start
  std::string owedIni, console;                // the settings and the echo of the recovery
  std::vector<std::string> db_names;
  std::vector<Fingerprint> db;
  std::map<std::string, std::string> zorvane;  // what /DataFiles/Zorvane holds: name -> bytes
  std::vector<std::string> quarrow_left;       // names still in /Quarrow

  // Text with every "#<inode>" of this run replaced by the original path it stood for,
  // so that runs on different disks compare.
  std::string Normalised(std::string text) const {
    for (const auto &[hash, path] : orphans) {
      for (size_t at = text.find(hash); at != std::string::npos; at = text.find(hash, at + 1)) {
        const char next = at + hash.size() < text.size() ? text[at + hash.size()] : '\0';
        if (next >= '0' && next <= '9') continue;  // a longer number
        text.replace(at, hash.size(), "#<" + path + ">");
      }
    }
    return text;
  }

  // Normalised, and each run of "recovered" lines sorted: the module renames in the order
  // of the "#<inode>" names, which follows the inode numbers that the disk handed out.
  std::string Comparable(const std::string &text) const {
    std::vector<std::string> lines;
    std::string normalised = Normalised(text);
    for (size_t start = 0; start < normalised.size();) {
      size_t end = normalised.find('\n', start);
      end = end == std::string::npos ? normalised.size() : end + 1;
      lines.push_back(normalised.substr(start, end - start));
      start = end;
    }
    auto recovered = [](const std::string &line) { return line.find(" recovered '") != std::string::npos; };
    for (auto run = lines.begin(); run != lines.end();) {
      if (!recovered(*run)) {
        ++run;
        continue;
      }
      auto end = std::find_if_not(run, lines.end(), recovered);
      std::sort(run, end);
      run = end;
    }
    std::string out;
    for (const std::string &line : lines) out += line;
    return out;
  }
};

// The module's header fields as the loader shows them; a first start soon after power-on,
// past the first scan; the file-system check orphans the recordings into /Quarrow as
// "#<inode>" (one companion stays, one unrelated file joins); the next start moves them
// out, gives them back and shows the box; a third start shows it again (it is owed), and
// the OK key clears it.
inline Outcome RunScenario(Tapsim sim, const std::string &root, const std::string &host = "") {
  Outcome out;
  sim.disk = root + "/disk";
  sim.console = root + "/console.txt";
  fs::create_directories(sim.disk + "/DataFiles");
  out.files = MakeRecordings(sim.disk, {{"Tatort.rec", true, true},
                                        {"Die Sendung mit der Maus.rec", true, true},
                                        {"K\xE4se und M\xFC\x64igkeit.rec", true, false},  // ISO 8859-1, no .nav
                                        {"Serien/Folge 1.rec", true, true},
                                        {"Serien/Folge 2.rec", false, false}});
  out.starts.push_back(Shell(sim.command + " --info " + Quote(sim.module)));
  out.starts.push_back(sim.Start("35.27", 12100, host));

  fs::create_directories(sim.disk + "/Quarrow");
  for (const auto &[path, bytes] : out.files) {
    if (path == "/DataFiles/Tatort.rec.nav") continue;
    const std::string hash = "#" + std::to_string(Inode(sim.disk + path));
    fs::rename(sim.disk + path, sim.disk + "/Quarrow/" + hash);
    out.orphans[hash] = path;
  }
  out.unknown = "not a recording at all, twenty-seven bytes";
  WriteFile(sim.disk + "/Quarrow/#999999", out.unknown);

  const std::string settings = sim.disk + "/ProgramFiles/Settings/Zorvane/";
  out.starts.push_back(sim.Start("600", 200, host));
  out.owedIni = ReadFile(settings + "Quarrow.ini");
  out.console = ReadFile(sim.console);  // each start writes it anew
  out.starts.push_back(sim.Start("600", 400, host + " --key 0x1001E@300 --key 0x1001E@350"));

  out.stayed = ReadFile(sim.disk + "/DataFiles/Tatort.rec.nav");
  out.log = ReadFile(settings + "Quarrow.log");
  out.ini = ReadFile(settings + "Quarrow.ini");
  out.db_names = DatabaseNames(settings + "Quarrow.db");
  out.db = Fingerprints(ReadFile(settings + "Quarrow.db"));
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(sim.disk + "/DataFiles/Zorvane", ec))
    out.zorvane[e.path().filename()] = ReadFile(e.path());
  for (const auto &e : fs::directory_iterator(sim.disk + "/Quarrow", ec)) out.quarrow_left.push_back(e.path().filename());
  return out;
}

// Everything the scenario must end with, on any build.
inline void ExpectRecovered(const Outcome &run) {
  ASSERT_EQ(run.starts.size(), 4u);
  for (const char *field : {"Quarrow V2.0", "V2.0", "Tamorbel", "Move Quarrow files into DataFiles"})
    EXPECT_NE(run.starts[0].output.find(field), std::string::npos) << field << "\n" << run.starts[0].output;
  for (const Result &r : run.starts) ASSERT_EQ(r.status, 0) << r.output;
  for (size_t i = 1; i < run.starts.size(); ++i)
    EXPECT_NE(run.starts[i].output.find("loaded: Quarrow V2.0"), std::string::npos) << run.starts[i].output;
  EXPECT_NE(run.starts[1].output.find("stopped at tick 12100"), std::string::npos) << run.starts[1].output;
  std::string keys = run.starts[3].output;
  std::transform(keys.begin(), keys.end(), keys.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_NE(keys.find("tick 300: key 0x1001e -> 0x0\n"), std::string::npos) << keys;
  EXPECT_NE(keys.find("tick 350: key 0x1001e -> 0x1001e\n"), std::string::npos) << "the box is gone after OK\n" << keys;

  // Every orphan has its name and its very bytes back; the unrelated file and the
  // companion left in place are untouched.
  EXPECT_TRUE(run.quarrow_left.empty());
  for (const auto &[hash, path] : run.orphans) {
    const std::string name = fs::path(path).filename();
    SCOPED_TRACE(hash + " " + path);
    EXPECT_EQ(run.zorvane.count(hash), 0u);
    ASSERT_EQ(run.zorvane.count(name), 1u);
    EXPECT_EQ(run.zorvane.at(name), run.files.at(path));
  }
  ASSERT_EQ(run.zorvane.count("#999999"), 1u);
  EXPECT_EQ(run.zorvane.at("#999999"), run.unknown);
  EXPECT_EQ(run.zorvane.size(), run.orphans.size() + 1);
  EXPECT_EQ(run.stayed, run.files.at("/DataFiles/Tatort.rec.nav"));

  // The samples are the recordings' own bytes 8 to 11 (the .nav's 12 to 15), read as stored.
  EXPECT_EQ(run.db_names.size(), 5u);
  ASSERT_EQ(run.db.size(), 5u);
  for (const Fingerprint &f : run.db) {
    SCOPED_TRACE(f.name);
    std::string path;
    for (const auto &[p, bytes] : run.files)
      if (fs::path(p).filename() == f.name) path = p;
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(f.rec_sample, testfiles::Word(run.files.at(path), 8));
    EXPECT_EQ(f.has_inf, run.files.count(path + ".inf") == 1);
    EXPECT_EQ(f.has_nav, run.files.count(path + ".nav") == 1);
    if (f.has_nav) {
      EXPECT_EQ(f.nav_sample, testfiles::Word(run.files.at(path + ".nav"), 12));
    }
  }

  // The log tells it in order, with the recorder's clock: the first scan at tick 12000,
  // the intake at 100, the acknowledgement at 300 of the third start.
  EXPECT_NE(run.log.find("2026-12-07 20:02:00 added 'Tatort.rec' to the DB\r\n"), std::string::npos) << run.log;
  const std::string found = "found " + std::to_string(run.orphans.size() + 1) + " new files in the Quarrow folder";
  const size_t found_at = run.log.find("2026-12-07 20:00:01 " + found + "\r\n");
  EXPECT_NE(found_at, std::string::npos) << run.log;
  for (const auto &[hash, path] : run.orphans) {
    const std::string line = "2026-12-07 20:00:01 recovered '" + hash + "' to '" +
                             std::string(fs::path(path).filename()) + "'\r\n";
    const size_t at = run.log.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    EXPECT_GT(at, found_at) << line;
  }
  EXPECT_EQ(testfiles::Occurrences(run.log, " found "), 1) << "nothing new at the third start\n" << run.log;
  EXPECT_NE(run.log.find("2026-12-07 20:00:03 Dialog ack'd by user\r\n"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("#999999"), std::string::npos);
  EXPECT_NE(run.console.find("Quarrow: " + found), std::string::npos) << run.console;
  // The message is owed until the key; then the flag is cleared.
  EXPECT_NE(run.owedIni.find("InformUser=1"), std::string::npos) << run.owedIni;
  EXPECT_NE(run.ini.find("InformUser=0"), std::string::npos) << run.ini;
}

}  // namespace e2e
