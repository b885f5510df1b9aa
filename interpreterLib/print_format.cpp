#include "interpreterLib/print_format.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"

namespace {

struct TimeUnit {
  uint64_t ps;
  const char* suffix;
};
constexpr TimeUnit kUnits[] = {
    {86400000000000000ull, "d"},
    {3600000000000000ull, "h"},
    {60000000000000ull, "mn"},
    {1000000000000ull, "s"},
    {1000000000ull, "ms"},
    {1000000ull, "us"},
    {1000ull, "ns"},
    {1ull, "ps"},
};

// The format and `%s` sources: an array's size, a channel's element count.
uint32_t bufferLength(InterpEnv* env, TaggedValue buffer) {
  const TypeRecord& type = env->program->typeTable[buffer.typeId];
  return type.bufferType == ARRAY_BUFFER ? type.size : channel_count(env, buffer);
}

uint8_t charAt(InterpEnv* env, TaggedValue buffer, uint32_t i) {
  return buffer_getIndexValue(env, buffer, i).value->u8;
}

// Walks an argument list, evaluating one value at a time.
struct Arguments {
  InterpEnv* env;
  const AST_Node* cell;
  bool remain() const { return cell != nullptr; }
  TaggedValue next() {
    const Program* program = env->program.get();
    const TaggedValue v = expr_execute(env, AST_child(program, cell->left));
    cell = AST_child(program, cell->right);
    return v;
  }
};

void sinkToPrint(void* ctx, const char* text) {
  print_string(static_cast<InterpEnv*>(ctx), text);
}

// The text of one numeric or boolean conversion shared by both printers.
bool numberText(char conversion, TaggedValue v, char* text) {
  switch (conversion) {
    case 'b': sprint_bool(text, v.value->boolean != 0); return true;
    case 'c': {
      int64_t s = 0;
      primTypeToSInt64(v, &s);
      sprint_cint(text, s);
      return true;
    }
    case 'd':
    case 'i': {
      int64_t s = 0;
      primTypeToSInt64(v, &s);
      sprint_sint(text, s);
      return true;
    }
    case 'u':
    case 'x': {
      uint64_t u = 0;
      primTypeToUInt64(v, &u);
      if (conversion == 'u') {
        sprint_uint(text, u);
      } else {
        sprint_xint(text, u);
      }
      return true;
    }
    default: return false;
  }
}

bool isConversion(char c) {
  switch (c) {
    case 'b':
    case 'c':
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'f':
    case 's':
    case 't': return true;
    default: return false;
  }
}

char printEscape(uint8_t c) {
  switch (c) {
    case '"': return '"';
    case '\'': return '\'';
    case '0': return '\0';
    case '\\': return '\\';
    case 'a': return 7;
    case 'b': return 8;
    case 'f': return 12;
    case 'n': return 10;
    case 'r': return 13;
    case 't': return 9;
    case 'v': return 11;
    default: return ' ';
  }
}

void printValue(InterpEnv* env, char conversion, TaggedValue v) {
  char text[32];
  if (numberText(conversion, v, text)) {
    if (conversion == 'c') {
      print_char(env, static_cast<uint8_t>(text[0]));
    } else {
      print_string(env, text);
    }
    return;
  }
  switch (conversion) {
    case 'f': print_float(env, TaggedValue_asF64(v, CONV_ANY_PRIM)); break;
    case 's': {
      const uint32_t length = bufferLength(env, v);
      for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = charAt(env, v, i);
        if (c == 0) break;
        print_char(env, c);
      }
      break;
    }
    case 't': print_time(env, v.value->u64, v.typeId); break;
    default: break;
  }
}

}  // namespace

void print_char(InterpEnv* env, uint8_t c) {
  ENV_CHECK(env, env->ctx->print_callback != nullptr, "env->ctx->print_callback != NULL");
  ENV_CHECK(env, env->ctx->print_enabled, "env->ctx->print_enabled");
  env->ctx->print_callback(env, c);
}

void print_string(InterpEnv* env, const char* text) {
  for (; *text != '\0'; ++text) print_char(env, static_cast<uint8_t>(*text));
}

