// How far the evaluator is from native code: each workload runs once
// interpreted and once as the equivalent C++ in the same process, and the
// result is the ratio of the two times. Ratios, not absolute times, are what
// can be compared from one machine or build to another.
//
//   eval_bench [scale]   (scale multiplies the work; default 1)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "ASTLib/ast_ops.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/operator_functions.h"
#include "tests/support/program_builder.h"

using namespace kova_test;

namespace {

// Keeps the native baselines from being folded away at compile time.
template <class T>
T opaque(T v) {
  asm volatile("" : "+r"(v));
  return v;
}

// The best of a few runs: the least disturbed by the rest of the machine.
double seconds(const std::function<void()>& work) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (t < best) best = t;
  }
  return best;
}

struct Workload {
  const char* name;
  uint64_t n;
  uint64_t expected;
};

struct Loaded {
  std::unique_ptr<InterpEnv> env = interp_create();
  uint32_t result = 0;  // global holding the workload's result
  const AST_Node* start = nullptr;
};

uint64_t runInterpreted(Loaded& l) {
  statement_execute(l.env.get(), l.start);
  return l.env->program->globalVariableTable[l.result].value->u64;
}

void load(Loaded& l, ProgramBuilder& b, N start) {
  interp_load_from_program(l.env.get(), b.build());
  expr_operatorsInit(l.env.get());
  l.start = AST_fromId(l.env->program.get(), start.id);
}

// i = 0; acc = 0; while (i < n) { acc = acc + (i * i) % 7; i = i + 1; }
void arithmeticLoop(Loaded& l, uint64_t n) {
  ProgramBuilder b;
  const uint32_t i = b.global("i", TypeUInt64);
  const uint32_t acc = b.global("acc", TypeUInt64);
  auto u64 = [&](uint32_t op, N x, N y) { return b.op(op, TypeUInt64, x, y); };
  N body = b.block({b.assign(b.gvar(acc), u64(PLUS_OP, b.gvar(acc),
                                              u64(MODULO_OP, u64(MULT_OP, b.gvar(i), b.gvar(i)),
                                                  b.integer(7)))),
                    b.assign(b.gvar(i), u64(PLUS_OP, b.gvar(i), b.integer(1)))});
  N start = b.block({b.assign(b.gvar(i), b.integer(0)), b.assign(b.gvar(acc), b.integer(0)),
                     b.while_(u64(LT_OP, b.gvar(i), b.integer(static_cast<int64_t>(n))), body)});
  l.result = acc;
  load(l, b, start);
}

uint64_t arithmeticNative(uint64_t n) {
  uint64_t acc = 0;
  for (uint64_t i = 0; i < opaque(n); i = opaque(i + 1)) acc += (i * i) % 7;
  return acc;
}

// fib(in uint64 n, out uint64 r) { if (n < 2) { r = n; } else { r = fib(n - 1) + fib(n - 2); } }
void recursiveCalls(Loaded& l, uint64_t n) {
  ProgramBuilder b;
  const uint32_t result = b.global("result", TypeUInt64);
  const uint32_t fib = 0;  // the program's first function
  auto u64 = [&](uint32_t op, N x, N y) { return b.op(op, TypeUInt64, x, y); };
  auto call = [&](int64_t minus) {
    return b.callFunctionValue(fib, TypeUInt64, {u64(MINUS_OP, b.local(0), b.integer(minus))});
  };
  b.function("fib", {{Dir::In, TypeUInt64, "n"}, {Dir::Out, TypeUInt64, "r"}},
             b.block({b.if_(u64(LT_OP, b.local(0), b.integer(2)),
                            b.block({b.assign(b.local(1), b.local(0))}),
                            b.block({b.assign(b.local(1), u64(PLUS_OP, call(1), call(2)))}))}));
  N start = b.assign(b.gvar(result),
                     b.callFunctionValue(fib, TypeUInt64, {b.integer(static_cast<int64_t>(n))}));
  l.result = result;
  load(l, b, start);
}

uint64_t fibNative(uint64_t n) {
  return opaque(n) < 2 ? n : fibNative(n - 1) + fibNative(n - 2);
}

bool report(const char* name, uint64_t got, uint64_t want, double interpreted, double native) {
  if (got != want) {
    std::printf("%-22s wrong result: %llu, expected %llu\n", name,
                static_cast<unsigned long long>(got), static_cast<unsigned long long>(want));
    return false;
  }
  std::printf("%-22s interpreted %8.4f s   native %8.5f s   ratio %6.1f\n", name, interpreted,
              native, interpreted / native);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t scale = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
  if (scale == 0) {
    std::printf("usage: eval_bench [scale >= 1]\n");
    return 2;
  }
  bool ok = true;

  {
    const uint64_t n = 2000000 * scale;
    Loaded l;
    arithmeticLoop(l, n);
    uint64_t got = 0, want = 0;
    const double t = seconds([&] { got = runInterpreted(l); });
    const double base = seconds([&] { want = arithmeticNative(n); });
    ok &= report("arithmetic loop", got, want, t, base);
  }
  {
    const uint64_t n = 24 + (scale > 1 ? 2 * (scale - 1) : 0);
    Loaded l;
    recursiveCalls(l, n);
    uint64_t got = 0, want = 0;
    const double t = seconds([&] { got = runInterpreted(l); });
    const double base = seconds([&] { want = fibNative(n); });
    ok &= report("recursive calls", got, want, t, base);
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}
