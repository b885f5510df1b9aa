// Fuzz target: console lines compiled against a loaded program.
//
// Whatever bytes a user types, compiling them must end with a diagnostic or a
// compiled statement, never a crash, a hang, a leak or an out-of-bounds
// access, and the program must stay as it was. The lines are compiled, not
// run (a typed `while (true) {}` would never end).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "parserLib/parser_data.h"
#include "tests/support/program_builder.h"

using namespace kova_test;

namespace {

// A program with a little of everything a console line can name.
std::unique_ptr<Program> fuzzProgram() {
  ProgramBuilder b({.modelName = "fuzz", .fileTypes = true, .udpTypes = true});
  const uint32_t color = b.enumType("Color", {"RED", "GREEN", "BLUE"});
  const uint32_t point = b.structType("Point", {{"x", TypeSInt32}, {"y", TypeF64}, {"c", color}});
  b.global("speed", TypeUInt32, {7});
  b.global("ratio", TypeF32);
  b.global("flag", TypeBoolean);
  b.global("when", TypeTime64);
  b.global("delta", TypeDuration64);
  b.global("small", TypeSInt8);
  b.global("p", point);
  b.global("samples", b.arrayType(TypeUInt16, 8));
  b.global("points", b.arrayType(point, 3));
  b.global("q", b.queueType(TypeUInt8, 4));
  b.global("st", b.stackType(TypeSInt64, 4));
  b.global("text", b.arrayType(TypeUInt8, 32));
  b.constant("LIMIT", TypeUInt16, {40});
  b.function("twice", {{Dir::In, TypeUInt32, "a"}, {Dir::Out, TypeUInt32, "r"}},
             b.block({b.assign(b.local(1), b.op(MULT_OP, TypeUInt32, b.local(0), b.integer(2)))}));
  const uint32_t p = b.process("Show", {.states = {{"s", b.block({})}}});
  b.instance("show", p, {.period = b.ms(100)});
  return b.build();
}

InterpEnv* environment() {
  static std::unique_ptr<InterpEnv> env = [] {
    auto e = interp_create();
    interp_load_from_program(e.get(), fuzzProgram());
    interp_init(e.get());
    return e;
  }();
  return env.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InterpEnv* env = environment();
  const std::string text = "$ " + std::string(reinterpret_cast<const char*>(data), size);
  const ParserTableMark mark = parser_markTables(env->program.get());
  std::unique_ptr<ParserEnv> penv = parser_initTables();
  parser_loadProgram(penv.get(), env);
  parser_parseString(penv.get(), text.c_str());
  parser_freeEnv(std::move(penv));
  parser_restoreTables(env->program.get(), mark);
  std::fflush(stdout);
  return 0;
}
