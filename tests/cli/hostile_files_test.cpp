// Program files found by fuzzing and mutation that once crashed or aborted
// kova: each now ends in order, refused with its reason or ended by a
// run-time failure message.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/golden.h"

using namespace kova_test;

TEST(HostileFiles, EndInOrder) {
  const struct {
    const char* file;
    const char* out;
  } cases[] = {
      {"instance_description_not_a_list.ast",
       "setup \ninvalid Kova AST file !\n"
       "node 191 (PROCESS_INSTANCE_NODE): a description that is not a list\nEXIT (1) AT 0 (0)\n"},
      {"exit_code_of_wrong_type.ast",
       "setup \nQuiet mode enabled\n"
       "Wrong value type: primTypeToUInt8(val, &res) & expectedConvRes\n"
       "EXIT (1) AT 5ms (5000000000)\n"},
      // A state variable of 258 cells initialised from a one-cell value.
      {"state_initializer_of_another_type.ast",
       "setup \nQuiet mode enabled\nunknown operator/statement (38)\nEXIT (1) AT 0 (0)\n"},
      // A hardware annotation's local of the built-in structure type, whose
      // clearing walked the root node as a field list.
      {"annotation_local_of_the_structure_type.ast",
       "setup \ninvalid Kova AST file !\nnode 177 (AND_OP): declared type 23 holds no value\n"
       "EXIT (1) AT 0 (0)\n"},
      // An iterator call on a value whose cells held no iterator: they were
      // taken for the address of a buffer.
      {"iterator_call_on_another_value.ast",
       "setup \n[0.000000000000:ASSIGN] Assign tx new value: 5000\n"
       "variableId < (env->ctx->localVarsIndexes.count.variables - "
       "env->ctx->localVarsIndexes.base.variables)\nEXIT (1) AT 0 (0)\n"},
      // A primitive type of 0xFFFFFFFE cells: assigning a one-cell value to a
      // temporary of that type cleared the cells past the evaluation stack.
      {"primitive_type_of_many_cells.ast",
       "setup \ninvalid Kova AST file !\ntype 15: a primitive type of 4294967294 cells\n"
       "EXIT (1) AT 0 (0)\n"},
  };
  for (const auto& c : cases) {
    const RunResult r =
        runKovaCommand(std::string("-q -z -t 200 ") + KOVA_REGRESSIONS + "/" + c.file);
    EXPECT_EQ(r.out, c.out) << c.file;
    EXPECT_EQ(r.status, 1) << c.file;
  }
}
