// The compiled evaluator against the tree walker: each program runs once with
// the compiled path forced off (KOVA_EVAL=walk) and once with it on; standard
// output and exit status must be the same, and each run must show that it got
// as far as the case is about.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/golden.h"

using namespace kova_test;

namespace {

struct Case {
  const char* name;
  const char* arguments;
  const char* source;
  const char* mustContain;  // a piece of the output that shows the case ran
};

// Operators of every width at their edges, conversions, casts, short circuits.
constexpr const char* kOperators = R"(
var uint64 : calls;
touch(in bool : v, out bool : r) { calls = calls + 1; r = v; }
init() {
  var int8 : a = 127;
  var uint8 : b = 0;
  var int16 : c = -32768;
  var uint16 : d = 7;
  var int32 : e = -7;
  var uint32 : f = 65536;
  var int64 : g = -8;
  var uint64 : h = 1;
  var float32 : x = 2.5;
  var float64 : y = -1.25;
  var bool : t = true;
  a = a + 1; b = b - 1; f = f * f; c = c - 1;
  IO.println("%d %u %u %d", a, b, f, c);
  IO.println("%d %d %d %d", e / 2, e mod 2, g >> 70, g >> 1);
  IO.println("%u %u %u %u", d << 3, b >> 3, h << 63, uint8.cast(e));
  IO.println("%d %u %d", int8.as(e * 100), uint8.as(e), -e);
  IO.println("%f %f %f %f", x * 2.0, y / 0.5, y - y * 3.0, -x);
  IO.println("%b %b %b %b", x < 3.0, y >= 0.0, e < 0 and f == 0, not t or d != 7);
  IO.println("%b %b %u", touch(false) and touch(true), touch(true) or touch(false), calls);
  IO.println("%u %u %d", ~d, d ^ 5, e & 6);
  IO.println("%b %b", t == true, t != (d > 3));
}
)";

// Calls: values, in and out parameters, recursion, fields and elements.
constexpr const char* kCalls = R"(
struct Pair { int32 : a; uint16 : b[3]; };
var Pair : pair;
var uint32 : total;
fib(in uint32 : n, out uint32 : r) { if (n < 2) { r = n; } else { r = fib(n - 1) + fib(n - 2); } }
add(in uint32 : v, out uint32 : sum) { sum = sum + v; }
swap(out int32 : p, out int32 : q) { var int32 : t = p; p = q; q = t; }
init() {
  var int32 : u = 3;
  var int32 : w = -4;
  var uint8 : i;
  IO.println("fib %u", fib(20));
  for (i = 0; i < 3; i = i + 1) { add(uint32.cast(i) * 2 + 1, total); pair.b[i] = uint16.cast(i) * 100; }
  swap(u, w);
  pair.a = u * w + int32.cast(fib(5));
  IO.println("total %u, swapped %d %d, pair %d %u %u", total, u, w, pair.a, pair.b[1], pair.b[2]);
  exit(3);
}
)";

// Loops with break, continue and locals of their own, a global loop counter.
constexpr const char* kLoops = R"(
var uint32 : g;
init() {
  var uint32 : i;
  var uint32 : s = 0;
  for (i = 0; i < 20; i = i + 1) {
    var uint32 : sq = i * i;
    if (i mod 3 == 0) { continue; }
    if (sq > 200) { break; }
    s = s + sq;
  }
  while (g < 5) { g = g + 1; if (g == 2) { continue; } s = s + g; }
  IO.println("s %u g %u i %u", s, g, i);
}
)";

// The evaluation stack fills up with a call's pending operands: the depth
// reached before "Stack overflow" depends on how many cells each level holds.
constexpr const char* kStackDepth = R"(
var uint32 : depth;
deep(in uint32 : n, out uint32 : r) {
  depth = n;
  IO.println("%u", n);
  if (n > 0 and n < 100000) {
    r = ((n + 1) * 2 + (n - 1) * 3 + 7) + deep(n + 1);
  } else {
    r = 0;
  }
}
init() {
  IO.println("start");
  IO.println("%u", deep(1));
}
)";

// Deep recursion stops at the call depth when each level holds little.
constexpr const char* kCallDepth = R"(
var uint32 : depth;
down(in uint32 : n) { depth = n; IO.println("%u", n); down(n + 1); }
init() { down(0); }
)";

