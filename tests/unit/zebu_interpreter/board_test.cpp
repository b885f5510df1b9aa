// The Raspberry Pi board on the simulated GPIO: binding by name, pin
// synchronisation, hardware annotations, clock and delay.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_engine.h"
#include "tests/support/fake_syscalls.h"
#include "tests/support/interp_fixture.h"
#include "zebu_interpreter/boards/raspberry/gpio.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"

using namespace kova_test;

namespace {

uint32_t changeCallbacks = 0;
volatile sig_atomic_t alarms = 0;

struct BoardTest : InterpFixture {
  void SetUp() override {
    if (!kGpioSimulated) GTEST_SKIP() << "the real GPIO library is linked";
  }
  // Loads the program with the board initialised on a fresh simulated GPIO.
  InterpEnv* loadBoard() {
    gpio_sim_reset();
    board_init(env.get());
    load();
    return env.get();
  }
  // Binds and returns what the board printed.
  std::string bind() {
    StdoutCapture out;
    board_variable_setup(env.get());
    return out.text();
  }
  ValueCell& cell(uint32_t globalId) { return *global(globalId).value; }
};

}  // namespace

TEST_F(BoardTest, BindsByNameAndType) {
  struct Case {
    const char* name;
    uint32_t type;
    const char* printed;
    int pin = 0;
    GpioSimMode mode = kGpioSimUnset;  // not bound
  };
  const Case cases[] = {
      {"pin7_out", TypeBoolean, "  => Digital pin found: 7, output\n", 7, kGpioSimOutput},
      {"pin0_out", TypeBoolean, "  => Digital pin found: 0, output\n", 0, kGpioSimOutput},
      {"pin29_in", TypeBoolean, "  => Digital pin found: 29, input\n", 29, kGpioSimInput},
      {"mypin8_input", TypeBoolean, "  => Digital pin found: 8, input\n", 8, kGpioSimInput},
      {"m_pin12_out", TypeUInt32, "  => PWM pin found: 12, output\n", 12, kGpioSimSoftPwm},
      {"pin_out", TypeBoolean, ""},
      {"pin7_in", TypeUInt32, ""},
      {"pin5_out", TypeUInt8, ""},
      {"pin6out", TypeBoolean, ""},
      // A later variable of the same pin and direction replaces the binding.
      {"a_pin4_out", TypeBoolean, "  => Digital pin found: 4, output\n"},
      {"b_pin4_out", TypeUInt32, "  => PWM pin found: 4, output\n", 4, kGpioSimSoftPwm},
      {"a_pin9_in", TypeBoolean, "  => Digital pin found: 9, input\n"},
      {"b_pin9_in", TypeBoolean, "  => Digital pin found: 9, input\n", 9, kGpioSimInput},
  };
  std::string printed;
  std::array<int32_t, kBoardPinCount> out, in;
  out.fill(-1);
  in.fill(-1);
  for (const Case& c : cases) {
    const auto id = static_cast<int32_t>(b.global(c.name, c.type));
    printed += c.printed;
    if (c.mode != kGpioSimUnset) (c.mode == kGpioSimInput ? in : out)[c.pin] = id;
  }
  output_pins_varID.fill(3);  // the initialisation clears both tables
  input_pins_varID.fill(4);
  loadBoard();
  EXPECT_EQ(gpio_sim_setupCalls(), 1u);
  EXPECT_EQ(bind(), printed);
  EXPECT_EQ(output_pins_varID, out);
  EXPECT_EQ(input_pins_varID, in);
  for (const Case& c : cases)
    EXPECT_TRUE(c.mode == kGpioSimUnset || gpio_sim_mode(c.pin) == c.mode) << c.name;
  EXPECT_EQ(gpio_sim_pwmRange(12), 100);
  EXPECT_EQ(gpio_sim_pwm(12), 0);
}

TEST_F(BoardTest, PinNumberOutsideTheTableEndsTheProgram) {
  // Only the first ten digits count.
  for (const auto& [name, number] :
       {std::pair{"pin30_out", "30"}, std::pair{"pin123456789012_out", "1234567890"}}) {
    // Death-test patterns look at standard error, so standard output is sent there.
    EXPECT_EXIT(
        {
          b.global("pin7_out", TypeBoolean);
          b.global(name, TypeBoolean);
          InterpEnv* e = loadBoard();
          dup2(STDERR_FILENO, STDOUT_FILENO);
          board_variable_setup(e);
        },
        testing::ExitedWithCode(1),
        std::string("^  => Digital pin found: 7, output\nPin's number \\(") + number +
            "\\)  must be between 0 and 20 included\\. .*\n$");
  }
}

