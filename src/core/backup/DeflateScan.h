// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessarook {

// Where the blocks of a raw deflate stream lie, found by reading their
// headers and codes only: nothing is inflated, nothing is written.
struct DeflateLayout {
  uint64_t finalHeaderBit = 0;  // first bit of the final block's header
  uint64_t endBit = 0;          // first bit after the final block's end code
};

// Reads the complete stream of `size` bytes at `data`. False when it is not a
// well-formed stream that ends within those bytes (the data is then left
// alone). Only the codes are followed: distances are not checked against
// what came before.
bool ScanDeflate(const unsigned char* data, size_t size, DeflateLayout& layout);

// The same for a stream that is one block, written as libdeflate writes
// (the bits after the end are zeros), found from the block's header and the
// stream's last bits without following its codes. False when it cannot be
// told that way (more blocks, fixed codes, an end code of zeros): ScanDeflate
// then tells.
bool FindSingleBlockLayout(const unsigned char* data, size_t size, DeflateLayout& layout);

}  // namespace tessarook
