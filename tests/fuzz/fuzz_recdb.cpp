// Fingerprint database: a database file made of the input's bytes is loaded, added to,
// saved and loaded again, checked against a plain model of the entries.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/quarrow.h"
#include "harness.h"
#include "lib/hdd/hdd.h"

namespace {

constexpr char kDB[] = "/ProgramFiles/Settings/Zorvane/Quarrow.db";

std::vector<RecDBEntry> Snapshot() {
  std::vector<RecDBEntry> out;
  for (int32_t i = 0; i < RecDBEntries; ++i) out.push_back(*RecDB_At(i));
  return out;
}

bool Same(const RecDBEntry &a, const RecDBEntry &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CheckInvariants() {
  FUZZ_CHECK(RecDBEntries >= 0 && RecDBEntries <= RecDBSize);
  if (RecDB == nullptr) FUZZ_CHECK(RecDBSize == 0 && RecDBEntries == 0);
  if (RecDBSize > 0) FUZZ_CHECK(RecDB != nullptr);
  for (int32_t i = 0; i < RecDBEntries; ++i) FUZZ_CHECK(memchr(RecDB_At(i)->RecName, 0, sizeof RecDB_At(i)->RecName));
  // Unused slots are zero: a save writes them as they are.
  static const RecDBEntry zero{};
  for (int32_t i = RecDBEntries; i < RecDBSize; ++i) FUZZ_CHECK(Same(*RecDB_At(i), zero));
  FUZZ_CHECK(TAPDirStackDepth == -1);
}

// What the database file must hold for the entries now in memory.
std::string FileImage() {
  std::string out(12, '\0');
  uint32_t header[3] = {1, static_cast<uint32_t>(RecDBSize), static_cast<uint32_t>(RecDBEntries)};
  std::memcpy(out.data(), header, 12);
  if (RecDB != nullptr) out.append(reinterpret_cast<const char *>(RecDB), sizeof(RecDBEntry) * RecDBSize);
  return out;
}

RecDBEntry MakeEntry(FuzzedDataProvider &in) {
  RecDBEntry e;
  std::memset(&e, 0, sizeof e);
  // Small ranges, so that identities repeat and refreshes happen.
  e.RecInode = in.ConsumeIntegralInRange<uint64_t>(0, 7);
  e.RecSample = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  e.InfInode = in.ConsumeIntegralInRange<uint64_t>(0, 3);
  e.InfSample = in.ConsumeIntegral<uint8_t>();
  e.NavInode = in.ConsumeIntegralInRange<uint64_t>(0, 3);
  e.NavSample = in.ConsumeIntegral<uint8_t>();
  e.Padding1 = in.ConsumeIntegral<uint32_t>();  // never stored
  std::string name = in.ConsumeRandomLengthString(140);
  // A caller's record may fill the whole name field without a terminator.
  std::memcpy(e.RecName, name.data(), name.size() < sizeof e.RecName ? name.size() : sizeof e.RecName);
  return e;
}

// The model of RecDB_Add: the first entry with the same identity is refreshed, else appended.
int ModelAdd(std::vector<RecDBEntry> &model, const RecDBEntry &e) {
  RecDBEntry stored = e;
  stored.Padding1 = stored.Padding2 = stored.Padding3 = 0;
  size_t n = strnlen(e.RecName, sizeof e.RecName - 1);
  std::memset(stored.RecName, 0, sizeof stored.RecName);
  std::memcpy(stored.RecName, e.RecName, n);
  for (RecDBEntry &known : model) {
    if (known.RecInode != e.RecInode || known.RecSample != e.RecSample) continue;
    RecDBEntry refreshed = known;
    // A companion missing now keeps what is stored of it.
    if (e.InfInode != 0) {
      refreshed.InfInode = e.InfInode;
      refreshed.InfSample = e.InfSample;
    }
    if (e.NavInode != 0) {
      refreshed.NavInode = e.NavInode;
      refreshed.NavSample = e.NavSample;
    }
    if (std::strcmp(known.RecName, stored.RecName) != 0) std::memcpy(refreshed.RecName, stored.RecName, sizeof stored.RecName);
    bool changed = !Same(refreshed, known);
    known = refreshed;
    return changed ? 1 : 0;
  }
  model.push_back(stored);
  return 1;
}

bool MatchesModel(const std::vector<RecDBEntry> &model) {
  if (static_cast<size_t>(RecDBEntries) != model.size()) return false;
  for (size_t i = 0; i < model.size(); ++i)
    if (!Same(*RecDB_At(i), model[i])) return false;
  return true;
}

}  // namespace

QUARROW_FUZZ_DISK_TARGET()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FreshRecorder();
  FuzzedDataProvider in(data, size);
  const size_t fileSize = in.ConsumeIntegralInRange<size_t>(0, 12 + 176 * 40);
  std::vector<uint8_t> file = in.ConsumeBytes<uint8_t>(fileSize);
  if (!in.ConsumeBool()) fuzz::WriteFile(kDB, file.data(), file.size());
  if (!HDD_ChangeDir("/DataFiles")) std::abort();