TEST_F(BoardTest, SynchronisationOfPins) {
  const uint32_t out = b.global("pin7_out", TypeBoolean, {1});
  const uint32_t pwm = b.global("motor_pin12_out", TypeUInt32);
  const uint32_t in = b.global("pin3_in", TypeBoolean);
  InterpEnv* e = loadBoard();
  cell(out).u64 = 0;  // binding comes before the initial values are stored
  bind();
  EXPECT_EQ(gpio_sim_level(7), 0);
  EXPECT_EQ(gpio_sim_writes(7), 1u);
  env_on_variable_change(e, in, [](InterpEnv*, uint32_t, uint32_t, TaggedValue) -> uint32_t {
    ++changeCallbacks;
    return 0;
  });
  changeCallbacks = 0;
  // The output follows its variable, the duty is the value modulo 100, and the
  // input variable follows its pin.
  for (const auto& [level, value, duty] :
       {std::tuple{0, 100u, 0}, std::tuple{1, 150u, 50}, std::tuple{0, 4294967295u, 95}}) {
    cell(out).u64 = static_cast<uint64_t>(level);
    cell(pwm).u32 = value;
    gpio_sim_setInput(3, level);
    board_syncio(e);
    EXPECT_EQ(gpio_sim_level(7), level);
    EXPECT_EQ(gpio_sim_pwm(12), duty);
    EXPECT_EQ(cell(in).u64, static_cast<uint64_t>(level));
  }
  // The input synchronisation leaves the pins alone.
  gpio_sim_setInput(3, 1);
  board_syncio_input(e);
  EXPECT_EQ(cell(in).u64, 0u);
  EXPECT_EQ(changeCallbacks, 0u);
}

TEST_F(BoardTest, FailedPwmCreationLeavesThePinUnbound) {
  b.global("motor_pin12_out", TypeUInt32);
  loadBoard();
  gpio_sim_failSoftPwmCreate(true);
  EXPECT_EQ(bind(), "  => PWM pin found: 12, output\n");
  EXPECT_EQ(output_pins_varID[12], -1);
}

TEST_F(BoardTest, HardwareAnnotationsRunBeforeTheNamesAreBound) {
  FakeSysCalls sockets;
  b = ProgramBuilder({.udpTypes = true});
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
  InterpEnv* e = loadBoard();
  const LocalVarsCounts before = Variable_getCurrentLocalVarCounts(e);
  // The descriptor reaches the UDP binding, which finds no message channel.
  EXPECT_EQ(bind(), "Udp Port buffer too small\n  => Digital pin found: 6, output\n");
  EXPECT_EQ(sockets.calls.at(0), "socket AF_INET SOCK_DGRAM 0");
  board_exit(e, 0, 0);
  EXPECT_EQ(cell(seen).u64, 7u);
  EXPECT_EQ(cell(skipped).u64, 0u);
  EXPECT_EQ(gpio_sim_level(6), 1);  // bound after the block set its variable
  const LocalVarsCounts after = Variable_getCurrentLocalVarCounts(e);
  EXPECT_EQ(after.variables, before.variables);
  EXPECT_EQ(after.variablesData, before.variablesData);
}

TEST_F(BoardTest, DelayLastsDespiteASignalAndFlushesOnlyWhenItSleeps) {
  InterpEnv* e = loadBoard();
  struct sigaction action = {}, previous = {};
  action.sa_handler = [](int) { alarms = alarms + 1; };  // no SA_RESTART: the sleep sees EINTR
  sigaction(SIGALRM, &action, &previous);
  alarms = 0;
  itimerval timer{{0, 0}, {0, 5'000}};
  setitimer(ITIMER_REAL, &timer, nullptr);
  const uint64_t duration = 40'000'000'000;  // 40 ms
  const uint64_t start = board_gettime(e);
  board_delay(e, duration);
  const uint64_t elapsed = board_gettime(e) - start;
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_EQ(alarms, 1);
  EXPECT_GE(elapsed, duration);
  // _Exit drops what stdio still holds, so only flushed text reaches stderr.
  for (const auto& [ps, expected] :
       {std::pair{uint64_t{1'000'000}, "^pending$"}, std::pair{uint64_t{999}, "^$"}}) {
    EXPECT_EXIT(
        {
          dup2(STDERR_FILENO, STDOUT_FILENO);
          std::printf("pending");
          board_delay(e, ps);
          std::_Exit(0);
        },
        testing::ExitedWithCode(0), expected);
  }
}