// Locals with large storage fill the local data table first.
constexpr const char* kLocalData = R"(
big(in uint32 : n) {
  var uint64 : cells[40];
  cells[n mod 40] = uint64.as(n);
  IO.println("level %u", n);
  big(n + 1);
}
init() { big(0); }
)";

// Calls of one-cell values by value with a one-cell result, of every width
// and count; a callee writing its copy; calls inside arguments; a call with
// an out parameter beside them.
constexpr const char* kScalarCalls = R"(
var int32 : seen;
none(out int16 : r) { r = -3; }
neg(in int8 : a, out int8 : r) { a = -a; r = a; }
mix(in uint8 : a, in int16 : b, in float64 : c, in bool : d, out float64 : r) {
  seen = seen + 1;
  if (d) { r = c * float64.as(b) + float64.as(a); } else { r = c; }
}
pick(in uint64 : a, in uint64 : b, in uint64 : c, in uint64 : d, in uint64 : e, out uint64 : r) {
  r = a * 10000 + b * 1000 + c * 100 + d * 10 + e;
}
less(in float32 : x, in float32 : y, out bool : r) { r = x < y; }
acc(in uint32 : v, out uint32 : total, out uint32 : r) { total = total + v; r = total * 2; }
ack(in uint32 : m, in uint32 : n, out uint32 : r) {
  if (m == 0) { r = n + 1; } else { if (n == 0) { r = ack(m - 1, 1); } else { r = ack(m - 1, ack(m, n - 1)); } }
}
init() {
  var int8 : k = 5;
  var uint32 : t = 1;
  IO.println("%d %d %d", none(), neg(k), k);
  IO.println("%f %f %d", mix(200, -300, 0.5, true), mix(1, 2, 3.25, false), seen);
  IO.println("%u %u", pick(1, 2, 3, 4, 5), pick(pick(0, 0, 0, 0, 9), 8, 7, 6, uint64.cast(neg(-5))));
  IO.println("%b %b", less(1.5, 2.5), less(float32.cast(neg(1)), -2.0));
  IO.println("%u %u %u", acc(3, t), acc(4, t), t);
  IO.println("ack %u", ack(2, 3));
}
)";

// The stack fills inside the arguments of calls with one-cell results.
constexpr const char* kArgumentDepth = R"(
deeper(in uint32 : n, in uint32 : m, out uint32 : r) {
  IO.println("%u", n);
  r = (n * 3 + m) + deeper(((n + 1) * 2 + (m - 1) * 3 + 7) / 5 + n - m, (n + 1) * (m + 1) - n * m - n);
}
init() { IO.println("%u", deeper(1, 1)); }
)";

// Recursion with a one-cell result stops at the call depth.
constexpr const char* kResultDepth = R"(
down(in uint32 : n, out uint32 : r) { IO.println("%u", n); r = down(n + 1) + 1; }
init() { IO.println("%u", down(0)); }
)";

// The local table fills with frames of four arguments and a result; the
// locals each level adds move where in the frame the limit falls.
constexpr const char* kFrameLimit = R"(
wide(in uint32 : a, in uint32 : b, in uint32 : c, in uint32 : d, out uint32 : r) {
  IO.println("%u", a);
  r = wide(a + 1, b + a, c - 1, d * 2) + 1;
}
init() { IO.println("%u", wide(0, 1, 2, 3)); }
)";

constexpr const char* kFrameLimitMoreLocals = R"(
wide(in uint32 : a, in uint32 : b, in uint32 : c, in uint32 : d, out uint32 : r) {
  var uint32 : y = b;
  var uint32 : z = c;
  IO.println("%u", a);
  r = wide(a + 1, y + a, z - 1, d + 1) + 1;
}
init() { IO.println("%u", wide(0, 1, 2, 3)); }
)";

// Frames of four arguments and a result beside a small array fill the local
// data table; the limit falls inside a frame's own cells.
constexpr const char* kResultData = R"(
big(in uint32 : a, in uint32 : b, in uint32 : c, in uint32 : d, out uint64 : r) {
  var uint64 : cells[4];
  cells[a mod 4] = uint64.as(b);
  IO.println("level %u", a);
  r = big(a + 1, b + 2, c + 3, d + 4) + cells[a mod 4];
}
init() { IO.println("%u", big(0, 1, 2, 3)); }
)";

