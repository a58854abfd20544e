// Settings store: a settings file made of the input's bytes is opened, read, changed,
// saved and opened again, with memory failures at chosen moments.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <string>
#include <vector>

#include "harness.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/ini.h"

namespace {

constexpr char kFolder[] = "/ProgramFiles/Settings/Zorvane";
constexpr char kFile[] = "Quarrow.ini";

// The text the store must hold after loading `bytes`: up to the first NUL, ended by a line end.
std::string ExpectedText(const std::string &bytes) {
  std::string text = bytes.substr(0, bytes.find('\0'));
  if (text.empty() || (text.back() != '\r' && text.back() != '\n')) text += "\r\n";
  return text;
}

void CheckBuffer() {
  if (INIBuffer == nullptr) return;
  FUZZ_CHECK(BufferSize > 0);
  FUZZ_CHECK(strnlen(INIBuffer, BufferSize) < BufferSize);
}

// A key that the store finds exactly as written: letters and digits only.
std::string PlainKey(FuzzedDataProvider &in) {
  std::string key = in.ConsumeRandomLengthString(90);
  std::string out;
  for (char c : key)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) out += c;
  return out.empty() ? std::string("InformUser") : out;
}

bool Open(std::string *textAfterOpen) {
  INIPlace place = INIOpenFile(kFile, "Quarrow");
  FUZZ_CHECK(sim::current_dir() == kFolder);
  FUZZ_CHECK(TAPDirStackDepth == -1);
  CheckBuffer();
  if (INIBuffer != nullptr && textAfterOpen != nullptr) *textAfterOpen = INIBuffer;
  return place >= INIPlace_CurrentDir;
}

}  // namespace

QUARROW_FUZZ_DISK_TARGET()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FreshRecorder();
  FuzzedDataProvider in(data, size);
  std::string bytes = in.ConsumeRandomLengthString(8192);
  const bool hasFile = !in.ConsumeBool() || !bytes.empty();
  if (hasFile) fuzz::WriteFile(std::string(kFolder) + "/" + kFile, bytes.data(), bytes.size());
  if (!HDD_ChangeDir(kFolder)) std::abort();

  std::string text;
  bool loaded = Open(&text);
  if (hasFile) {
    FUZZ_CHECK(loaded);
    FUZZ_CHECK(text == ExpectedText(bytes));
  } else {
    FUZZ_CHECK(INIBuffer != nullptr && INIBuffer[0] == '\0');
  }

  bool fileFaults = false;  // armed file faults may still be pending
  while (in.remaining_bytes() > 0) {
    // A memory failure at the next allocation or a few later; the properties below only
    // hold for operations that ran without one.
    const bool armed = in.ConsumeIntegralInRange(0, 9) == 0;
    if (armed) sim::fault(sim::Call::TAP_MemAlloc).nth(in.ConsumeIntegralInRange<uint64_t>(1, 3));

    switch (in.ConsumeIntegralInRange(0, 6)) {
      case 0: {  // read any key
        std::string key = in.ConsumeRandomLengthString(100);
        int32_t def = in.ConsumeIntegral<int32_t>();
        int32_t lo = in.ConsumeIntegral<int32_t>();
        int32_t hi = in.ConsumeIntegral<int32_t>();
        int32_t v = INIGetInt(key.c_str(), def, lo, hi);
        if (v != def) FUZZ_CHECK(lo <= hi ? (v >= lo && v <= hi) : v == hi);
        break;
      }
      case 1: {  // set any key to any text
        std::string key = in.ConsumeRandomLengthString(100);
        std::string value = in.ConsumeRandomLengthString(3000);
        INISetString(key.c_str(), value.c_str());
        break;
      }
      case 2: {  // set a plain key to a number: reading it back gives the number
        std::string key = PlainKey(in);
        int32_t value = in.ConsumeIntegral<int32_t>();
        INISetInt(key.c_str(), value);
        if (!armed && INIBuffer != nullptr) {
          int32_t def = value == INT32_MIN ? 0 : value - 1;
          FUZZ_CHECK(INIGetInt(key.c_str(), def, INT32_MIN, INT32_MAX) == value);
        }
        break;
      }
      case 3: {  // save, then the file holds exactly the text
        std::string before = INIBuffer ? INIBuffer : "";
        bool saved = INISaveFile(kFile, INIPlace_CurrentDir, "");
        FUZZ_CHECK(sim::current_dir() == kFolder);
        FUZZ_CHECK(TAPDirStackDepth == -1);
        std::string onDisk;
        if (saved) {
          FUZZ_CHECK(fuzz::ReadFile(std::string(kFolder) + "/" + kFile, &onDisk));
          FUZZ_CHECK(onDisk == before);
        }
        break;
      }
      case 4: {  // close and open again: a text that was saved comes back unchanged
        std::string before = INIBuffer ? INIBuffer : "";
        std::string onDisk;
        bool present = fuzz::ReadFile(std::string(kFolder) + "/" + kFile, &onDisk);
        INICloseFile();
        FUZZ_CHECK(INIBuffer == nullptr);
        std::string after;
        bool ok = Open(&after);
        if (!armed && !fileFaults && present) {
          FUZZ_CHECK(ok);
          FUZZ_CHECK(after == ExpectedText(onDisk));
          if (onDisk == before && !before.empty()) FUZZ_CHECK(after == before);
        }
        break;
      }
      case 5: {  // the finder never points outside the text
        std::string search = in.ConsumeRandomLengthString(100);
        uint32_t max = in.ConsumeIntegral<uint32_t>();
        char *start = nullptr;
        char *end = nullptr;
        INIFindStartEnd(search.c_str(), &start, &end, max);
        if (INIBuffer != nullptr && start != nullptr) {
          size_t len = strlen(INIBuffer);
          FUZZ_CHECK(start >= INIBuffer && start < INIBuffer + len);
          if (end != nullptr) FUZZ_CHECK(end >= start - 1 && end < INIBuffer + len);
        }
        break;
      }
      default: {  // a file operation fails
        std::vector<sim::Call> calls;  // every call on the disk
        for (int i = 0; i < sim::CALL_COUNT; ++i)
          if (sim::on_disk(static_cast<sim::Call>(i))) calls.push_back(static_cast<sim::Call>(i));
        fileFaults = true;
        sim::fault(calls[in.ConsumeIntegralInRange<size_t>(0, calls.size() - 1)])
            .nth(in.ConsumeIntegralInRange<uint64_t>(1, 4));
        break;
      }
    }
    if (armed) sim::clear_faults();
    CheckBuffer();
  }

  INICloseFile();
  FUZZ_CHECK(sim::outstanding_blocks() == 0);
  FUZZ_CHECK(sim::open_files() == 0);
  return 0;
}
