// Helpers for end-to-end runs of tapsim with the module on a prepared disk.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/common/files.h"

namespace e2e {

namespace fs = std::filesystem;

inline std::string Quote(const std::string &s) {
  std::string out = "'";
  for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Result {
  int status = -1;
  std::string output;  // standard output and error together
};

inline Result Shell(const std::string &command) {
  Result r;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

using testfiles::Inode;
using testfiles::ReadFile;
using testfiles::WriteFile;

// Bytes that look like a recording's: distinct at every offset, seeded per file.
inline std::string Content(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x);
  }
  return s;
}

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

struct Tapsim {
  std::string exe = TAPSIM_PATH;
  std::string module = MODULE_PATH;
  std::string disk;
  std::string console;

  Result Start(const std::string &uptime, uint32_t until, const std::string &extra = "") const {
    std::string cmd = Quote(exe) + " --disk " + Quote(disk) + " --uptime " + uptime +
                      " --until " + std::to_string(until) + " --clock '2026-12-07 20:00:00'" +
                      " --console " + Quote(console) + " " + extra + " " + Quote(module);
    return Shell(cmd);
  }
};

// The records in use of a sound database file, 176 bytes each (none for any other file).
inline std::vector<std::string> DatabaseRecords(const std::string &db) {
  std::vector<std::string> records;
  if (db.size() < 12) return records;
  int32_t version, size, count;
  std::memcpy(&version, db.data(), 4);
  std::memcpy(&size, db.data() + 4, 4);
  std::memcpy(&count, db.data() + 8, 4);
  if (version != 1 || count < 0 || count > size || db.size() != 12 + 176ull * size) return records;
  for (int32_t i = 0; i < count; ++i) records.push_back(db.substr(12 + 176 * static_cast<size_t>(i), 176));
  return records;
}

// Recordings named in the module's database file.
inline std::vector<std::string> DatabaseNames(const std::string &dbFile) {
  std::vector<std::string> names;
  for (const std::string &r : DatabaseRecords(ReadFile(dbFile))) names.emplace_back(r.c_str() + 48);
  return names;
}


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

}  // namespace e2e