void print_format(InterpEnv* env, const AST_Node* args) {
  if (args == nullptr) return;
  const Program* program = env->program.get();
  Arguments values{env, AST_child(program, args->right)};
  if (!env->ctx->print_enabled) {
    while (values.remain()) values.next();
    return;
  }
  const TaggedValue format = expr_execute(env, AST_child(program, args->left));
  const uint32_t length = bufferLength(env, format);
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = charAt(env, format, i);
    if (c == 0) return;
    if (c == '%') {
      if (++i >= length) return;
      const uint8_t conversion = charAt(env, format, i);
      if (conversion == '%') {
        print_char(env, '%');
      } else if (isConversion(static_cast<char>(conversion)) && values.remain()) {
        printValue(env, static_cast<char>(conversion), values.next());
      }
    } else if (c == '\\') {
      if (++i >= length) return;
      print_char(env, static_cast<uint8_t>(printEscape(charAt(env, format, i))));
    } else {
      print_char(env, c);
    }
  }
}

void print_formatLine(InterpEnv* env, const AST_Node* args) {
  print_format(env, args);
  if (env->ctx->print_enabled) print_char(env, '\n');
}

namespace {

// The target of string printing and how much of it is written.
struct StringTarget {
  InterpEnv* env;
  TaggedValue buffer;
  uint32_t kind;
  uint32_t capacity;
  uint32_t written = 0;

  void store(uint32_t position, uint8_t c) {
    if (kind == ARRAY_BUFFER) {
      buffer_getIndexValue(env, buffer, position).value->u64 = c;
    } else if (kind == QUEUE_BUFFER) {
      ValueCell cell = kZeroCell;
      cell.u8 = c;
      channel_push(env, nullptr, buffer, &cell);
    }
  }

  // Appends what fits; the rest of the piece is dropped.
  void append(const std::string& piece) {
    if (kind != ARRAY_BUFFER && kind != QUEUE_BUFFER) return;
    uint32_t k = 0;
    for (; k < piece.size() && written + k < capacity; ++k) {
      store(written + k, static_cast<uint8_t>(piece[k]));
    }
    written += k;
  }

  void copyString(TaggedValue source) {
    const uint32_t length = bufferLength(env, source);
    uint32_t j = 0;
    for (; j < length; ++j) {
      if (written + j >= capacity) {
        interp_failure(env, "String copy exceeds target_buffer buffer size !\n");
        break;
      }
      const uint8_t c = charAt(env, source, j);
      if (kind == ARRAY_BUFFER) {
        store(written + j, c);
        if (c == 0) break;
      } else if (kind == QUEUE_BUFFER) {
        if (c == 0) break;
        store(written + j, c);
      }
    }
    written += j;
  }
};

char stringEscape(uint8_t c, bool* none) {
  *none = false;
  switch (c) {
    case '\'': return '\'';
    case '"': return '"';
    case '\\': return '\\';
    case '0': *none = true; return 0;
    default: return ' ';
  }
}

}  // namespace

void string_print_format(InterpEnv* env, const AST_Node* args) {
  ENV_CHECK(env, args != nullptr, "args != ((void *)0)");
  if (args == nullptr) return;
  const Program* program = env->program.get();
  const AST_Node* formatCell = AST_child(program, args->right);
  const TaggedValue targetValue = expr_execute(env, AST_child(program, args->left));
  const TypeRecord& targetType = program->typeTable[targetValue.typeId];
  StringTarget target{env, targetValue, targetType.bufferType, targetType.size};
  if (formatCell == nullptr) return;
  const TaggedValue format = expr_execute(env, AST_child(program, formatCell->left));
  Arguments values{env, AST_child(program, formatCell->right)};
  const uint32_t length = bufferLength(env, format);
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = charAt(env, format, i);
    if (c == 0) break;
    std::string piece;
    if (c == '\\') {
      if (++i >= length) break;
      bool none = false;
      const char e = stringEscape(charAt(env, format, i), &none);
      if (!none) piece.push_back(e);
    } else if (c == '%') {
      if (++i >= length) break;
      const char conversion = static_cast<char>(charAt(env, format, i));
      // `piece` is empty here: appending says so to the compiler, which
      // otherwise sees a replacement of unknown overlap in an assignment.
      if (conversion == '%') {
        piece.push_back('%');
      } else if (isConversion(conversion) && values.remain()) {
        const TaggedValue v = values.next();
        char text[kFloatTextSize];
        if (numberText(conversion, v, text)) {
          if (conversion == 'c') {
            piece.push_back(text[0]);
          } else {
            piece.append(text);
          }
        } else if (conversion == 'f') {
          if (v.typeId == TypeF32) piece.assign(text, sprint_float(text, v.value->f32));
          if (v.typeId == TypeF64) piece.assign(text, sprint_float(text, v.value->f64));
        } else if (conversion == 't') {
          sprint_time(text, v.value->u64);
          piece.append(text);
        } else if (conversion == 's') {
          target.copyString(v);
        }
      }
    } else {
      piece.push_back(static_cast<char>(c));
    }
    target.append(piece);
  }
  if (target.kind == ARRAY_BUFFER && target.written < target.capacity) {
    target.store(target.written, 0);
  }
}

