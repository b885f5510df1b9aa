// Golden runs of state machines and of the scheduler's choices.
#include <gtest/gtest.h>

#include "ASTLib/call_codes.h"
#include "tests/support/golden.h"

using namespace kova_test;

namespace {

N now(ProgramBuilder& b) {
  return b.call(kCallTime, TypeTime64, none);
}

}  // namespace

TEST(Golden, TwoStateMachineWithOnAndAfterTransitions) {
  // A counts; `after 10 ms` (its second transition) leads to B, whose `on`
  // condition leads back to A, resetting the count.
  ProgramBuilder b({.modelName = "fsm"});
  const uint32_t n = b.global("n", TypeUInt32);
  const N count = b.assign(b.gvar(n), b.op(PLUS_OP, TypeUInt32, b.gvar(n), b.integer(1)));
  const uint32_t p = b.process(
      "P", {.states = {{"A", b.block({count}), {on(b.boolean(false), "B"), after(b.ms(10), "B")}},
                       {"B",
                        none,
                        {on(b.op(CGE_OP, TypeUInt32, b.gvar(n), b.integer(3)), "A",
                            b.assign(b.gvar(n), b.integer(0)))}}}});
  b.instance("p", p, {.period = b.ms(4)});
  const RunResult r = runKova(b, "-t 16");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \n"
            "Quiet mode disabled\n"
            "[0.000000000000:ASSIGN] Assign n new value: 0\n"
            "[0.000000000000:fsm:STARTING_TASK] 'p'\n"
            "[0.000000000000:STATE] process \"P\", instance \"p\", state \"A\"\n"
            "[0.000000000000:ASSIGN] Assign n new value: 1\n"
            "[0.000000000000:fsm:TASK_FINISHED] 'p'\n"
            "[0.004000000000:fsm:STARTING_TASK] 'p'\n"
            "[0.004000000000:ASSIGN] Assign n new value: 2\n"
            "[0.004000000000:fsm:TASK_FINISHED] 'p'\n"
            "[0.008000000000:fsm:STARTING_TASK] 'p'\n"
            "[0.008000000000:ASSIGN] Assign n new value: 3\n"
            "[0.008000000000:fsm:TASK_FINISHED] 'p'\n"
            "[0.012000000000:fsm:STARTING_TASK] 'p'\n"
            "[0.012000000000:STATE] process \"P\", instance \"p\", transition 2\n"
            "[0.012000000000:STATE] process \"P\", instance \"p\", state \"B\"\n"
            "[0.012000000000:fsm:TASK_FINISHED] 'p'\n"
            "[0.016000000000:fsm:STARTING_TASK] 'p'\n"
            "[0.016000000000:ASSIGN] Assign n new value: 0\n"
            "[0.016000000000:STATE] process \"P\", instance \"p\", state \"A\"\n"
            "[0.016000000000:ASSIGN] Assign n new value: 1\n"
            "[0.016000000000:fsm:TASK_FINISHED] 'p'\n"
            "EXIT (SUCCESS) AT 16ms (16000000000)\n");
}

namespace {

// X runs first and keeps the processor 5 ms; by then L (due since 1 ms,
// priority 1, deadline 50 ms), H (2 ms, priority 5, deadline 100 ms) and E
// (3 ms, priority 3, deadline 4 ms) are all due.
ProgramBuilder policyProgram(const char* policy) {
  ProgramBuilder b({.modelName = "policy"});
  // Worker(in tag, in cost): self.execution_time = cost; println("%c", tag)
  const uint32_t worker = b.process(
      "Worker",
      {.params = {{Dir::In, TypeUInt8, "tag"}, {Dir::In, TypeTime64, "cost"}},
       .states = {
           {"run", b.block({b.assign(b.instanceField(b.local(2), "execution_time"), b.local(1)),
                            b.println("%c", {b.local(0)})})}}});
  const auto worker_ = [&](const char* name, char tag, uint64_t costMs, uint64_t offsetMs,
                           uint8_t priority, uint64_t deadlineMs) {
    b.instance(name, worker,
               {.period = b.ms(100),
                .offset = b.ms(offsetMs),
                .args = {b.integer(tag), b.ms(costMs)},
                .priority = priority,
                .deadline = b.ms(deadlineMs)});
  };
  worker_("x", 'X', 5, 0, 9, 100);
  worker_("l", 'L', 0, 1, 1, 50);
  worker_("h", 'H', 0, 2, 5, 100);
  worker_("e", 'E', 0, 3, 3, 4);
  b.schedulingPolicy(policy);
  return b;
}

std::string policyRun(const char* order) {
  std::string out = "setup \nQuiet mode enabled\n[0.000000000000:PRINTLN] X\n";
  for (const char* c = order; *c != '\0'; ++c) {
    out += std::string("[0.005000000000:PRINTLN] ") + *c + "\n";
  }
  return out + "EXIT (SUCCESS) AT 10ms (10000000000)\n";
}

}  // namespace

