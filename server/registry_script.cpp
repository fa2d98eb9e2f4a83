#include "server/registry_script.h"

namespace server::script {
namespace {

constexpr std::size_t maxKeyNameLength = 255;  // the registry's limit for one key name

bool isBlank(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

char16_t foldAscii(char16_t c) noexcept {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool equalsIgnoringCase(const char16_t* a, std::size_t aLength, const char16_t* b,
                        std::size_t bLength) noexcept {
  if (aLength != bLength) {
    return false;
  }
  for (std::size_t i = 0; i < aLength; ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

template <std::size_t N>
bool equalsWord(const Text& token, const char16_t (&word)[N]) noexcept {
  return equalsIgnoringCase(token.chars, token.length, word, N - 1);
}

// Lengths add without wrapping; a sum too large for memory saturates.
std::size_t addSaturating(std::size_t a, std::size_t b) noexcept {
  return a > static_cast<std::size_t>(-1) - b ? static_cast<std::size_t>(-1) : a + b;
}

struct Token {
  Text text;
  std::size_t offset;
  bool atEnd;
};

class Tokenizer {
 public:
  Tokenizer(const char16_t* text, std::size_t length) noexcept : text_(text), length_(length) {}

  // Reads the next token without consuming it.
  Status peek(Token* token, std::size_t* errorOffset) const noexcept {
    std::size_t pos = pos_;
    while (pos < length_ && isBlank(text_[pos])) {
      ++pos;
    }
    token->offset = pos;
    token->atEnd = pos == length_;
    token->text = Text{text_ + pos, 0, false};
    if (token->atEnd) {
      next_ = pos;
      return Status::ok;
    }
    if (text_[pos] == u'\'') {
      const std::size_t start = pos + 1;
      std::size_t i = start;
      for (;;) {
        if (i >= length_) {
          *errorOffset = pos;
          return Status::unterminatedString;
        }
        if (text_[i] == u'\'') {
          if (i + 1 < length_ && text_[i + 1] == u'\'') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      token->text = Text{text_ + start, i - start, true};
      ++i;  // the closing quote
      if (i < length_ && !isBlank(text_[i])) {
        *errorOffset = i;
        return Status::unexpectedToken;
      }
      next_ = i;
      return Status::ok;
    }
    std::size_t end = pos;
    while (end < length_ && !isBlank(text_[end])) {
      ++end;
    }
    token->text = Text{text_ + pos, end - pos, false};
    next_ = end;
    return Status::ok;
  }

  // Consumes the token last peeked.
  void advance() noexcept { pos_ = next_; }

  Status next(Token* token, std::size_t* errorOffset) noexcept {
    const Status status = peek(token, errorOffset);
    if (status == Status::ok) {
      advance();
    }
    return status;
  }

 private:
  const char16_t* text_;
  std::size_t length_;
  std::size_t pos_ = 0;
  mutable std::size_t next_ = 0;
};

bool isSymbol(const Token& token, char16_t symbol) noexcept {
  return !token.atEnd && !token.text.quoted && token.text.length == 1 && token.text.chars[0] == symbol;
}

bool isKeyword(const Token& token, const char16_t* word, std::size_t length) noexcept {
  return !token.atEnd && !token.text.quoted &&
         equalsIgnoringCase(token.text.chars, token.text.length, word, length);
}

#define KEYWORD(token, word) isKeyword((token), u##word, sizeof(u##word) / sizeof(char16_t) - 1)

bool rootFromToken(const Token& token, RootKey* root) noexcept {
  struct Name {
    const char16_t* shortName;
    std::size_t shortLength;
    const char16_t* longName;
    std::size_t longLength;
    RootKey root;
  };
#define ROOT(s, l, r) \
  { u##s, sizeof(u##s) / 2 - 1, u##l, sizeof(u##l) / 2 - 1, r }
  static constexpr Name names[] = {
      ROOT("HKCR", "HKEY_CLASSES_ROOT", RootKey::classesRoot),
      ROOT("HKCU", "HKEY_CURRENT_USER", RootKey::currentUser),
      ROOT("HKLM", "HKEY_LOCAL_MACHINE", RootKey::localMachine),
      ROOT("HKU", "HKEY_USERS", RootKey::users),
      ROOT("HKPD", "HKEY_PERFORMANCE_DATA", RootKey::performanceData),
      ROOT("HKCC", "HKEY_CURRENT_CONFIG", RootKey::currentConfig),
      ROOT("HKDD", "HKEY_DYN_DATA", RootKey::dynData),
  };
#undef ROOT
  if (token.atEnd || token.text.quoted) {
    return false;
  }
  for (const Name& name : names) {
    if (isKeyword(token, name.shortName, name.shortLength) ||
        isKeyword(token, name.longName, name.longLength)) {
      *root = name.root;
      return true;
    }
  }
  return false;
}

bool isStructural(const Token& token) noexcept {
  return isSymbol(token, u'{') || isSymbol(token, u'}') || isSymbol(token, u'=');
}

std::size_t unescapedLength(const Text& text) noexcept {
  std::size_t length = 0;
  for (std::size_t i = 0; i < text.length; ++i, ++length) {
    if (text.quoted && text.chars[i] == u'\'') {
      ++i;  // the second quote of a pair
    }
  }
  return length;
}

bool isValidKeyName(const Text& name) noexcept {
  const std::size_t length = unescapedLength(name);
  if (length == 0 || length > maxKeyNameLength) {
    return false;
  }
  for (std::size_t i = 0; i < name.length; ++i) {
    if (name.chars[i] == u'\\') {
      return false;
    }
  }
  return true;
}

int hexDigit(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  return -1;
}

// Decimal, or hexadecimal after 0x; nothing else, and no more than `limit`.
bool parseNumber(const Text& text, std::uint64_t limit, std::uint64_t* number) noexcept {
  const char16_t* chars = text.chars;
  std::size_t length = text.length;
  std::uint64_t base = 10;
  if (length > 2 && chars[0] == u'0' && (chars[1] == u'x' || chars[1] == u'X')) {
    base = 16;
    chars += 2;
    length -= 2;
  }
  if (length == 0) {
    return false;
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const int digit = hexDigit(chars[i]);
    if (digit < 0 || static_cast<std::uint64_t>(digit) >= base) {
      return false;
    }
    if (value > (limit - static_cast<std::uint64_t>(digit)) / base) {
      return false;
    }
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  *number = value;
  return true;
}

class Parser {
 public:
  Parser(const char16_t* text, std::size_t length, Operation* ops, std::size_t capacity) noexcept
      : tokens_(text, length), ops_(ops), capacity_(capacity) {}

  ParseResult run(const char16_t* text, std::size_t length) noexcept {
    for (std::size_t i = 0; i < length; ++i) {
      if (text[i] == u'\0') {
        return fail(Status::invalidCharacter, i);
      }
    }
    for (;;) {
      Token token;
      if (!read(&token)) {
        return result_;
      }
      if (token.atEnd) {
        break;
      }
      RootKey root;
      if (!rootFromToken(token, &root)) {
        return fail(Status::unknownRootKey, token.offset);
      }
      if (!read(&token)) {
        return result_;
      }
      if (token.atEnd) {
        return fail(Status::unexpectedEnd, token.offset);
      }
      if (!isSymbol(token, u'{')) {
        return fail(Status::expectedOpenBrace, token.offset);
      }
      Operation op{};
      op.kind = OpKind::root;
      op.root = root;
      open(op);
      if (!body()) {
        return result_;
      }
    }
    result_.count = count_;
    if (count_ > capacity_) {
      result_.status = Status::bufferTooSmall;
    }
    return result_;
  }

 private:
  // The entries of the open block up to and including its closing brace,
  // and of every block opened inside it.
  bool body() noexcept {
    while (depth_ > 0) {
      Token token;
      if (!read(&token)) {
        return false;
      }
      if (token.atEnd) {
        return failed(Status::unexpectedEnd, token.offset);
      }
      if (isSymbol(token, u'}')) {
        close();
        continue;
      }
      if (isStructural(token)) {
        return failed(Status::unexpectedToken, token.offset);
      }
      Operation op{};
      if (KEYWORD(token, "Delete")) {
        if (!readName(&token)) {
          return false;
        }
        op.kind = OpKind::deleteKey;
        op.name = token.text;
        emit(op);
        continue;
      }
      if (KEYWORD(token, "ForceRemove")) {
        op.forceRemove = true;
        if (!read(&token)) {
          return false;
        }
      }
      if (KEYWORD(token, "NoRemove")) {
        op.noRemove = true;
        if (!read(&token)) {
          return false;
        }
      }
      if (KEYWORD(token, "val")) {
        if (op.forceRemove) {
          return failed(Status::unexpectedToken, token.offset);  // a value cannot be force-removed
        }
        if (!readName(&token, false)) {
          return false;
        }
        op.kind = OpKind::value;
        op.name = token.text;
        if (!read(&token)) {
          return false;
        }
        if (!isSymbol(token, u'=')) {
          return failed(token.atEnd ? Status::unexpectedEnd : Status::expectedEquals, token.offset);
        }
        if (!readValue(&op)) {
          return false;
        }
        emit(op);
        continue;
      }
      if (!checkName(token, true)) {
        return false;
      }
      op.kind = OpKind::key;
      op.name = token.text;
      if (!peek(&token)) {
        return false;
      }
      if (isSymbol(token, u'=')) {
        tokens_.advance();
        if (!readValue(&op)) {
          return false;
        }
        if (!peek(&token)) {
          return false;
        }
      }
      open(op);
      if (isSymbol(token, u'{')) {
        tokens_.advance();
      } else {
        close();  // a key without a block of its own
      }
    }
    return true;
  }

  bool readValue(Operation* op) noexcept {
    Token token;
    if (!read(&token)) {
      return false;
    }
    if (token.atEnd) {
      return failed(Status::unexpectedEnd, token.offset);
    }
    static constexpr struct {
      char16_t letter;
      ValueType type;
    } types[] = {{u's', ValueType::string}, {u'e', ValueType::expandString}, {u'm', ValueType::multiString},
                 {u'd', ValueType::dword},  {u'q', ValueType::qword},        {u'b', ValueType::binary}};
    op->type = ValueType::none;
    if (!token.text.quoted && token.text.length == 1) {
      for (const auto& entry : types) {
        if (foldAscii(token.text.chars[0]) == entry.letter) {
          op->type = entry.type;
        }
      }
    }
    if (op->type == ValueType::none) {
      return failed(Status::unknownValueType, token.offset);
    }
    if (!read(&token)) {
      return false;
    }
    if (token.atEnd) {
      return failed(Status::unexpectedEnd, token.offset);
    }
    if (isStructural(token)) {
      return failed(Status::unexpectedToken, token.offset);
    }
    op->data = token.text;
    switch (op->type) {
      case ValueType::dword:
        if (!parseNumber(token.text, 0xFFFFFFFFu, &op->number)) {
          return failed(Status::badNumber, token.offset);
        }
        break;
      case ValueType::qword:
        if (!parseNumber(token.text, static_cast<std::uint64_t>(-1), &op->number)) {
          return failed(Status::badNumber, token.offset);
        }
        break;
      case ValueType::binary:
        if (token.text.length % 2 != 0) {
          return failed(Status::badBinary, token.offset);
        }
        for (std::size_t i = 0; i < token.text.length; ++i) {
          if (hexDigit(token.text.chars[i]) < 0) {
            return failed(Status::badBinary, token.offset);
          }
        }
        break;
      default:
        break;
    }
    return true;
  }

  bool readName(Token* token, bool keyName = true) noexcept {
    if (!read(token)) {
      return false;
    }
    return checkName(*token, keyName);
  }

  bool checkName(const Token& token, bool keyName) noexcept {
    if (token.atEnd) {
      return failed(Status::unexpectedEnd, token.offset);
    }
    if (isStructural(token)) {
      return failed(Status::unexpectedToken, token.offset);
    }
    if (keyName && !isValidKeyName(token.text)) {
      return failed(Status::badName, token.offset);
    }
    return true;
  }

  void emit(const Operation& op) noexcept {
    if (count_ < capacity_) {
      ops_[count_] = op;
    }
    ++count_;
  }

  // Opens a root or key block; its end index is filled in by close().
  void open(const Operation& op) noexcept {
    const std::size_t index = count_;
    emit(op);
    if (index < capacity_) {
      // Chains the open blocks through `end` until each is closed.
      ops_[index].end = innermost_;
    }
    innermost_ = index;
    ++depth_;
    if (depth_ > result_.depth) {
      result_.depth = depth_;
    }
  }

  void close() noexcept {
    Operation op{};
    op.kind = OpKind::end;
    const std::size_t index = count_;
    emit(op);
    if (innermost_ < capacity_ && index < capacity_) {
      const std::size_t outer = ops_[innermost_].end;
      ops_[innermost_].end = index;
      innermost_ = outer;
    } else {
      // Past the caller's storage the chain is lost; the result is
      // bufferTooSmall and no operation is used.
      innermost_ = noBlock;
    }
    --depth_;
  }

  bool read(Token* token) noexcept {
    std::size_t offset = 0;
    const Status status = tokens_.next(token, &offset);
    return status == Status::ok || failed(status, offset);
  }

  bool peek(Token* token) noexcept {
    std::size_t offset = 0;
    const Status status = tokens_.peek(token, &offset);
    return status == Status::ok || failed(status, offset);
  }

  bool failed(Status status, std::size_t offset) noexcept {
    fail(status, offset);
    return false;
  }

  ParseResult fail(Status status, std::size_t offset) noexcept {
    result_.status = status;
    result_.errorOffset = offset;
    result_.count = 0;
    return result_;
  }

  static constexpr std::size_t noBlock = static_cast<std::size_t>(-1);

  Tokenizer tokens_;
  Operation* ops_;
  std::size_t capacity_;
  std::size_t count_ = 0;
  std::size_t depth_ = 0;
  std::size_t innermost_ = noBlock;
  ParseResult result_{Status::ok, 0, 0, 0};
};

}  // namespace

Status expandReplacements(const char16_t* text, std::size_t length, const Replacement* replacements,
                          std::size_t count, char16_t* out, std::size_t capacity, std::size_t* needed,
                          std::size_t* errorOffset) noexcept {
  std::size_t written = 0;
  auto put = [&](const char16_t* chars, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (written < capacity) {
        out[written] = chars[i];
      }
      written = addSaturating(written, 1);
    }
  };
  *needed = 0;
  *errorOffset = 0;
  std::size_t i = 0;
  while (i < length) {
    if (text[i] != u'%') {
      put(text + i, 1);
      ++i;
      continue;
    }
    if (i + 1 < length && text[i + 1] == u'%') {
      put(text + i, 1);
      i += 2;
      continue;
    }
    std::size_t close = i + 1;
    while (close < length && text[close] != u'%') {
      ++close;
    }
    if (close == length) {
      *errorOffset = i;
      return Status::unterminatedReplacement;
    }
    const Replacement* found = nullptr;
    for (std::size_t r = 0; r < count && found == nullptr; ++r) {
      if (equalsIgnoringCase(replacements[r].name, replacements[r].nameLength, text + i + 1, close - i - 1)) {
        found = &replacements[r];
      }
    }
    if (found == nullptr) {
      *errorOffset = i;
      return Status::unknownReplacement;
    }
    put(found->value, found->valueLength);
    i = close + 1;
  }
  *needed = written;
  return written > capacity ? Status::bufferTooSmall : Status::ok;
}

ParseResult parseScript(const char16_t* text, std::size_t length, Operation* ops,
                        std::size_t capacity) noexcept {
  if (ops == nullptr) {
    capacity = 0;
  }
  Parser parser(text, length, ops, capacity);
  return parser.run(text, length);
}

std::size_t copyUnescaped(const Text& text, char16_t* out) noexcept {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.length; ++i) {
    out[n++] = text.chars[i];
    if (text.quoted && text.chars[i] == u'\'') {
      ++i;
    }
  }
  return n;
}

std::size_t copyMultiString(const Text& text, char16_t* out) noexcept {
  std::size_t n = copyUnescaped(text, out);
  std::size_t w = 0;
  for (std::size_t r = 0; r < n; ++r) {
    if (out[r] == u'\\' && r + 1 < n && out[r + 1] == u'0') {
      out[w++] = u'\0';
      ++r;
    } else {
      out[w++] = out[r];
    }
  }
  out[w++] = u'\0';
  out[w++] = u'\0';
  return w;
}

std::size_t copyBinary(const Text& text, std::uint8_t* out) noexcept {
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < text.length; i += 2) {
    out[n++] = static_cast<std::uint8_t>(hexDigit(text.chars[i]) * 16 + hexDigit(text.chars[i + 1]));
  }
  return n;
}

std::size_t escapeSingleQuotes(char16_t* destination, std::size_t capacity, const char16_t* source) noexcept {
  if (capacity == 0) {
    return 0;
  }
  std::size_t n = 0;
  for (std::size_t i = 0; source[i] != u'\0' && n + 1 < capacity; ++i) {
    destination[n++] = source[i];
    if (source[i] == u'\'') {
      if (n + 1 >= capacity) {
        break;  // no room for the second quote
      }
      destination[n++] = u'\'';
    }
  }
  destination[n] = u'\0';
  return n;
}

}  // namespace server::script
