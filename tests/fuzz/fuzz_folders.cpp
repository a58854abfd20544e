// Folder file: a Quarrow.folders made of the input (raw bytes, or a well-formed file built
// from it, perhaps with one byte changed) is loaded, noted into and saved, with the host's
// allocator failing now and then. A load never gives a recording a folder the file did not
// pair it with, and after a save without a fault the next load gives exactly what was held.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/folders.h"
#include "harness.h"
#include "lib/hdd/hdd.h"
#include "tests/common/foldersfile.h"

using namespace quarrow;

namespace {

constexpr char kFile[] = "/ProgramFiles/Settings/Zorvane/Quarrow.folders";
using Key = std::pair<uint64_t, uint32_t>;

std::string Folder(FuzzedDataProvider &in) {
  static const char *const kFolders[] = {"/DataFiles", "/DataFiles/A", "/DataFiles/A/B", "/DataFiles/Zorvane",
                                         "/DataFiles/../x", "/DataFiles/Zorvane/A"};
  if (in.ConsumeBool()) return kFolders[in.ConsumeIntegralInRange<size_t>(0, 5)];
  return "/DataFiles/" + in.ConsumeRandomLengthString(24);
}

}  // namespace

QUARROW_FUZZ_DISK_TARGET()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FreshRecorder();
  FuzzedDataProvider in(data, size);
  // What the file pairs: every (recording, folder) it holds; a load may keep fewer, no other.
  std::multimap<Key, std::string> paired;
  std::string file;
  if (in.ConsumeBool()) {
    file = in.ConsumeRandomLengthString(2048);
  } else {
    std::vector<std::string> folders(in.ConsumeIntegralInRange<size_t>(1, 6));
    for (std::string &f : folders) f = Folder(in);
    std::vector<FolderRecord> records(in.ConsumeIntegralInRange<size_t>(0, 300));
    for (FolderRecord &r : records) {
      r = {in.ConsumeIntegralInRange<uint64_t>(0, 40), in.ConsumeIntegralInRange<uint32_t>(0, 2),
           in.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(folders.size()))};
      if (r.folder < folders.size()) paired.emplace(Key{r.inode, r.sample}, folders[r.folder]);
    }
    file = testfolders::File(folders, records);
    if (!file.empty() && in.ConsumeBool()) file[in.ConsumeIntegralInRange<size_t>(0, file.size() - 1)] ^= 0x20;
  }
  if (in.ConsumeBool()) fuzz::WriteFile(kFile, file.data(), file.size());
  if (!HDD_ChangeDir("/DataFiles")) std::abort();

  if (in.ConsumeIntegralInRange(0, 7) == 0) sim::fault(sim::Call::TAP_MemAlloc).nth(in.ConsumeIntegralInRange(1, 4));
  Folders_Load();
  sim::clear_faults();
  FUZZ_CHECK(sim::current_dir() == "/DataFiles");
  char folder[FOLDER_PATH_SIZE];
  std::map<Key, std::string> model;
  for (uint64_t inode = 0; inode <= 40; ++inode) {
    for (uint32_t sample = 0; sample <= 2; ++sample) {
      if (!Folders_Of(inode, sample, folder)) continue;
      bool known = false;
      for (auto [it, end] = paired.equal_range({inode, sample}); it != end; ++it) known = known || it->second == folder;
      FUZZ_CHECK(known);
      FUZZ_CHECK(Folders_PathValid(folder, std::strlen(folder)));
      model[{inode, sample}] = folder;
    }
  }

  const std::string kLog = "/ProgramFiles/Settings/Zorvane/Quarrow.log";
  std::string log;
  fuzz::ReadFile(kLog, &log);
  const bool unread = Folders_Unread();
  while (in.remaining_bytes() > 0) {
    const Key key{in.ConsumeIntegralInRange<uint64_t>(0, 40), in.ConsumeIntegralInRange<uint32_t>(0, 2)};
    const std::string f = Folder(in).c_str();  // as the module takes it: up to a NUL
    if (in.ConsumeIntegralInRange(0, 15) == 0) sim::fault(sim::Call::TAP_MemAlloc).nth(1);
    Folders_Note(key.first, key.second, f.c_str());
    sim::clear_faults();
    if (Folders_PathValid(f.c_str(), f.size())) model[key] = f;
  }
  fuzz::ReadFile(kLog, &log);
  const bool whole = !unread && log.find("failed to reserve memory for the folders") == std::string::npos;
  Folders_Save();
  Folders_Destroy();
  FUZZ_CHECK(TAPDirStackDepth == -1);
  FUZZ_CHECK(sim::outstanding_blocks() == 0);
  fuzz::ReadFile(kLog, &log);
  FUZZ_CHECK(unread == (log.find("failed to save the folders") != std::string::npos));

  // Refused: the file as it was. Saved with every note taken: exactly what memory held.
  Folders_Load();
  for (uint64_t inode = 0; inode <= 40; ++inode) {
    for (uint32_t sample = 0; sample <= 2; ++sample) {
      const bool found = Folders_Of(inode, sample, folder);
      const auto it = model.find({inode, sample});
      if (whole) {
        FUZZ_CHECK(found == (it != model.end()));
        if (found) FUZZ_CHECK(it->second == folder);
      } else if (unread && found) {
        bool known = false;
        for (auto [p, end] = paired.equal_range({inode, sample}); p != end; ++p) known = known || p->second == folder;
        FUZZ_CHECK(known);
      }
    }
  }
  Folders_Destroy();
  return 0;
}
