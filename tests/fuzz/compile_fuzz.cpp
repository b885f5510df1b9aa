// Fuzz target: whole Kova programs compiled from arbitrary text.
//
// Whatever the source, compiling must end with diagnostics or a program,
// never a crash, a hang, a leak or an out-of-bounds access; and a program
// that compiles must load and run without the interpreter aborting or
// crashing. The run is bounded: a few simulated activations, then the host
// ends it. Programs that could loop inside one activation (while and for
// loops, recursion, self.continue) or move the clock back, and programs
// bound to files or ports, are compiled but not run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "parserLib/compiler.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr int kActivations = 40;

int activations = 0;

void countActivation(InterpEnv*, TaggedValue, uint32_t kind) {
  if (kind == 0 && ++activations > kActivations) throw HostExit{0, 0};
}

// Whether the program can be run within bounds (see the header).
bool runnable(const Program* program) {
  const InfoProg& info = *program->infoProg;
  const uint32_t continueOffset = [&] {
    uint32_t offset = 0;
    for (uint32_t t = 0; t < info.n_type; ++t) {
      if (std::strcmp(Type_getName(program, t), "Process_Instance") != 0) continue;
      for (const AST_Node* cell = AST_fromId(program, Type_getFields(program, t)); cell != nullptr;
           cell = AST_right(program, cell)) {
        const AST_Node* field = AST_left(program, cell);
        if (std::strcmp(Symbol_getName(program, AST_getStructFieldSymId(program, field)),
                        "continue") == 0) {
          return offset;
        }
        offset += Type_getStorageSize(program, AST_getStructFieldTypeId(program, field));
      }
    }
    return NO_ID;
  }();
  // Calls between functions, to find recursion.
  std::vector<std::vector<uint32_t>> calls(info.n_functions);
  for (uint32_t f = 0; f < info.n_functions; ++f) {
    std::vector<uint32_t> pending{program->functionTable[f].body};
    while (!pending.empty()) {
      const uint32_t id = pending.back();
      pending.pop_back();
      const AST_Node* node = AST_fromId(program, id);
      if (node == nullptr) continue;
      if (node->op == CALL_OP && AST_getCallCode(program, node) <= kCallFunctionCustom) {
        calls[f].push_back(AST_getCustomFuncId(program, node));
      }
      pending.push_back(node->left);
      pending.push_back(node->right);
    }
  }
  std::vector<int> mark(info.n_functions, 0);
  bool recursive = false;
  const auto visit = [&](auto& self, uint32_t f) -> void {
    mark[f] = 1;
    for (uint32_t g : calls[f]) {
      if (g >= info.n_functions) continue;
      if (mark[g] == 1) recursive = true;
      if (mark[g] == 0) self(self, g);
    }
    mark[f] = 2;
  };
  for (uint32_t f = 0; f < info.n_functions && !recursive; ++f) {
    if (mark[f] == 0) visit(visit, f);
  }
  if (recursive) return false;
  for (uint32_t id = 0; id < info.n_AST; ++id) {
    const AST_Node& n = program->RAMprogram[id];
    switch (n.op) {
      case WHILE_OP:
      case FOR_OP:
      case HARDWARE_ANNOTATION: return false;
      case CALL_OP: {
        const uint32_t code = AST_getCallCode(program, &n);
        if (code == kCallAdjustTime) return false;
        if (code == kCallFieldCustom && AST_getCustomFldOffsetId(program, &n) == continueOffset) {
          return false;
        }
        break;
      }
      default: break;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CompileOptions options;
  options.libraryDirs = kova_defaultLibraryDirs();
  options.sink = [](const ParserEnv&, const Diagnostic&) {};
  options.nodeCapacity = 1u << 16;  // room enough for what the fuzzer writes, cheap to allocate
  CompileResult compiled = kova_compileText(
      "fuzz.kova", std::string(reinterpret_cast<const char*>(data), size), options);
  if (compiled.program == nullptr || !runnable(compiled.program.get())) return 0;
  auto env = interp_create();
  interp_load_from_program(env.get(), std::move(compiled.program));
  TestHost host(env.get());
  host.invalidOpEndsRun = true;
  env_on_any_task_activation(env.get(), countActivation);
  activations = 0;
  try {
    interp_init(env.get());
    for (int i = 0; i < kActivations; ++i) interp_step(env.get());
  } catch (const HostExit&) {
  } catch (const HostAssert&) {
  }
  std::fflush(stdout);
  return 0;
}