// Run-time failures from inside compiled statements.
constexpr const char* kDivision = R"(
init() {
  var int16 : z = 0;
  var int16 : v = 10;
  IO.println("before");
  v = v / z;
  IO.println("after %d", v);
}
)";

constexpr const char* kIndex = R"(
var uint8 : table[4] = {1, 2, 3, 4};
init() {
  var int8 : k = 3;
  IO.println("%u", table[k]);
  k = k - 4;
  IO.println("%u", table[k]);
}
)";

constexpr const char* kBounds = R"(
var uint8 : table[4] = {1, 2, 3, 4};
init() {
  var uint32 : k;
  for (k = 0; k < 10; k = k + 1) { IO.println("%u", table[k]); }
}
)";

// Traced assignments to globals, also through out parameters, in a process.
constexpr const char* kTraced = R"(
var uint32 : count;
var int16 : level = 5;
bump(out uint32 : c, in uint32 : by) { c = c + by; }
processdef Tick() {
  var uint32 : k;
  state run {
    for (k = 0; k < 3; k = k + 1) { bump(count, k); }
    level = level - int16.cast(count);
    if (level < 0) { IO.println("below at %u", count); }
  }
}
process Tick : tick[10 ms]();
)";

// Conditions of `if` and `while` that are comparisons made in place: every
// operand kind (local, literal, sub-expression), signed and unsigned widths,
// narrow widths, floats, booleans; beside them comparisons of two calls.
constexpr const char* kTests = R"(
var uint32 : steps;
ctwice(in int32 : v, out int32 : r) { steps = steps + 1; r = v * 2; }
utwice(in uint64 : v, out uint64 : r) { steps = steps + 1; r = v + v; }
half(in float64 : v, out float64 : r) { r = v / 2.0; }
odd(in uint16 : v, out bool : r) { r = (v mod 2) == 1; }
init() {
  var int32 : i = -3;
  var int32 : lim = 3;
  var uint64 : u = 0;
  var uint64 : w = 5;
  var int64 : s = -4;
  var uint8 : n = 250;
  var int16 : h = -300;
  var float64 : x = -1.5;
  var uint16 : k = 0;
  while (i <= lim) {
    if (i < 0) { IO.print("n"); } else if (i == 0) { IO.print("z"); } else { IO.print("p"); }
    if (i >= -1) { IO.print("a"); }
    if (i != 2) { IO.print("b"); }
    if (i * 2 > lim) { IO.print("c"); }
    if (-2 > i) { IO.print("d"); }
    if (ctwice(i) < ctwice(1)) { IO.print("e"); }
    IO.print(" ");
    i = i + 1;
  }
  IO.println("");
  u = u - 1;
  while (w > 0) {
    if (u > w) { IO.print("U"); }
    if (w <= 2) { IO.print("w"); }
    if (s < -2) { IO.print("s"); }
    if (utwice(w) >= utwice(3)) { IO.print("t"); }
    if (n > 251) { IO.print("N"); }
    if (h < -299) { IO.print("H"); }
    if (x < 0.0) { IO.print("X"); }
    if (half(x) <= half(-1.0)) { IO.print("Y"); }
    if (odd(k) == odd(k / 2)) { IO.print("O"); }
    if ((x > 0.0) == (n > 252)) { IO.print("B"); }
    IO.print(" ");
    w = w - 1; s = s + 1; n = n + 1; h = h + 1; x = x + 1.0; k = k + 1;
  }
  IO.println("%u", steps);
}
)";

// The stack fills at the condition of an `if` (its cells stay through the
// branch's first statement) and at that of a `while` (larger than what the
// body holds), both comparisons made in place. The empty line printed first
// in the branch or the body shows whether the condition itself failed.
constexpr const char* kIfDepth = R"(
deep(in uint32 : n, out uint32 : r) {
  IO.println("%u", n);
  if (n < 100000) {
    IO.println();
    r = (n + 1) * 2 + (n + 2) * 3 + (n + 3) * 4 + (n + 4) * 5 + (n + 5) * 6 + deep(n + 1);
  } else {
    r = 0;
  }
}
init() { IO.println("%u", deep(0)); }
)";

