// The bytes of the module's database file (Quarrow.db), written and read field by field,
// independent of the struct's layout: a 12-byte header (version, capacity, count), then
// `capacity` records of 176 bytes.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/quarrow.h"

namespace testdb {

constexpr size_t kHeader = 12, kRecord = 176, kName = 48;

// An entry of `name` (cut to the field) with the recording's fingerprint, the rest zero.
RecDBEntry Entry(const char *name, uint64_t recInode = 0, uint32_t recSample = 0);
// One record as the module stores it: fields little-endian, the name padded with zeros;
// the padding and what stands behind the name's end are not stored.
std::string Record(const RecDBEntry &e);
// The struct's bytes as they are in memory, padding and all.
std::string Raw(const RecDBEntry &e);
// A whole file: the header, then `slots` records, those given first, zeros behind them.
std::string File(uint32_t version, int32_t capacity, int32_t count, const std::vector<std::string> &records,
                 size_t slots);
std::string File(uint32_t version, int32_t capacity, int32_t count, const std::vector<RecDBEntry> &entries,
                 size_t slots);

// The records in use of a sound file (none for any other file).
std::vector<std::string> Records(const std::string &file);
// The (recording inode, sample) identities of a sound file's records.
std::set<std::pair<uint64_t, uint32_t>> Identities(const std::string &file);
// The recordings' names in a sound file.
std::vector<std::string> Names(const std::string &file);
uint64_t Le64(const std::string &bytes, size_t at);

}  // namespace testdb
