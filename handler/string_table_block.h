#pragma once
// The entry walk over one block of a string-table resource. A block holds 16
// entries, each a 16-bit little-endian count followed by that many UTF-16
// units without a terminator; an empty entry is a count of 0. This works on
// the block's bytes alone, so it can be tested and fuzzed away from Windows.

#include <cstddef>
#include <cstdint>

namespace handler {

// Where an entry's text lies in its block.
struct StringTableEntry {
  std::size_t offset = 0;   // byte offset of the first UTF-16 unit
  std::uint16_t count = 0;  // number of UTF-16 units
};

// The number of the block that holds string `id`, and the entry's index in it.
constexpr unsigned stringTableBlock(unsigned id) noexcept { return id / 16 + 1; }
constexpr unsigned stringTableIndex(unsigned id) noexcept { return id % 16; }

// Steps over `index` entries of a block of `size` bytes and reports the entry
// found there. Returns false for an empty entry and for a block that ends
// before the entry does: the count and every unit it announces must lie
// inside the block. A null block is an empty one.
bool findStringTableEntry(const std::uint8_t* block, std::size_t size, unsigned index,
                          StringTableEntry* entry) noexcept;

}  // namespace handler