constexpr const char* kWhileDepth = R"(
deep(in uint32 : n, out uint32 : r) {
  var uint32 : k = 0;
  IO.println("%u", n);
  while (k < (n + 1) * 2 + (n + 2) * 3 + (n + 3) * 4 + (n + 4) * 5 + (n + 5) * 6 + (n + 6) * 7) {
    IO.println();
    k = k + 100000;
    r = (n + 1) * 2 + (n + 2) * 3 + deep(n + 1);
  }
}
init() { IO.println("%u", deep(0)); }
)";

// Globals read in place as operands, beside locals, literals and other
// globals, in conditions and values; traced, the read callback is installed.
constexpr const char* kGlobalOperands = R"(
var int32 : g = -2;
var int32 : lim = 3;
var uint32 : hits;
init() {
  var int32 : v = 1;
  while (g < lim) {
    if (g > v) { hits = hits + 1; }
    if (v <= g) { IO.print("a"); }
    if (g == 0) { IO.print("z"); }
    if (lim != g) { IO.print("b"); }
    IO.print("%d ", g * g + v * lim - g);
    g = g + 1;
  }
  IO.println("%u", hits);
}
)";

// A local or a literal assigned to out parameters: bound to traced globals
// (the assignment is traced) and to a local.
constexpr const char* kAssignOut = R"(
var uint32 : g;
var uint32 : h;
put(out uint32 : c, in uint32 : v) { c = v; }
seven(out uint32 : c) { c = 7; }
init() {
  var uint32 : v = 3;
  put(g, v);
  seven(h);
  put(v, 9);
  seven(v);
  IO.println("%u %u %u", g, h, v);
}
)";

constexpr Case kCases[] = {
    {"operators", "-q", kOperators, "-128 255 0 32767"},
    {"calls", "-q", kCalls, "fib 6765"},
    {"loops", "-q", kLoops, "s "},
    {"stack_depth", "-q", kStackDepth, "Stack overflow"},
    {"call_depth", "-q", kCallDepth, "Stack overflow"},
    {"local_data", "-q", kLocalData, "Local variables data stack overflow"},
    {"division", "-q", kDivision, "division by zero"},
    {"negative_index", "-q", kIndex, "Negative array index"},
    {"bounds", "-q", kBounds, "Array index out of bounds (4)"},
    {"traced", "-t 40", kTraced, "Assign count"},
    {"scalar_calls", "-q", kScalarCalls, "ack 9"},
    {"argument_depth", "-q", kArgumentDepth, "Stack overflow"},
    {"result_depth", "-q", kResultDepth, "Stack overflow"},
    {"frame_limit", "-q", kFrameLimit, "overflow"},
    {"frame_limit_more_locals", "-q", kFrameLimitMoreLocals, "overflow"},
    {"result_data", "-q", kResultData, "Local variables data stack overflow"},
    {"tests", "-q", kTests, "UstHXYOB UstXB UtN UwNOB UwNOB 24"},
    {"if_depth", "-q", kIfDepth, "Stack overflow"},
    {"while_depth", "-q", kWhileDepth, "Stack overflow"},
    {"assign_out", "", kAssignOut, "Assign h new value: 7"},
    {"global_operands", "-q", kGlobalOperands, "b9 b5 zb3 ab3 ab5 1"},
    {"global_operands_traced", "", kGlobalOperands, "Assign hits new value: 1"},
};

RunResult runWith(const char* mode, const Case& c) {
  setenv("KOVA_EVAL", mode, 1);
  RunResult result = runKovaSource(std::string("evaluator_") + c.name, c.source, c.arguments);
  unsetenv("KOVA_EVAL");
  return result;
}

}  // namespace

TEST(EvaluatorTest, CompiledRunsAsTheWalkerRuns) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const RunResult walked = runWith("walk", c);
    const RunResult compiled = runWith("compiled", c);
    EXPECT_NE(walked.out.find(c.mustContain), std::string::npos) << walked.out;
    EXPECT_EQ(compiled.out, walked.out);
    EXPECT_EQ(compiled.status, walked.status);
  }
}