// ---------------------------------------------------------------- times

void print_time_reminder(void* ctx, TextSink out, uint64_t* value, uint64_t unit,
                         const char* suffix) {
  const uint64_t quotient = *value / unit;
  *value %= unit;
  if (quotient == 0) return;
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 "%s", quotient, suffix);
  out(ctx, text);
}

void print_time_helper(void* ctx, TextSink out, uint64_t t) {
  if (t == 0) return out(ctx, "0");
  if (t == UINT64_MAX) return out(ctx, "time64.LAST");
  for (const TimeUnit& unit : kUnits) print_time_reminder(ctx, out, &t, unit.ps, unit.suffix);
}

void print_duration_helper(void* ctx, TextSink out, int64_t d) {
  if (d == 0) return out(ctx, "0");
  if (d == INT64_MAX) return out(ctx, "duration64.LAST");
  if (d == INT64_MIN) return out(ctx, "duration64.FIRST");
  uint64_t magnitude = static_cast<uint64_t>(d);
  if (d < 0) {
    out(ctx, "-");
    magnitude = 0 - magnitude;
  }
  for (const TimeUnit& unit : kUnits) {
    print_time_reminder(ctx, out, &magnitude, unit.ps, unit.suffix);
  }
}

void print_time(InterpEnv* env, uint64_t value, uint32_t typeId) {
  if (typeId == TypeDuration64) {
    print_duration_helper(env, sinkToPrint, static_cast<int64_t>(value));
  } else {
    print_time_helper(env, sinkToPrint, value);
  }
}

void sprint_time(char* text, uint64_t t) {
  if (t == 0) {
    std::snprintf(text, kTimeTextSize, "0");
    return;
  }
  if (t == UINT64_MAX) {
    std::snprintf(text, kTimeTextSize, "time64.LAST");
    return;
  }
  std::string all;
  for (const TimeUnit& unit : kUnits) {
    all += std::to_string(t / unit.ps) + unit.suffix;
    t %= unit.ps;
  }
  std::snprintf(text, kTimeTextSize, "%s", all.c_str());
}

// ---------------------------------------------------------------- numbers

int sprint_uint(char* text, uint64_t v) {
  return std::snprintf(text, 32, "%" PRIu64, v);
}
int sprint_sint(char* text, int64_t v) {
  return std::snprintf(text, 32, "%" PRId64, v);
}
int sprint_xint(char* text, uint64_t v) {
  return std::snprintf(text, 32, "%" PRIx64, v);
}

int sprint_cint(char* text, int64_t v) {
  text[0] = static_cast<char>(static_cast<uint8_t>(v & 0xFF));
  text[1] = '\0';
  return 1;
}

int sprint_bool(char* text, bool v) {
  return std::snprintf(text, 32, "%s", v ? "true" : "false");
}

int sprint_float(char* text, double v) {
  return std::snprintf(text, kFloatTextSize, "%0.6f", v);
}

void print_float(InterpEnv* env, double v) {
  char text[kFloatTextSize];
  std::snprintf(text, sizeof text, "%f", v);
  print_string(env, text);
}
