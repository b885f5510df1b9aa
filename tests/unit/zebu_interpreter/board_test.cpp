// The Raspberry Pi board on the simulated GPIO: binding by name, pin
// synchronisation, hardware annotations, clock and delay.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/files.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/operator_functions.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"
#include "zebu_interpreter/boards/raspberry/gpio.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"

using namespace kova_test;

namespace {

// One environment over a builder program, with the board initialised on a
// fresh simulated GPIO.
struct Rig {
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<TestHost> host;

  explicit Rig(ProgramBuilder& b) {
    gpio_sim_reset();
    board_init(env.get());
    host = std::make_unique<TestHost>(env.get());
    interp_load_from_program(env.get(), b.build());
    expr_operatorsInit(env.get());
  }
  // Binds and returns what the board printed.
  std::string bind() {
    StdoutCapture out;
    board_variable_setup(env.get());
    return out.text();
  }
  ValueCell& cell(uint32_t globalId) { return *env->program->globalVariableTable[globalId].value; }
};

bool allUnbound(const std::array<int32_t, kBoardPinCount>& table) {
  for (int32_t entry : table) {
    if (entry != -1) return false;
  }
  return true;
}

class BoardTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!kGpioSimulated) GTEST_SKIP() << "the real GPIO library is linked";
  }
};

uint32_t changeCallbacks = 0;
uint32_t countChange(InterpEnv*, uint32_t, uint32_t, TaggedValue) {
  ++changeCallbacks;
  return 0;
}

}  // namespace

TEST_F(BoardTest, InitPreparesTheLibraryAndClearsBothTables) {
  ProgramBuilder b;
  Rig rig(b);
  output_pins_varID.fill(3);
  input_pins_varID.fill(4);
  board_init(rig.env.get());
  EXPECT_TRUE(allUnbound(output_pins_varID));
  EXPECT_TRUE(allUnbound(input_pins_varID));
  EXPECT_EQ(gpio_sim_setupCalls(), 2u);  // once in the rig, once here
}

