#include "script_render.h"

#include <vector>

namespace script_test {

using server::script::Operation;
using server::script::OpKind;
using server::script::Status;
using server::script::Text;
using server::script::ValueType;

namespace {

std::string unescaped(const Text& text) {
  std::u16string out(text.length, u'\0');
  out.resize(server::script::copyUnescaped(text, out.data()));
  return narrow(out);
}

std::string data(const Operation& op) {
  switch (op.type) {
    case ValueType::string:
      return "s:" + unescaped(op.data);
    case ValueType::expandString:
      return "e:" + unescaped(op.data);
    case ValueType::multiString: {
      std::u16string out(op.data.length + 2, u'\0');
      out.resize(server::script::copyMultiString(op.data, out.data()));
      std::string shown = "m:";
      for (char16_t c : out) {
        shown += c == u'\0' ? '|' : static_cast<char>(c);
      }
      return shown;
    }
    case ValueType::dword:
      return "d:" + std::to_string(op.number);
    case ValueType::qword:
      return "q:" + std::to_string(op.number);
    case ValueType::binary: {
      std::vector<std::uint8_t> bytes(op.data.length / 2 + 1);
      bytes.resize(server::script::copyBinary(op.data, bytes.data()));
      std::string shown = "b:";
      static const char digits[] = "0123456789abcdef";
      for (std::uint8_t b : bytes) {
        shown += digits[b >> 4];
        shown += digits[b & 15];
      }
      return shown;
    }
    case ValueType::none:
      break;
  }
  return "";
}

const char* rootName(server::script::RootKey root) {
  static const char* const names[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKCC", "HKDD"};
  return names[static_cast<int>(root)];
}

}  // namespace

const char* statusName(Status status) {
  static const char* const names[] = {"ok",
                                      "bufferTooSmall",
                                      "unknownReplacement",
                                      "unterminatedReplacement",
                                      "invalidCharacter",
                                      "unexpectedEnd",
                                      "unknownRootKey",
                                      "expectedOpenBrace",
                                      "unexpectedToken",
                                      "unterminatedString",
                                      "expectedEquals",
                                      "unknownValueType",
                                      "badNumber",
                                      "badBinary",
                                      "badName"};
  return names[static_cast<int>(status)];
}

std::string renderOperations(const Operation* ops, std::size_t count) {
  std::string out;
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < count; ++i) {
    const Operation& op = ops[i];
    if (!out.empty()) {
      out += ' ';
    }
    switch (op.kind) {
      case OpKind::root:
        out += std::string(rootName(op.root)) + "{";
        open.push_back(i);
        break;
      case OpKind::key:
        out += std::string(op.forceRemove ? "F:" : "") + (op.noRemove ? "N:" : "") + unescaped(op.name);
        if (op.type != ValueType::none) {
          out += "=" + data(op);
        }
        out += "{";
        open.push_back(i);
        break;
      case OpKind::end:
        out += "}";
        if (open.empty() || ops[open.back()].end != i) {
          out += "!badend";
        }
        if (!open.empty()) {
          open.pop_back();
        }
        break;
      case OpKind::value:
        out += std::string(op.noRemove ? "N:" : "") + "val:" + unescaped(op.name) + "=" + data(op);
        break;
      case OpKind::deleteKey:
        out += "del:" + unescaped(op.name);
        break;
    }
  }
  if (!open.empty()) {
    out += " !unclosed";
  }
  return out;
}

std::string render(const std::u16string& text) {
  server::script::ParseResult first = server::script::parseScript(text.data(), text.size(), nullptr, 0);
  if (first.status != Status::ok && first.status != Status::bufferTooSmall) {
    return std::string("error ") + statusName(first.status) + " at " + std::to_string(first.errorOffset);
  }
  std::vector<Operation> ops(first.count);
  server::script::ParseResult second =
      server::script::parseScript(text.data(), text.size(), ops.data(), ops.size());
  if (second.status != Status::ok || second.count != first.count) {
    return std::string("second parse: ") + statusName(second.status);
  }
  return renderOperations(ops.data(), ops.size());
}

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

}  // namespace script_test
