// A program with something in every section of a program file and of each
// kind the validator walks: types, constants, strings, globals, statics, a
// function, a named block, process definitions with a sub-process, periodic
// and triggered instances; with the ids of the nodes tests damage.
#pragma once

#include "ASTLib/call_codes.h"
#include "tests/support/program_builder.h"

namespace kova_test {

struct SampleProgram {
  ProgramBuilder b{{.modelName = "rich", .fileTypes = true}};
  uint32_t rec = b.structType("Rec", {{"a", TypeUInt8}, {"b", TypeF64}});
  uint32_t g = b.global("g", TypeUInt32);
  uint32_t three = b.global("three", b.arrayType(TypeUInt8, 3), {1, 2, 3});
  uint32_t two = b.global("two", rec, {4, 5});
  uint32_t k = b.constant("PI", TypeF64, {0x400921FB54442D18});
  N sum = b.op(PLUS_OP, TypeUInt32, b.gvar(g), b.integer(1));
  N call = b.call(kCallUInt32Max, TypeUInt32, none, {b.integer(1), b.integer(2)});
  uint32_t f = b.function("init", {{Dir::In, TypeUInt32, "x"}},
                          b.block({b.assign(b.gvar(g), sum), b.assign(b.gvar(g), call),
                                   b.println("x=%d", {b.local(0)})}));
  N named = b.namedBlock("timed", b.block({b.callFunction(f, {b.integer(3)})}));
  uint32_t child = b.process(
      "Child",
      {.statics = {{"count", TypeUInt32, {7}}},
       .states = {{"idle", b.block({named, b.assertThat(b.boolean(true), "m.kova", 3, "x")})}}});
  N sub = b.call(kCallSubProcess, TypeStatement, none, {}, 0);
  uint32_t parent =
      b.process("Parent", {.subs = {{"c", child}},
                           .states = {{"a", b.block({sub}), {on(b.boolean(true), "b")}},
                                      {"b", none, {after(b.ms(5), "a")}}}});
  uint32_t periodic =
      b.instance("p", parent, {.period = b.ms(10), .offset = b.ms(2), .priority = 3});
  uint32_t triggered = b.instance("t", child, {.trigger = b.boolean(false)});
  SampleProgram() { b.setLine(b.callFunction(f, {b.integer(1)}), 42); }  // a node off the tree
};

}  // namespace kova_test
