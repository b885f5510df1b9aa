// Leaf nodes made by the lexer for identifiers and literals.
#include <array>
#include <charconv>
#include <limits>
#include <string>
#include <vector>

#include "parserLib/diagnostics.h"
#include "parserLib/kova_lex.h"

namespace {

struct TimeUnit {
  std::string_view name;
  uint32_t op;
  int rank;  // larger is a longer unit
};

// In the order the names are compared: "s" last, since "ms", "us"... end
// with it.
constexpr auto kTimeUnits = std::to_array<TimeUnit>({
    {"ps", PS_OP, 0},
    {"ns", NS_OP, 1},
    {"us", US_OP, 2},
    {"\xC2\xB5s", US_OP, 2},
    {"ms", MS_OP, 3},
    {"s", S_OP, 4},
});

// One cycle per 2^64 picoseconds, the longest period a duration holds.
constexpr double kMinFrequency = 5.421010862427523e-08;
constexpr double kMaxFrequency = 1e12;
// Enough digits to print the lower bound exactly as it is defined.
constexpr int kMinFrequencyDigits = 15;
constexpr int kMaxFrequencyDigits = 0;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

void skipSpaces(std::string_view text, size_t& p) {
  while (p < text.size() && text[p] == ' ') ++p;
}

}  // namespace

AST_Node* defExpr_makeSymbol(ParserEnv* penv, std::string_view name) {
  const uint32_t symbol = parser_internSymbol(penv, std::string(name).c_str());
  return parser_makeNodeWord(penv, SYM, symbol, nullptr, nullptr);
}

AST_Node* defExpr_makeIntegerLiteral(ParserEnv* penv, uint64_t value) {
  NodeValue v{};
  v.u64 = value;
  return parser_makeNode(penv, INTEGER_OP, v, nullptr, nullptr);
}

AST_Node* defExpr_makeFloatLiteralNode(ParserEnv* penv, std::string_view text) {
  // The text is kept rather than a value: whether it is read as a float32
  // or a float64 depends on the expression around it.
  std::vector<std::string>& numerics = penv->pctx.numerics;
  numerics.emplace_back(text);
  const auto index = static_cast<uint32_t>(numerics.size() - 1);
  AST_Node* indexNode = parser_makeNodeWord(penv, INDEX_NODE, index, nullptr, nullptr);
  if (indexNode == nullptr) return nullptr;
  return parser_makeNodeWord(penv, FLOAT_OP, TypeFloat, indexNode, nullptr);
}

AST_Node* defExpr_makeTimeLiteral(ParserEnv* penv, std::string_view text) {
  // Once the node budget is exhausted no node is made, so an incomplete sum
  // is null.
  AST_Node* expression = nullptr;
  const TimeUnit* reference = nullptr;
  size_t part = 0;
  size_t p = 0;
  skipSpaces(text, p);
  while (p < text.size()) {
    const size_t digitsStart = p;
    while (p < text.size() && isDigit(text[p])) ++p;
    if (p == digitsStart) break;
    uint64_t count = 0;
    if (std::from_chars(text.data() + digitsStart, text.data() + p, count).ec ==
        std::errc::result_out_of_range) {
      count = std::numeric_limits<uint64_t>::max();
    }
    skipSpaces(text, p);
    const TimeUnit* unit = nullptr;
    for (const TimeUnit& candidate : kTimeUnits) {
      if (text.substr(p).starts_with(candidate.name)) {
        unit = &candidate;
        break;
      }
    }
    if (unit == nullptr) break;
    p += unit->name.size();
    skipSpaces(text, p);
    ++part;

    if (reference != nullptr && unit->rank >= reference->rank) {
      diag::time_unit_order(penv, part, std::string(unit->name).c_str(),
                            std::string(reference->name).c_str());
    } else {
      reference = unit;
    }

    NodeValue value{};
    value.u64 = count;
    AST_Node* node = parser_makeNode(penv, unit->op, value, nullptr, nullptr);
    expression = expression == nullptr
                     ? node
                     : parser_makeNodeWord(penv, PLUS_OP, TypeTime, expression, node);
  }
  return expression;
}

AST_Node* defExpr_makeFrequencyLiteral(ParserEnv* penv, std::string_view text) {
  size_t p = 0;
  skipSpaces(text, p);
  size_t end = p;
  while (end < text.size() && isDigit(text[end])) ++end;
  if (end < text.size() && text[end] == '.') {
    ++end;
    while (end < text.size() && isDigit(text[end])) ++end;
  }
  const std::string_view number = text.substr(p, end - p);
  if (number.find_first_not_of("0.") == std::string_view::npos) {
    diag::frequency_zero(penv);
    return nullptr;
  }
  // A number beyond a double's range leaves f at 0, below the range.
  double f = 0.0;
  std::from_chars(number.data(), number.data() + number.size(), f, std::chars_format::fixed);
  if (f < kMinFrequency || f > kMaxFrequency) {
    diag::frequency_out_of_range(penv, kMinFrequencyDigits, kMinFrequency, kMaxFrequencyDigits,
                                 kMaxFrequency);
    return nullptr;
  }
  // At the lowest frequency the period rounds up to 2^64, one past the
  // largest count.
  const double period = kMaxFrequency / f + 0.5;
  constexpr double kTwoTo64 = 18446744073709551616.0;
  NodeValue value{};
  value.u64 =
      period >= kTwoTo64 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(period);
  return parser_makeNode(penv, PS_OP, value, nullptr, nullptr);
}

AST_Node* defExpr_makeStr(ParserEnv* penv, std::string_view contents) {
  // The node first: when the node budget is exhausted, no data is added.
  AST_Node* node = parser_makeNodeWord(penv, STRING_OP, 0, nullptr, nullptr);
  if (node == nullptr) return nullptr;
  // A uint8 queue holding the characters: in index, out index, one cell per
  // character, a zero cell.
  std::vector<ValueCell> cells(contents.size() + 3);  // value-initialized: every byte zero
  cells[0].index = static_cast<uint32_t>(contents.size() + 2);
  cells[1].index = 2;
  for (size_t i = 0; i < contents.size(); ++i) {
    cells[2 + i].u8 = static_cast<uint8_t>(contents[i]);
  }
  node->value.id.index =
      parser_addConstantData(penv, cells.data(), static_cast<uint32_t>(cells.size()));
  return node;
}
