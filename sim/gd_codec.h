// The simulated recorder's compressed graphic format, read by TAP_Osd_PutGd.
//
//   header (12 bytes, little-endian): "QGD1", width u16, height u16, payload length u32
//   payload: runs until width * height pixels are given, each starting with a u16 word n:
//     bit 15 clear: n (1..32767) copies of the ARGB u32 that follows
//     bit 15 set:   n & 0x7FFF (1..32767) ARGB u32 pixels follow as they are
//   Pixels go row by row, top to bottom; a run may continue into the next row.
// A blob is valid only if its runs give exactly width * height pixels and use exactly the
// payload length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::gd {

enum : size_t { HEADER_SIZE = 12 };

std::vector<uint8_t> encode(const uint32_t *pixels, uint16_t width, uint16_t height);

// Total size of the blob (header and payload) from its header; 0 if it is not a blob.
size_t blob_size(const uint8_t *data, size_t avail);

// Decodes a blob of at most `avail` bytes that must be width x height; false if it is not
// exactly that.
bool decode(const uint8_t *data, size_t avail, uint16_t width, uint16_t height, std::vector<uint32_t> *pixels);

}  // namespace sim::gd
