#include "tests/common/dbfile.h"

#include <cstring>

#include "tests/common/files.h"

namespace testdb {

namespace {

void PutLE(std::string &out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

RecDBEntry Entry(const char *name, uint64_t recInode, uint32_t recSample) {
  RecDBEntry e;
  std::memset(&e, 0, sizeof e);
  std::strncpy(e.RecName, name, sizeof e.RecName - 1);
  e.RecInode = recInode;
  e.RecSample = recSample;
  return e;
}

std::string Record(const RecDBEntry &e) {
  std::string out;
  PutLE(out, e.RecInode, 8);
  PutLE(out, e.RecSample, 4);
  PutLE(out, 0, 4);
  PutLE(out, e.InfInode, 8);
  PutLE(out, e.InfSample, 4);
  PutLE(out, 0, 4);
  PutLE(out, e.NavInode, 8);
  PutLE(out, e.NavSample, 4);
  PutLE(out, 0, 4);
  std::string name(e.RecName, strnlen(e.RecName, 127));
  name.resize(128, '\0');
  return out + name;
}

std::string Raw(const RecDBEntry &e) { return std::string(reinterpret_cast<const char *>(&e), sizeof e); }

std::string File(uint32_t version, int32_t capacity, int32_t count, const std::vector<std::string> &records,
                 size_t slots) {
  std::string out;
  PutLE(out, version, 4);
  PutLE(out, static_cast<uint32_t>(capacity), 4);
  PutLE(out, static_cast<uint32_t>(count), 4);
  for (size_t i = 0; i < slots; ++i) out += i < records.size() ? records[i] : std::string(kRecord, '\0');
  return out;
}

std::string File(uint32_t version, int32_t capacity, int32_t count, const std::vector<RecDBEntry> &entries,
                 size_t slots) {
  std::vector<std::string> records;
  for (const RecDBEntry &e : entries) records.push_back(Record(e));
  return File(version, capacity, count, records, slots);
}

std::vector<std::string> Records(const std::string &file) {
  std::vector<std::string> records;
  if (file.size() < kHeader) return records;
  const int32_t version = static_cast<int32_t>(testfiles::Word(file, 0));
  const int32_t size = static_cast<int32_t>(testfiles::Word(file, 4));
  const int32_t count = static_cast<int32_t>(testfiles::Word(file, 8));
  if (version != 1 || size < 0 || count < 0 || count > size || file.size() != kHeader + kRecord * size)
    return records;
  for (int32_t i = 0; i < count; ++i) records.push_back(file.substr(kHeader + kRecord * static_cast<size_t>(i), kRecord));
  return records;
}

std::set<std::pair<uint64_t, uint32_t>> Identities(const std::string &file) {
  std::set<std::pair<uint64_t, uint32_t>> out;
  for (const std::string &r : Records(file)) {
    uint32_t sample = 0;
    for (int b = 3; b >= 0; --b) sample = sample << 8 | static_cast<uint8_t>(r[8 + static_cast<size_t>(b)]);
    out.insert({Le64(r, 0), sample});
  }
  return out;
}

std::vector<std::string> Names(const std::string &file) {
  std::vector<std::string> names;
  for (const std::string &r : Records(file)) names.emplace_back(r.c_str() + kName);
  return names;
}

uint64_t Le64(const std::string &bytes, size_t at) {
  return testfiles::Word(bytes, at) | static_cast<uint64_t>(testfiles::Word(bytes, at + 4)) << 32;
}

}  // namespace testdb