  RecDB_Load();
  FUZZ_CHECK(sim::current_dir() == "/DataFiles");
  CheckInvariants();
  std::vector<RecDBEntry> model = Snapshot();
  // Whether the entries in memory are known to be complete (no fault since the load).
  bool faultFree = true;

  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0:
      case 1: {
        RecDBEntry e = MakeEntry(in);
        const bool fail = in.ConsumeIntegralInRange(0, 7) == 0;
        if (fail) sim::fault(sim::Call::TAP_MemAlloc).nth(1);
        int r = RecDB_Add(&e);
        sim::clear_faults();
        CheckInvariants();
        std::vector<RecDBEntry> before = model;
        int expected = ModelAdd(model, e);
        if (fail && r == 0 && MatchesModel(before)) {
          model = before;  // the growth failed and left the database as it was
          break;
        }
        FUZZ_CHECK(r == expected);
        FUZZ_CHECK(MatchesModel(model));
        break;
      }
      case 2: {  // save: the file is exactly the memory image, and loads back to it
        std::string image = FileImage();
        std::string old;
        bool hadFile = fuzz::ReadFile(kDB, &old);
        RecDB_Save();
        FUZZ_CHECK(sim::current_dir() == "/DataFiles");
        std::string now;
        bool haveFile = fuzz::ReadFile(kDB, &now);
        if (RecDB == nullptr) {
          FUZZ_CHECK(haveFile == hadFile && (!haveFile || now == old));
          break;
        }
        if (faultFree) FUZZ_CHECK(haveFile && now == image);
        // Old or new, never anything in between.
        if (haveFile) FUZZ_CHECK(now == image || (hadFile && now == old));
        if (haveFile && now == image) {
          std::vector<RecDBEntry> kept = Snapshot();
          int32_t keptSize = RecDBSize;
          RecDB_Destroy();
          RecDB_Load();
          CheckInvariants();
          if (faultFree) {
            FUZZ_CHECK(RecDBSize == keptSize);
            FUZZ_CHECK(MatchesModel(kept));
          }
          model = Snapshot();
        }
        break;
      }
      case 3: {  // a file operation fails during the next steps
        std::vector<sim::Call> calls;  // every call on the disk
        for (int i = 0; i < sim::CALL_COUNT; ++i)
          if (sim::on_disk(static_cast<sim::Call>(i))) calls.push_back(static_cast<sim::Call>(i));
        sim::fault(calls[in.ConsumeIntegralInRange<size_t>(0, calls.size() - 1)])
            .nth(in.ConsumeIntegralInRange<uint64_t>(1, 6));
        faultFree = false;
        break;
      }
      default: {  // a write cut off after some bytes
        sim::cut_power_after_bytes(in.ConsumeIntegralInRange<long long>(0, 4000));
        faultFree = false;
        break;
      }
    }
  }

  sim::clear_faults();
  RecDB_Destroy();
  FUZZ_CHECK(RecDB == nullptr && RecDBSize == 0 && RecDBEntries == 0);
  FUZZ_CHECK(sim::outstanding_blocks() == 0);
  FUZZ_CHECK(sim::open_files() == 0);

  // Whatever happened, the file left behind loads into a consistent database.
  RecDB_Load();
  CheckInvariants();
  RecDB_Destroy();
  FUZZ_CHECK(sim::outstanding_blocks() == 0);
  return 0;
}