TEST(Golden, PoliciesChooseDifferently) {
  struct Case {
    const char* policy;
    const char* order;
  };
  for (const Case& c : {Case{"FIFO", "LHE"}, Case{"NPFP", "HEL"}, Case{"NPEDF", "ELH"}}) {
    ProgramBuilder b = policyProgram(c.policy);
    const RunResult r = runKova(b, "-q -t 10");
    EXPECT_EQ(r.status, 0) << c.policy;
    EXPECT_EQ(r.out, policyRun(c.order)) << c.policy;
  }
}

TEST(Golden, TriggeredInstancesRunWhileTheirConditionHolds) {
  // S raises `req` every 10 ms; T runs right after, once, and lowers it. U's
  // condition never holds.
  ProgramBuilder b({.modelName = "trig"});
  const uint32_t req = b.global("req", TypeBoolean);
  const uint32_t s = b.process(
      "S", {.states = {{"s", b.block({b.assign(b.gvar(req), b.boolean(true)), b.println("S")})}}});
  const uint32_t t = b.process(
      "T", {.states = {{"t", b.block({b.println("T"), b.assign(b.gvar(req), b.boolean(false))})}}});
  const uint32_t u = b.process("U", {.states = {{"u", b.block({b.println("U")})}}});
  b.instance("s", s, {.period = b.ms(10)});
  b.instance("t", t, {.trigger = b.gvar(req)});
  b.instance("u", u, {.trigger = b.boolean(false)});
  const RunResult r = runKova(b, "-q -t 15");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \nQuiet mode enabled\n"
            "[0.000000000000:PRINTLN] S\n"
            "[0.000000000000:PRINTLN] T\n"
            "[0.010000000000:PRINTLN] S\n"
            "[0.010000000000:PRINTLN] T\n"
            "EXIT (SUCCESS) AT 15ms (15000000000)\n");
}

TEST(Golden, LateActivationsKeepThePeriodAndJitterIsClamped) {
  // B keeps the processor 3 ms at 0, so P's first activation is served 3 ms
  // late; its next one still falls at 10 ms. J's jitter of 15 ms is clamped
  // to its 10 ms period: it starts at 10 ms and keeps a 10 ms period.
  ProgramBuilder b({.modelName = "late"});
  const uint32_t blocker = b.process(
      "B",
      {.states = {{"b", b.block({b.assign(b.instanceField(b.local(0), "execution_time"), b.ms(3)),
                                 b.println("B")})}}});
  const uint32_t tell =
      b.process("Tell", {.params = {{Dir::In, TypeUInt8, "tag"}},
                         .states = {{"t", b.block({b.println("%c %t", {b.local(0), now(b)})})}}});
  b.instance("b", blocker, {.period = b.ms(100), .priority = 5});
  b.instance("p", tell, {.period = b.ms(10), .args = {b.integer('P')}});
  b.instance("j", tell, {.period = b.ms(10), .args = {b.integer('J')}, .jitter = b.ms(15)});
  const RunResult r = runKova(b, "-q -t 25");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \nQuiet mode enabled\n"
            "[0.000000000000:PRINTLN] B\n"
            "[0.003000000000:PRINTLN] P 3ms\n"
            "[0.010000000000:PRINTLN] P 10ms\n"
            "[0.010000000000:PRINTLN] J 10ms\n"
            "[0.020000000000:PRINTLN] P 20ms\n"
            "[0.020000000000:PRINTLN] J 20ms\n"
            "EXIT (SUCCESS) AT 25ms (25000000000)\n");
}

TEST(Golden, ExecutionTimesAreChargedInOrder) {
  // W's step: a named block of 3 ms (charged when it ends), its state's 2 ms
  // (charged when the state ends), then the instance's own 1 ms; Q, due at
  // the same time, runs after it.
  ProgramBuilder b({.modelName = "charge"});
  const N stateTime = b.field(b.local(1), TypeState, "execution_time");
  const N blockTime = b.field(b.local(2), TypeNamedBlock, "execution_time");
  const uint32_t w = b.process(
      "W", {.common = b.block({b.assign(b.instanceField(b.local(0), "execution_time"), b.ms(1))}),
            .states = {{"s", b.block({b.assign(stateTime, b.ms(2)),
                                      b.namedBlock("work", b.block({b.assign(blockTime, b.ms(3))})),
                                      b.println("W %t", {now(b)})})}}});
  const uint32_t q = b.process("Q", {.states = {{"q", b.block({b.println("Q %t", {now(b)})})}}});
  b.instance("w", w, {.period = b.ms(100)});
  b.instance("q", q, {.period = b.ms(100)});
  const RunResult r = runKova(b, "-q -t 50");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \nQuiet mode enabled\n"
            "[0.003000000000:PRINTLN] W 3ms\n"
            "[0.006000000000:PRINTLN] Q 6ms\n"
            "EXIT (SUCCESS) AT 50ms (50000000000)\n");
}
