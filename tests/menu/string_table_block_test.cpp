// The entry walk over a string-table block's bytes, on well-formed blocks and
// on blocks that end early or announce more text than they hold.

#include "handler/string_table_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putUnit(Bytes& bytes, std::uint16_t unit) {
  bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// A block of 16 entries, with the given texts at the given indexes.
Bytes block(const std::vector<std::pair<unsigned, std::u16string>>& texts) {
  Bytes bytes;
  for (unsigned index = 0; index < 16; ++index) {
    std::u16string text;
    for (const auto& [at, value] : texts) {
      if (at == index) {
        text = value;
      }
    }
    putUnit(bytes, static_cast<std::uint16_t>(text.size()));
    for (char16_t unit : text) {
      putUnit(bytes, unit);
    }
  }
  return bytes;
}

// The text of the entry at `index`, or "<none>" when the walk finds none.
std::u16string lookup(const Bytes& bytes, unsigned index, std::size_t size) {
  handler::StringTableEntry entry;
  if (!handler::findStringTableEntry(bytes.data(), size, index, &entry)) {
    return u"<none>";
  }
  EXPECT_LE(entry.offset + 2 * std::size_t{entry.count}, size) << "entry reaches past the block";
  std::u16string text;
  for (std::size_t i = 0; i < entry.count; ++i) {
    const std::size_t at = entry.offset + 2 * i;
    text.push_back(static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8)));
  }
  return text;
}
std::u16string lookup(const Bytes& bytes, unsigned index) { return lookup(bytes, index, bytes.size()); }

std::string show(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(unit));
      out += hex;
    }
  }
  return out;
}

TEST(StringTableBlock, BlockAndIndexOfAnId) {
  EXPECT_EQ(7u, handler::stringTableBlock(96));
  EXPECT_EQ(7u, handler::stringTableBlock(100));
  EXPECT_EQ(7u, handler::stringTableBlock(111));
  EXPECT_EQ(8u, handler::stringTableBlock(112));
  EXPECT_EQ(1u, handler::stringTableBlock(0));
  EXPECT_EQ(0u, handler::stringTableIndex(96));
  EXPECT_EQ(4u, handler::stringTableIndex(100));
  EXPECT_EQ(7u, handler::stringTableIndex(103));
  EXPECT_EQ(15u, handler::stringTableIndex(111));
}

TEST(StringTableBlock, FindsEveryEntryOfAWellFormedBlock) {
  // The handler's own layout: entries 4 to 7 filled, the rest empty.
  const Bytes bytes = block({{4, u"Dorvanel"},
                             {5, u"&\u041A\u043E\u043C\u0430\u043D\u0434\u043D\u0430\u044F"},
                             {6, u"Run Command Prompt here"},
                             {7, u"Browse this folder for Command Prompt"}});
  const std::u16string expected[16] = {u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"Dorvanel",
                                       u"&\u041A\u043E\u043C\u0430\u043D\u0434\u043D\u0430\u044F",
                                       u"Run Command Prompt here",
                                       u"Browse this folder for Command Prompt",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>",
                                       u"<none>"};
  for (unsigned index = 0; index < 16; ++index) {
    const std::u16string found = lookup(bytes, index);
    EXPECT_EQ(show(expected[index]), show(found)) << "index " << index;
  }
}

TEST(StringTableBlock, LastIndexWalksOverFifteenEntries) {
  Bytes bytes = block({{0, u"a"}, {14, u"bc"}, {15, u"last"}});
  EXPECT_EQ("last", show(lookup(bytes, 15)));
  EXPECT_EQ("bc", show(lookup(bytes, 14)));
  EXPECT_EQ("<none>", show(lookup(block({{14, u"bc"}}), 15)));
}

TEST(StringTableBlock, BlocksThatEndEarly) {
  const Bytes full = block({{0, u"first"}, {3, u"xyz"}, {15, u"end"}});
  // Entry 3 starts after 2+10 + 2 + 2 bytes = 16 and its text ends at 24.
  struct Case {
    std::size_t size;
    unsigned index;
    const char* expected;
  } cases[] = {
      {0, 0, "<none>"},   // no bytes at all
      {1, 0, "<none>"},   // half a count
      {2, 0, "<none>"},   // a count of 5 with no text after it
      {11, 0, "<none>"},  // the text's last unit cut in half
      {12, 0, "first"},   // exactly the first entry
      {12, 1, "<none>"},  // ends where entry 1 would start
      {13, 1, "<none>"},  // one byte of entry 1's count
      {16, 3, "<none>"},  // ends at entry 3's count
      {23, 3, "<none>"},  // entry 3's text one byte short
      {24, 3, "xyz"},     // entry 3 just fits
      {full.size() - 1, 15, "<none>"},
      {full.size(), 15, "end"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, show(lookup(full, c.index, c.size))) << "size " << c.size << ", index " << c.index;
  }
}

TEST(StringTableBlock, CountsThatLie) {
  // Entry 0 claims 0xFFFF units: stepping over it leaves the block, and
  // asking for it finds less text than announced.
  Bytes huge;
  putUnit(huge, 0xFFFF);
  putUnit(huge, u'x');
  EXPECT_EQ("<none>", show(lookup(huge, 0)));
  EXPECT_EQ("<none>", show(lookup(huge, 1)));
  EXPECT_EQ("<none>", show(lookup(huge, 15)));

  // A block of fewer than 16 entries: what it holds is found, what it lacks
  // is not.
  Bytes shortBlock;
  putUnit(shortBlock, 0);
  putUnit(shortBlock, 2);
  putUnit(shortBlock, u'o');
  putUnit(shortBlock, u'k');
  EXPECT_EQ("ok", show(lookup(shortBlock, 1)));
  EXPECT_EQ("<none>", show(lookup(shortBlock, 2)));
  EXPECT_EQ("<none>", show(lookup(shortBlock, 15)));

  // Trailing bytes after the sixteenth entry are ignored.
  Bytes padded = block({{15, u"z"}});
  padded.insert(padded.end(), {0xAA, 0xBB, 0xCC});
  EXPECT_EQ("z", show(lookup(padded, 15)));
}

TEST(StringTableBlock, NullBlockOrResultFindsNothing) {
  handler::StringTableEntry entry;
  EXPECT_FALSE(handler::findStringTableEntry(nullptr, 100, 0, &entry));
  const Bytes bytes = block({{0, u"a"}});
  EXPECT_FALSE(handler::findStringTableEntry(bytes.data(), bytes.size(), 0, nullptr));
}

}  // namespace
