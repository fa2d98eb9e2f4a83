// libFuzzer target for the registry-script parser and its helpers. Each input
// byte becomes one UTF-16 unit (so that the fuzzer reaches the ASCII syntax
// quickly); the result is expanded, parsed and decoded, and the operations'
// invariants are checked. Build and run natively, e.g.:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     server/registry_script.cpp tests/registration/registry_script_fuzz.cpp -o registry_script_fuzz
//   ./registry_script_fuzz -max_total_time=60

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/registry_script.h"

using namespace server::script;

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool inside(const Text& text, const std::u16string_view buffer) {
  return text.length == 0 ||
         (text.chars >= buffer.data() && text.chars + text.length <= buffer.data() + buffer.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string input(data, data + size);
  const std::u16string name = u"Module";
  const std::u16string value = u"C:\\it''s\\D.DLL";
  const Replacement replacements[] = {{name.data(), name.size(), value.data(), value.size()}};

  std::size_t needed = 0, offset = 0;
  Status status =
      expandReplacements(input.data(), input.size(), replacements, 1, nullptr, 0, &needed, &offset);
  if (status != Status::ok && status != Status::bufferTooSmall) {
    check(offset < input.size());
    return 0;
  }
  std::u16string text(needed, u'\0');
  status = expandReplacements(input.data(), input.size(), replacements, 1, text.data(), text.size(), &needed,
                              &offset);
  check(status == Status::ok && needed == text.size());

  const ParseResult sizing = parseScript(text.data(), text.size(), nullptr, 0);
  if (sizing.status != Status::ok && sizing.status != Status::bufferTooSmall) {
    check(sizing.errorOffset <= text.size());
    return 0;
  }
  std::vector<Operation> ops(sizing.count);
  const ParseResult parsed = parseScript(text.data(), text.size(), ops.data(), ops.size());
  check(parsed.status == Status::ok && parsed.count == sizing.count && parsed.depth == sizing.depth);

  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const Operation& op = ops[i];
    check(inside(op.name, text) && inside(op.data, text));
    switch (op.kind) {
      case OpKind::root:
        check(open.empty());
        open.push_back(i);
        break;
      case OpKind::key:
        check(!open.empty());
        open.push_back(i);
        break;
      case OpKind::end:
        check(!open.empty() && ops[open.back()].end == i);
        open.pop_back();
        break;
      case OpKind::value:
      case OpKind::deleteKey:
        check(!open.empty());
        break;
    }
    check(open.size() <= parsed.depth);
    std::vector<char16_t> out(op.name.length + op.data.length + 2);
    check(copyUnescaped(op.name, out.data()) <= op.name.length);
    if (op.type == ValueType::multiString) {
      check(copyMultiString(op.data, out.data()) <= op.data.length + 2);
    }
    if (op.type == ValueType::binary) {
      std::vector<std::uint8_t> bytes(op.data.length / 2 + 1);
      check(copyBinary(op.data, bytes.data()) == op.data.length / 2);
    }
  }
  check(open.empty());
  return 0;
}
