// Open-addressing tables of 32-bit slots (0 = empty, else a number + 1) for the indexes
// that live as long as one operation's array. The caller owns the memory; host-free.
#pragma once

#include <cstdint>

namespace quarrow {

// A power of two with room for `keys` at a load of at most three quarters; 0 when that
// would not fit 32 bits.
inline uint32_t SlotsFor(uint32_t keys) {
  uint64_t want = uint64_t{keys} * 4 / 3 + 1;
  uint64_t slots = 16;
  while (slots < want) slots *= 2;
  return slots <= (uint64_t{1} << 30) ? static_cast<uint32_t>(slots) : 0;
}

// Spreads an inode number and a sample over 32 bits.
inline uint32_t HashKey(uint64_t inode, uint32_t sample) {
  uint32_t x = static_cast<uint32_t>(inode) ^ (static_cast<uint32_t>(inode >> 32) * 0x85EBCA6Bu) ^
               (sample * 0xC2B2AE35u);
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

}  // namespace quarrow
