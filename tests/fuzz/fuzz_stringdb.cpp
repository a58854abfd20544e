// String queue: random sequences of operations, checked against a plain model (the list
// of stored strings with their offsets, and the read position).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "lib/stringdb/stringdb.h"

namespace {

struct Model {
  std::vector<std::pair<uint32_t, std::string>> strings;  // offset, text
  size_t read = 0;                                        // index of the current string
  uint32_t used = 0;                                      // bytes in use

  const std::pair<uint32_t, std::string> *Find(const std::string &s) const {
    for (const auto &e : strings)
      if (e.second == s) return &e;
    return nullptr;
  }
  bool AtEnd() const { return read >= strings.size(); }
  uint32_t CurrentOffset() const { return AtEnd() ? used : strings[read].first; }
};

void CheckAgainst(StringDB *db, const Model &m) {
  FUZZ_CHECK(StringDBEOF(db) == m.AtEnd());
  if (db->Data == nullptr) {
    FUZZ_CHECK(m.strings.empty());
    return;
  }
  FUZZ_CHECK(static_cast<uint64_t>(db->WritePtr - db->Data) == m.used);
  FUZZ_CHECK(m.used < db->AllocSize);  // room for the end mark
  FUZZ_CHECK(db->WritePtr[0] == '\0');
  FUZZ_CHECK(StringDBCurrent(db) == m.CurrentOffset());
  for (const auto &e : m.strings) {
    const char *s = StringDBGet(db, e.first);
    FUZZ_CHECK(s != nullptr && e.second == s);
  }
}

}  // namespace

QUARROW_FUZZ_DISK_TARGET()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::reset();
  FuzzedDataProvider in(data, size);
  StringDB db;
  Model m;
  {
    const uint32_t initial = in.ConsumeIntegralInRange<uint32_t>(0, 64);
    if (in.ConsumeIntegralInRange(0, 7) == 0) sim::fault(sim::Call::TAP_MemAlloc).nth(1);
    bool ok = StringDBInit(&db, initial);
    sim::clear_faults();
    FUZZ_CHECK(ok == (initial == 0 || db.Data != nullptr));
  }
  CheckAgainst(&db, m);

  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0:
      case 1: {
        // Mostly short strings from a small alphabet, so that duplicates occur; sometimes
        // one longer than a growth step.
        std::string s = in.ConsumeBool() ? in.ConsumeRandomLengthString(6)
                                         : std::string(in.ConsumeIntegralInRange<size_t>(0, 9000), 'x');
        s = s.substr(0, s.find('\0'));
        const bool fail = in.ConsumeIntegralInRange(0, 7) == 0;
        if (fail) sim::fault(sim::Call::TAP_MemAlloc).nth(1);
        uint32_t r = StringDBAdd(&db, s.c_str());
        sim::clear_faults();
        if (s.empty()) {
          FUZZ_CHECK(r == 0);  // refused: it would read as the end mark
          break;
        }
        if (const auto *known = m.Find(s)) {
          FUZZ_CHECK(r == known->first);
          break;
        }
        const char *stored = StringDBGet(&db, m.used);
        if (fail && r == 0 && (stored == nullptr || s != stored)) break;  // growth failed: unchanged
        FUZZ_CHECK(r == m.used);
        m.strings.emplace_back(m.used, s);
        m.used += static_cast<uint32_t>(s.size() + 1);
        break;
      }
      case 2: {
        uint32_t before = StringDBCurrent(&db);
        uint32_t r = StringDBNext(&db);
        if (m.AtEnd()) {
          FUZZ_CHECK(r == 0 && StringDBCurrent(&db) == before);
        } else {
          ++m.read;
          FUZZ_CHECK(r == m.CurrentOffset());
        }
        break;
      }
      case 3: {
        uint32_t offset = in.ConsumeIntegral<uint32_t>();
        char *p = StringDBGet(&db, offset);
        if (p != nullptr) FUZZ_CHECK(offset < db.AllocSize);
        break;
      }
      case 4: {
        if (in.ConsumeIntegralInRange(0, 3) != 0) break;
        FUZZ_CHECK(StringDBDestroy(&db));
        FUZZ_CHECK(db.Data == nullptr && db.AllocSize == 0 && StringDBEOF(&db));
        FUZZ_CHECK(StringDBGet(&db, 0) == nullptr && StringDBCurrent(&db) == 0);
        m = Model{};
        break;
      }
      default: {
        // The null record is answered without effect.
        FUZZ_CHECK(!StringDBInit(nullptr, 10) && StringDBAdd(nullptr, "a") == 0 && StringDBEOF(nullptr) &&
                   StringDBGet(nullptr, 0) == nullptr && StringDBNext(nullptr) == 0 &&
                   StringDBCurrent(nullptr) == 0 && !StringDBDestroy(nullptr));
        FUZZ_CHECK(StringDBAdd(&db, nullptr) == 0);
        break;
      }
    }
    CheckAgainst(&db, m);
  }
  StringDBDestroy(&db);
  FUZZ_CHECK(sim::outstanding_blocks() == 0);
  return 0;
}
