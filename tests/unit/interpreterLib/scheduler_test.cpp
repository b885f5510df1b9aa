// The scheduler's index: which programs can write what it holds, and runs
// large enough that only the index keeps them fast.
#include "interpreterLib/scheduler.h"

#include <gtest/gtest.h>

#include <string>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "interpreterLib/sched_index.h"
#include "parserLib/compiler.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr uint64_t kMs = 1000000000;

struct Loaded {
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<TestHost> host;
};

void load(Loaded& l, const std::string& source) {
  CompileOptions options;
  options.libraryDirs = kova_defaultLibraryDirs();
  CompileResult compiled = kova_compileText("sched.kova", source, options);
  ASSERT_NE(compiled.program, nullptr) << source;
  ASSERT_EQ(interp_load_from_program(l.env.get(), std::move(compiled.program)), 0);
  l.host = std::make_unique<TestHost>(l.env.get());
}

std::string withBody(const std::string& body, const std::string& extra = "") {
  return "var uint64 : c;\n"
         "processdef Counter() {\n"
         "  state run { " +
         body +
         " }\n"
         "}\n"
         "process Counter : p0[1 ms]();\n"
         "process Counter : p1[2 ms]();\n" +
         extra;
}

TEST(SchedulerIndex, ProgramsThatCanWriteWhatTheIndexHolds) {
  struct Case {
    const char* name;
    std::string source;
    bool writes;
  };
  const Case cases[] = {
      {"globals only", withBody("c = c + 1;"), false},
      {"own execution time", withBody("self.execution_time = 2 ms;"), false},
      {"reads another instance's pid", withBody("c = uint64(p1.pid);"), false},
      {"jitter from a timing annotation",
       withBody("c = c + 1;", "@kova:time:p0 { p0.jitter = 1 ms; }"), false},
      {"clock drift", withBody("system.ppm = 10;"), false},
      {"policy from a timing annotation",
       withBody("c = 1;", "@kova:time { system.sched_policy = Scheduling_Policy.NPEDF; }"), false},
      {"policy compared", withBody("if (system.sched_policy == Scheduling_Policy.NPFP) { c = 1; }"),
       false},
      {"own priority", withBody("self.priority = 3;"), true},
      {"another instance's deadline", withBody("p1.deadline = 5 ms;"), true},
      {"period from a timing annotation", withBody("c = 1;", "@kova:time:p1 { p1.period = 3 ms; }"),
       true},
      {"own queue", withBody("self.next_activations.clear();"), true},
      {"the whole instance", withBody("var Process_Instance : copy = self;"), true},
      {"the process list", withBody("c = uint64(system.processes.count());"), true},
      {"an instance by reference",
       withBody("touch(self);", "touch(out Process_Instance : p) { p.priority = 1; }"), true},
      {"a structure holding an array of instances",
       withBody("touch();",
                "struct Team { uint8 : size; Process_Instance : members[2]; };\n"
                "var Team : team;\ntouch() { team.members[0].priority = 1; }"),
       true},
  };
  for (const Case& c : cases) {
    Loaded l;
    load(l, c.source);
    EXPECT_EQ(schedIndex_programWritesSchedule(l.env.get()), c.writes) << c.name;
  }
}

// A program file may list a structure before the array type of its field:
// what holds an instance is found whatever the order of the types.
TEST(SchedulerIndex, ATypeListedBeforeTheInstancesItHolds) {
  ProgramBuilder b;
  const uint32_t instance = b.typeId("Process_Instance");
  const uint32_t cells = b.type(instance).storageSize;
  const uint32_t team = b.structType("Team", {{"members", b.arrayType(TypeUInt64, 2 * cells)}});
  const uint32_t members = b.arrayType(instance, 2);
  b.at(N{b.at(N{b.type(team).fields}).left}).value.id.type = members;
  b.global("team", team);
  b.function("touch", {}, b.block({}, {b.varDecl(team, "copy", b.gvar("team"))}));
  Loaded l;
  ASSERT_EQ(interp_load_from_program(l.env.get(), b.build()), 0);
  EXPECT_TRUE(schedIndex_programWritesSchedule(l.env.get()));
}

// The timing of every instance is evaluated at start-up: thousands of them
// must not exhaust the evaluation stack.
TEST(SchedulerIndex, ThousandsOfInstancesStartAndRun) {
  std::string source =
      "var uint64 : c;\n"
      "processdef Counter() { state run { c = c + 1; } }\n";
  constexpr uint32_t kInstances = 1200;
  for (uint32_t i = 0; i < kInstances; ++i) {
    source += "process Counter : p" + std::to_string(i) + "[" + std::to_string(1 + i % 3) +
              " ms, " + std::to_string(i % 2) + " ms]();\n";
  }
  for (const bool plain : {false, true}) {
    Loaded l;
    load(l, source);
    InterpEnv* env = l.env.get();
    scheduler_usePlainScan(env, plain);
    interp_init(env);
    // Until the rings of the 1 ms instances starting at 0 wrap round.
    interp_run_until(env, 7 * kMs);
    // Activations at or before 7 ms: every k-th ms from the offset.
    uint64_t expected = 0;
    for (uint32_t i = 0; i < kInstances; ++i) expected += (7 - i % 2) / (1 + i % 3) + 1;
    const uint32_t c = interp_getVariableID(env, "c");
    EXPECT_EQ(env->program->globalVariableTable[c].value->u64, expected) << "plain " << plain;
    EXPECT_EQ(schedIndex_builds(env), plain ? 0u : 1u) << "the index lasts the whole run";
    EXPECT_EQ(schedIndex_ready(env), !plain) << "the index serves the selections";
  }
}

// Time that passes between runs (a pause at the console, in real time) is
// not counted: the pending activations, the time spent in a state and the
// instances' activation times move with it.
TEST(Scheduler, TimeBetweenRunsIsNotCounted) {
  for (const uint64_t pause : {uint64_t{0}, 7 * kMs}) {
    Loaded l;
    load(l,
         "var time64 : d;\nvar time64 : t;\nvar time64 : g;\n"
         "processdef P() { state run { d = self.duration; t = time64.time(); } }\n"
         "processdef Q() { state run { g = time64.time() - p0.previous_activation; } }\n"
         "process P : p0[1 ms]();\n"
         "process Q : q[100 ms, 5500 us]();\n");
    InterpEnv* env = l.env.get();
    interp_init(env);
    interp_run_until(env, 5 * kMs);
    env->ctx->delay_callback(env, pause);
    interp_run_for(env, 3 * kMs);
    // 5 ms in the state before the pause, 3 ms after it; q runs once, after
    // the pause, 1.5 ms after p0's activation before last.
    const auto global = [env](const char* name) {
      return env->program->globalVariableTable[interp_getVariableID(env, name)].value->u64;
    };
    EXPECT_EQ(global("d"), 8 * kMs) << "pause " << pause;
    EXPECT_EQ(global("t"), 8 * kMs + pause) << "pause " << pause;
    EXPECT_EQ(global("g"), 3 * kMs / 2) << "pause " << pause;
  }
}

}  // namespace