TEST_F(BoardTest, BindsByNameAndType) {
  enum Table { kNone, kOut, kIn };
  struct Case {
    const char* name;
    uint32_t type;
    const char* printed;
    Table table;
    int pin;
    GpioSimMode mode;
  };
  const Case cases[] = {
      {"pin7_out", TypeBoolean, "  => Digital pin found: 7, output\n", kOut, 7, kGpioSimOutput},
      {"pin3_in", TypeBoolean, "  => Digital pin found: 3, input\n", kIn, 3, kGpioSimInput},
      {"pin0_out", TypeBoolean, "  => Digital pin found: 0, output\n", kOut, 0, kGpioSimOutput},
      {"pin21_out", TypeBoolean, "  => Digital pin found: 21, output\n", kOut, 21, kGpioSimOutput},
      {"pin29_in", TypeBoolean, "  => Digital pin found: 29, input\n", kIn, 29, kGpioSimInput},
      {"pin007_out", TypeBoolean, "  => Digital pin found: 7, output\n", kOut, 7, kGpioSimOutput},
      // The form may sit anywhere in the name.
      {"mypin3_input", TypeBoolean, "  => Digital pin found: 3, input\n", kIn, 3, kGpioSimInput},
      {"motor_pin12_out", TypeUInt32, "  => PWM pin found: 12, output\n", kOut, 12,
       kGpioSimSoftPwm},
      {"pin7_in", TypeUInt32, "", kNone, 7, kGpioSimUnset},
      {"pin5_out", TypeF64, "", kNone, 5, kGpioSimUnset},
      {"pin5_out", TypeUInt8, "", kNone, 5, kGpioSimUnset},
      {"pin_out", TypeBoolean, "", kNone, 0, kGpioSimUnset},
      {"pin4out", TypeBoolean, "", kNone, 4, kGpioSimUnset},
      {"i2c_1_out", TypeUInt8, "", kNone, 1, kGpioSimUnset},
      {"ttyAMA0_in", TypeUInt8, "", kNone, 0, kGpioSimUnset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramBuilder b;
    const uint32_t id = b.global(c.name, c.type);
    Rig rig(b);
    EXPECT_EQ(rig.bind(), c.printed);
    EXPECT_EQ(output_pins_varID[c.pin], c.table == kOut ? static_cast<int32_t>(id) : -1);
    EXPECT_EQ(input_pins_varID[c.pin], c.table == kIn ? static_cast<int32_t>(id) : -1);
    EXPECT_EQ(gpio_sim_mode(c.pin), c.mode);
    if (c.mode == kGpioSimSoftPwm) {
      EXPECT_EQ(gpio_sim_pwmRange(c.pin), 100);
      EXPECT_EQ(gpio_sim_pwm(c.pin), 0);
    }
    if (c.table == kNone) {
      EXPECT_TRUE(allUnbound(output_pins_varID));
      EXPECT_TRUE(allUnbound(input_pins_varID));
    }
  }
}

TEST_F(BoardTest, PinNumberOutsideTheTableEndsTheProgram) {
  struct Case {
    const char* name;
    const char* number;
  };
  // Only the first ten digits count.
  const Case cases[] = {
      {"pin30_out", "30"}, {"pin99_in", "99"}, {"pin123456789012_out", "1234567890"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramBuilder b;
    b.global("pin7_out", TypeBoolean);
    b.global(c.name, TypeBoolean);
    Rig rig(b);
    // Death-test patterns look at standard error, so the board's standard
    // output is sent there.
    EXPECT_EXIT(
        {
          dup2(STDERR_FILENO, STDOUT_FILENO);
          board_variable_setup(rig.env.get());
        },
        testing::ExitedWithCode(1),
        std::string("^  => Digital pin found: 7, output\nPin's number \\(") + c.number +
            "\\)  must be between 0 and 20 included\\. .*\n$");
  }
}

TEST_F(BoardTest, DigitalOutputStartsLowAndFollowsTheVariable) {
  ProgramBuilder b;
  const uint32_t id = b.global("pin7_out", TypeBoolean, {1});
  Rig rig(b);
  // Binding comes before the initial values are stored.
  rig.cell(id).u64 = 0;
  rig.bind();
  EXPECT_EQ(gpio_sim_mode(7), kGpioSimOutput);
  EXPECT_EQ(gpio_sim_level(7), 0);
  EXPECT_EQ(gpio_sim_writes(7), 1u);
  rig.cell(id).u64 = 1;  // what the initialisation stores
  board_syncio(rig.env.get());
  EXPECT_EQ(gpio_sim_level(7), 1);
  rig.cell(id).u64 = 0;
  board_syncio(rig.env.get());
  EXPECT_EQ(gpio_sim_level(7), 0);
}

TEST_F(BoardTest, PwmDutyIsTheValueModuloTheRange) {
  ProgramBuilder b;
  const uint32_t id = b.global("motor_pin12_out", TypeUInt32);
  Rig rig(b);
  rig.bind();
  const std::pair<uint32_t, int> cases[] = {{0, 0},   {42, 42},  {99, 99},
                                            {100, 0}, {150, 50}, {4294967295u, 95}};
  for (const auto& [value, duty] : cases) {
    SCOPED_TRACE(value);
    rig.cell(id).u32 = value;
    board_syncio(rig.env.get());
    EXPECT_EQ(gpio_sim_pwm(12), duty);
  }
}

TEST_F(BoardTest, DigitalInputIsReadIntoTheVariableWithoutCallbacks) {
  ProgramBuilder b;
  const uint32_t in = b.global("pin3_in", TypeBoolean);
  const uint32_t pwmIn = b.global("pin7_in", TypeUInt32, {5});
  Rig rig(b);
  rig.bind();
  env_on_variable_change(rig.env.get(), in, countChange);
  changeCallbacks = 0;
  for (int level : {1, 0, 1}) {
    SCOPED_TRACE(level);
    gpio_sim_setInput(3, level);
    gpio_sim_setInput(7, 1);
    board_syncio(rig.env.get());
    EXPECT_EQ(rig.cell(in).u64, static_cast<uint64_t>(level));
    // A uint32 input is never bound, so never synchronised.
    EXPECT_EQ(rig.cell(pwmIn).u64, 5u);
  }
  // Only the input callback reads pins.
  gpio_sim_setInput(3, 0);
  board_syncio_input(rig.env.get());
  EXPECT_EQ(rig.cell(in).u64, 1u);
  EXPECT_EQ(changeCallbacks, 0u);
}

TEST_F(BoardTest, FailedPwmCreationLeavesThePinUnbound) {
  ProgramBuilder b;
  const uint32_t id = b.global("motor_pin12_out", TypeUInt32, {40});
  Rig rig(b);
  gpio_sim_failSoftPwmCreate(true);
  EXPECT_EQ(rig.bind(), "  => PWM pin found: 12, output\n");
  EXPECT_EQ(output_pins_varID[12], -1);
  rig.cell(id).u32 = 40;
  board_syncio(rig.env.get());
  EXPECT_EQ(gpio_sim_pwm(12), -1);
}

TEST_F(BoardTest, TheLaterVariableOfAPinWins) {
  ProgramBuilder b;
  b.global("first_pin4_out", TypeBoolean);
  const uint32_t second = b.global("second_pin4_out", TypeUInt32);
  b.global("first_pin9_in", TypeBoolean);
  const uint32_t third = b.global("second_pin9_in", TypeBoolean);
  Rig rig(b);
  rig.bind();
  EXPECT_EQ(output_pins_varID[4], static_cast<int32_t>(second));
  EXPECT_EQ(input_pins_varID[9], static_cast<int32_t>(third));
  rig.cell(second).u32 = 30;
  board_syncio(rig.env.get());
  EXPECT_EQ(gpio_sim_pwm(4), 30);
}

TEST_F(BoardTest, HardwareAnnotationsRunBeforeTheNamesAreBound) {
  ProgramBuilder b({.udpTypes = true});
  const uint32_t udp = b.typeId("UDP");
  const uint32_t link = b.global("link", TypeUInt32);
  const uint32_t seen = b.global("seen", TypeUInt32);
  const uint32_t skipped = b.global("skipped", TypeUInt32);
  const uint32_t led = b.global("pin6_out", TypeBoolean);
  // Without an annotated variable the block is not run.
  b.hardwareAnnotation(NO_ID, {}, {b.assign(b.gvar(skipped), b.integer(9))});
  b.hardwareAnnotation(
      link, {b.varDecl(udp, "port_descriptor")},
      {b.assign(b.field(b.local(0), udp, "port"), b.integer(5000)),
       b.assign(b.gvar(seen), b.integer(7)), b.assign(b.gvar(led), b.boolean(true))});
  Rig rig(b);
  const LocalVarsCounts before = Variable_getCurrentLocalVarCounts(rig.env.get());
  EXPECT_EQ(rig.bind(), "  => Digital pin found: 6, output\n");
  EXPECT_EQ(rig.cell(seen).u64, 7u);
  EXPECT_EQ(rig.cell(skipped).u64, 0u);
  // The pin was bound after the block set its variable.
  EXPECT_EQ(gpio_sim_level(6), 1);
  const LocalVarsCounts after = Variable_getCurrentLocalVarCounts(rig.env.get());
  EXPECT_EQ(after.variables, before.variables);
  EXPECT_EQ(after.variablesData, before.variablesData);
  EXPECT_EQ(after.constants, before.constants);
}

TEST_F(BoardTest, FilesAreWrittenOnlyByTheOutputSynchronisation) {
  ProgramBuilder b({.fileTypes = true});
  const uint32_t fileType = b.typeId("Kova_File");
  const uint32_t log = b.global("log", b.queueType(TypeUInt32, 4));
  const std::string path = tempPath("board_sync.csv");
  std::vector<uint64_t> cells = b.clearedCells(fileType);
  const uint32_t nameAt = b.fieldOffset(fileType, "name");
  for (size_t i = 0; i < path.size(); ++i) cells[nameAt + i] = static_cast<uint8_t>(path[i]);
  cells[b.fieldOffset(fileType, "access")] = b.enumValue(b.fieldType(fileType, "access"), "WRITE");
  cells[b.fieldOffset(fileType, "format")] = b.enumValue(b.fieldType(fileType, "format"), "CSV");
  const uint32_t descriptor = b.global("descriptor", fileType, cells);
  Rig rig(b);
  files_init(rig.env.get());
  file_variable_setup(rig.env.get(), rig.env->program->globalVariableTable[descriptor], log);
  ValueCell five{.u64 = 5};
  interp_setValue(rig.env.get(), log, 1, {&five, TypeUInt32, NO_ID});
  const auto contents = [&] {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  board_syncio_input(rig.env.get());
  EXPECT_EQ(contents(), "");
  board_syncio(rig.env.get());
  EXPECT_EQ(contents(), "5\n");
  files_close();
  std::remove(path.c_str());
}

TEST_F(BoardTest, DelaySleepsAtLeastTheDurationOnTheMonotonicClock) {
  ProgramBuilder b;
  Rig rig(b);
  for (uint64_t ps : {uint64_t{1'500'000'000}, uint64_t{1'000}, uint64_t{2'000'000'500}}) {
    SCOPED_TRACE(ps);
    const uint64_t start = board_gettime(rig.env.get());
    board_delay(rig.env.get(), ps);
    EXPECT_GE(board_gettime(rig.env.get()) - start, ps / 1000 * 1000);
  }
}

namespace {
volatile sig_atomic_t alarms = 0;
void onAlarm(int) {
  alarms = alarms + 1;
}
}  // namespace

TEST_F(BoardTest, DelayGoesOnAfterASignal) {
  ProgramBuilder b;
  Rig rig(b);
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = onAlarm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the sleep sees EINTR
  sigaction(SIGALRM, &action, &previous);
  alarms = 0;
  itimerval timer{};
  timer.it_value.tv_usec = 5'000;
  setitimer(ITIMER_REAL, &timer, nullptr);
  const uint64_t duration = 40'000'000'000;  // 40 ms
  const uint64_t start = board_gettime(rig.env.get());
  board_delay(rig.env.get(), duration);
  const uint64_t elapsed = board_gettime(rig.env.get()) - start;
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_EQ(alarms, 1);
  EXPECT_GE(elapsed, duration);
}

TEST_F(BoardTest, OnlyARealSleepFlushesStandardOutput) {
  ProgramBuilder b;
  Rig rig(b);
  // _Exit drops what stdio still holds, so only flushed text reaches stderr.
  EXPECT_EXIT(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        std::printf("pending");
        board_delay(rig.env.get(), 1'000'000);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "pending");
  EXPECT_EXIT(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        std::printf("pending");
        board_delay(rig.env.get(), 999);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "^$");
}
