// The whole-program compiler's entry: the codes and count of its
// diagnostics (their texts and places: the compile-error runs), the error
// limit, and what a compiled program holds.
#include "parserLib/compiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "tests/support/test_host.h"

namespace {

struct Reported {
  uint32_t code;
  std::string message;
};

struct Compiled {
  std::unique_ptr<Program> program;
  std::vector<Reported> reported;
  size_t errors;
};

Compiled compile(const std::string& source) {
  Compiled c;
  CompileOptions options;
  options.libraryDirs = kova_defaultLibraryDirs();
  options.sink = [&c](const ParserEnv&, const Diagnostic& d) {
    c.reported.push_back({d.code, std::string(d.message)});
  };
  CompileResult result = kova_compileText("unit.kova", source, options);
  c.program = std::move(result.program);
  c.errors = result.errors;
  return c;
}

}  // namespace

TEST(Compiler, ReportsStopAtTheLimit) {
  for (const size_t errors : {kMaxReportedErrors, kMaxReportedErrors + 1}) {
    std::string source = "f() {\n";
    for (size_t i = 0; i < errors; ++i) source += "  x" + std::to_string(i) + " = 1;\n";
    const Compiled c = compile(source + "}\n");
    EXPECT_EQ(c.program, nullptr);
    EXPECT_EQ(c.reported.size(), kMaxReportedErrors) << errors;
  }
}

TEST(Compiler, ProgramLayout) {
  Compiled c = compile(
      "processdef Inner() { static var uint8 : s = 5; state i { } }\n"
      "processdef Outer() { process Inner : in1; process Inner : in2; state o { } }\n"
      "process Outer : first[1 ms]();\n"
      "process Inner : second() on (false);\n");
  ASSERT_NE(c.program, nullptr) << (c.reported.empty() ? "" : c.reported[0].message);
  EXPECT_EQ(c.errors, 0u);
  const Program& p = *c.program;
  EXPECT_EQ(std::string(p.infoProg->modelName), "unit");
  // first, its two sub-processes, second; each Inner owns one static.
  ASSERT_EQ(p.infoProg->n_processInstances, 4u);
  const uint32_t inner = 0, outer = 1;
  const uint32_t expected[4][2] = {{outer, 0}, {inner, 2}, {inner, 3}, {inner, 4}};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(p.processInstanceTable[i].definitionId, expected[i][0]) << i;
    EXPECT_EQ(p.processInstanceTable[i].staticBase, expected[i][1]) << i;
  }
  EXPECT_EQ(p.infoProg->n_processStaticVariables, 5u);
  EXPECT_EQ(p.processStaticVariableTable[2].value->u64, 5u);
  ASSERT_EQ(p.infoProg->n_globalProcessInstances, 2u);
  EXPECT_EQ(p.processGlobalInstanceTable[1].instanceIndex, 3u);
  EXPECT_NE(p.processGlobalInstanceTable[1].trigger, NO_ID);
  // The system variable comes first; System.processes holds the two instances.
  EXPECT_STREQ(GlobalVariable_getName(&p, 0), "system");
  auto env = interp_create();
  interp_load_from_program(env.get(), std::move(c.program));
  const uint32_t processes = interp_getStructFieldTypeID(env.get(), "System", "processes");
  EXPECT_EQ(Type_getSize(env->program.get(), processes), 2u);
}

// The codes handed to the sink with the diagnostics whose texts the
// compile-error runs show; the errors counted (a warning's code is 0).
TEST(Compiler, CodesOfRefusedCalls) {
  const std::filesystem::path dir = KOVA_COMPILE_ERRORS;
  const std::pair<const char*, std::vector<uint32_t>> cases[] = {
      {"calls_refused.kova", {189, 182, 182, 182, 182, 181, 181, 181, 181, 0, 129, 189}},
      {"print_formats.kova", std::vector<uint32_t>(13, 134)},
      {"expression_types.kova",
       {110, 110, 120, 195, 196, 148, 1101, 142, 106, 106, 103, 112, 130, 130, 130, 113}},
      {"front_parse_goes_on.kova", {303, 143, 301}},
  };
  for (const auto& [name, codes] : cases) {
    const std::string source = kova_test::readFile(dir / name);
    ASSERT_FALSE(source.empty()) << name;
    const Compiled c = compile(source);
    std::vector<uint32_t> got;
    for (const Reported& r : c.reported) got.push_back(r.code);
    EXPECT_EQ(got, codes) << name;
    EXPECT_EQ(c.errors, codes.size() - std::ranges::count(codes, 0u)) << name;
  }
}
