// Writes a disk for the benchmark: N recordings, each with .inf and .nav, spread over
// three levels of folders under /DataFiles (1 + 10 + 100 + up to 890, at most 1,001).
//   gen_disk DISK N             the disk
//   gen_disk flat DISK N        the same recordings, all directly in /DataFiles (the folder
//                               every later scan of a load lists)
//   gen_disk orphan DISK F      moves F files (recordings with their companions, in name
//                               order) into /Quarrow under #<inode> names
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

std::vector<std::string> Folders(long n) {
  std::vector<std::string> f = {""};
  for (int a = 0; a < 10; ++a) f.push_back("/Gruppe " + std::to_string(a));
  for (int a = 0; a < 10; ++a)
    for (int b = 0; b < 10; ++b) f.push_back("/Gruppe " + std::to_string(a) + "/Reihe " + std::to_string(b));
  const long deep = std::min(890L, n / 50);
  for (long i = 0; i < deep; ++i)
    f.push_back("/Gruppe " + std::to_string(i % 10) + "/Reihe " + std::to_string(i / 10 % 10) + "/Staffel " +
                std::to_string(i / 100));
  return f;
}

void Put(const std::string &path, uint32_t seed) {
  char bytes[24];
  uint32_t x = seed * 2654435761u + 7;
  for (char &c : bytes) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  std::ofstream(path, std::ios::binary).write(bytes, sizeof bytes);
}

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "orphan") {
    const std::string disk = argv[2];
    const long files = std::atol(argv[3]);
    fs::create_directories(disk + "/Quarrow");
    std::vector<std::string> recs;
    for (auto &e : fs::recursive_directory_iterator(disk + "/DataFiles"))
      if (e.is_regular_file() && e.path().extension() == ".rec") recs.push_back(e.path().string());
    std::sort(recs.begin(), recs.end());
    long n = 0;
    for (const std::string &r : recs) {
      for (const char *suffix : {"", ".inf", ".nav"}) {
        if (n >= files) return 0;
        const std::string from = r + suffix;
        struct stat st;
        if (lstat(from.c_str(), &st) != 0) continue;
        fs::rename(from, disk + "/Quarrow/#" + std::to_string(st.st_ino));
        ++n;
      }
    }
    return 0;
  }
  const bool flat = argc == 4 && std::string(argv[1]) == "flat";
  if (argc != 3 && !flat) {
    std::fprintf(stderr, "usage: gen_disk DISK N | gen_disk flat DISK N | gen_disk orphan DISK FILES\n");
    return 2;
  }
  const std::string disk = argv[flat ? 2 : 1];
  const long n = std::atol(argv[flat ? 3 : 2]);
  const std::vector<std::string> folders = flat ? std::vector<std::string>{""} : Folders(n);
  for (const std::string &f : folders) fs::create_directories(disk + "/DataFiles" + f);
  fs::create_directories(disk + "/ProgramFiles");
  for (long i = 0; i < n; ++i) {
    const std::string rec =
        disk + "/DataFiles" + folders[static_cast<size_t>(i) % folders.size()] + "/Sendung " + std::to_string(i) + ".rec";
    Put(rec, static_cast<uint32_t>(3 * i));
    Put(rec + ".inf", static_cast<uint32_t>(3 * i + 1));
    Put(rec + ".nav", static_cast<uint32_t>(3 * i + 2));
  }
  return 0;
}
