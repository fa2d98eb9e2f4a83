#include "handler/string_table_block.h"

namespace handler {
namespace {

std::uint16_t readUnit(const std::uint8_t* at) noexcept {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

}  // namespace

bool findStringTableEntry(const std::uint8_t* block, std::size_t size, unsigned index,
                          StringTableEntry* entry) noexcept {
  if (block == nullptr || entry == nullptr) {
    return false;
  }
  std::size_t position = 0;
  for (unsigned skipped = 0; skipped < index; ++skipped) {
    if (size - position < 2) {
      return false;  // the block ends before the entry
    }
    position += 2 + 2 * static_cast<std::size_t>(readUnit(block + position));
    if (position >= size) {
      return false;
    }
  }
  // A count must fit, and so must the text it announces: a block whose last
  // count claims more units than remain is cut short, not read past its end.
  if (size - position < 2) {
    return false;
  }
  const std::uint16_t count = readUnit(block + position);
  if (count == 0 || (size - position - 2) / 2 < count) {
    return false;
  }
  entry->offset = position + 2;
  entry->count = count;
  return true;
}

}  // namespace handler
