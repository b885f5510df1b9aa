#include "zebu_interpreter/boards/raspberry/raspberry.h"

#include <regex.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "ASTLib/kova_assert.h"
#include "ASTLib/kova_locals.h"
#include "ASTLib/memory.h"
#include "ASTLib/rAST.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/files.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/scheduler.h"
#include "zebu_interpreter/boards/linuxmbed/can.h"
#include "zebu_interpreter/boards/linuxmbed/i2c.h"
#include "zebu_interpreter/boards/linuxmbed/serial.h"
#include "zebu_interpreter/boards/raspberry/gpio.h"
#include "zebu_interpreter/udp.h"

std::array<int32_t, kBoardPinCount> output_pins_varID;
std::array<int32_t, kBoardPinCount> input_pins_varID;

namespace {
// Whether any pin was bound each way: the synchronisation runs twice per
// activation and most programs bind none.
bool inputPinBound = false;
bool outputPinBound = false;
}  // namespace

namespace {

inline constexpr int kCompileFailureStatus = 2;
inline constexpr int kSearchFailureStatus = 4;
inline constexpr int kPinNumberStatus = 1;

// Software PWM runs with 100 steps, so a duty value is a percentage.
inline constexpr int kPwmRange = 100;
// Digits of a pin number that count; the rest of a longer run is ignored.
inline constexpr size_t kPinDigits = 10;

inline constexpr uint64_t kPsPerNs = 1000;
inline constexpr uint64_t kNsPerS = 1'000'000'000;
inline constexpr uint64_t kPsPerS = 1'000'000'000'000;

[[noreturn]] void boardExit(int status) {
  std::fflush(stdout);
  std::exit(status);
}

}  // namespace

// The regular expression library reports exhausted memory as an error code;
// it ends the process like every other allocation failure.
int regexMemoryCheck(int result) {
  if (result == REG_ESPACE) memory_allocFailure(__FILE__, "regexMemoryCheck", __LINE__, "regex_t");
  return result;
}

namespace {

// A compiled extended regular expression, freed when it goes.
class Pattern {
 public:
  explicit Pattern(const char* expression)
      : result_(regcomp(&regex_, expression, REG_EXTENDED)), compiled_(result_ == 0) {
    regexMemoryCheck(result_);
  }
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;
  ~Pattern() {
    if (compiled_) regfree(&regex_);
  }
  bool compiled() const { return compiled_; }
  // 0 on a match, REG_NOMATCH, or an error code.
  int search(const char* text, std::span<regmatch_t> matches) const {
    return regexMemoryCheck(regexec(&regex_, text, matches.size(), matches.data(), 0));
  }

 private:
  regex_t regex_{};
  int result_;
  bool compiled_;
};

// The four name forms, compiled in this order; the first that does not
// compile is reported.
struct NamePatterns {
  Pattern pin{"pin([0-9]+)_((in)|(out))"};
  Pattern i2c{"i2c_([0-2])_((cmd)|(out)|(in))"};
  Pattern tty{"(tty[0-9a-zA-Z]+)_((in)|(out))"};
  Pattern can{"can_([0-9a-zA-Z]+)_((out)|(in))"};

  // 0, or the exit status after printing the message.
  int check() const {
    const std::pair<const Pattern*, const char*> all[] = {{&pin, "Cannot compile pin regex"},
                                                          {&i2c, "Cannot compile i2c regex"},
                                                          {&tty, "Cannot compile tty regex"},
                                                          {&can, "Cannot compile CAN regex"}};
    for (const auto& [pattern, message] : all) {
      if (!pattern->compiled()) {
        std::fputs(message, stdout);
        return kCompileFailureStatus;
      }
    }
    return 0;
  }
};

enum class Search { kMatch, kNoMatch, kFailed };

Search search(const Pattern& pattern, const char* name, std::span<regmatch_t> matches,
              const char* failureMessage) {
  const int result = pattern.search(name, matches);
  if (result == 0) return Search::kMatch;
  if (result == REG_NOMATCH) return Search::kNoMatch;
  std::fputs(failureMessage, stdout);
  return Search::kFailed;
}

// Binds variable `varId` whose name matched the pin form; 0, or the exit
// status after printing the message.
int bindPin(InterpEnv* env, uint32_t varId, const char* name, std::span<const regmatch_t> m) {
  int64_t number = 0;
  const regoff_t digitsEnd = std::min(m[1].rm_eo, static_cast<regoff_t>(m[1].rm_so + kPinDigits));
  for (regoff_t k = m[1].rm_so; k < digitsEnd; ++k) number = number * 10 + (name[k] - '0');
  if (number >= kBoardPinCount) {
    std::printf(
        "Pin's number (%lld)  must be between 0 and 20 included. "
        "See http://wiringpi.com/pins/special-pin-functions/\n",
        static_cast<long long>(number));
    return kPinNumberStatus;
  }
  const int pin = static_cast<int>(number);
  const bool input = name[m[2].rm_so] == 'i';
  const TaggedValue variable = env->program->globalVariableTable[varId];
  const auto id = static_cast<int32_t>(varId);

  if (variable.typeId == TypeUInt32) {
    // PWM reads nothing back, so a uint32 input has no meaning.
    if (input) return 0;
    std::printf("  => PWM pin found: %d, output\n", pin);
    if (gpio_softPwmCreate(pin, 0, kPwmRange) == 0) {
      output_pins_varID[pin] = id;
      outputPinBound = true;
    }
  } else if (variable.typeId == TypeBoolean) {
    std::printf("  => Digital pin found: %d, %s\n", pin, input ? "input" : "output");
    if (input) {
      gpio_pinMode(pin, 0);
      input_pins_varID[pin] = id;
      inputPinBound = true;
    } else {
      gpio_pinMode(pin, 1);
      gpio_digitalWrite(pin, variable.value->boolean == 1 ? 1 : 0);
      output_pins_varID[pin] = id;
      outputPinBound = true;
    }
  }
  return 0;
}

// Offers a global variable to the buses by its name; 0, or the exit status.
int bindByName(InterpEnv* env, const NamePatterns& patterns, uint32_t varId) {
  const char* name = GlobalVariable_getName(env->program.get(), varId);
  regmatch_t matches[4];

  switch (search(patterns.pin, name, matches, "Error on pin regexec")) {
    case Search::kMatch: return bindPin(env, varId, name, matches);
    case Search::kFailed: return kSearchFailureStatus;
    case Search::kNoMatch: break;
  }
  // One name may be offered to several buses.
  switch (search(patterns.i2c, name, matches, "Error on i2c regexec")) {
    case Search::kMatch: init_port_i2c(matches, name, varId); break;
    case Search::kFailed: return kSearchFailureStatus;
    case Search::kNoMatch: break;
  }
  switch (search(patterns.tty, name, matches, "Error on tty regexec")) {
    case Search::kMatch: init_serial(matches, name, varId, env); break;
    case Search::kFailed: return kSearchFailureStatus;
    case Search::kNoMatch: break;
  }
  switch (search(patterns.can, name, matches, "Error on CAN regexec")) {
    case Search::kMatch: init_port_can(matches, name, varId, env); break;
    case Search::kFailed: return kSearchFailureStatus;
    case Search::kNoMatch: break;
  }
  return 0;
}

// Runs the block of every hardware annotation that names a variable; its
// statements fill in the descriptors it declares (UDP, UDP_Group).
void bindHardwareAnnotations(InterpEnv* env) {
  const Program* program = env->program.get();
  const uint32_t udpType = interp_getTypeID(env, "UDP");
  const uint32_t udpGroupType = interp_getTypeID(env, "UDP_Group");
  for (uint32_t id = 1; id < program->infoProg->n_AST; ++id) {
    const AST_Node* annotation = AST_fromId(program, id);
    if (annotation->op != HARDWARE_ANNOTATION || annotation->value.id.index == NO_ID) continue;
    const AST_Node* scope = AST_getAnnotationScope(program, annotation);
    if (scope == nullptr) continue;
    const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
    variable_declareLocals(env, AST_left(program, scope));
    for (AST_ListIterator it = ast_it_create(program, AST_right(program, scope)); ast_it_notEnd(it);
         ast_it_next(it)) {
      statement_execute(env, ast_it_current(it));
    }
    // Each variable declaration made the next local of the scope; constants
    // made none.
    const uint32_t annotated = annotation->value.id.index;
    uint32_t k = saved.variables;
    for (AST_ListIterator it = ast_it_create(program, AST_left(program, scope)); ast_it_notEnd(it);
         ast_it_next(it)) {
      const AST_Node* decl = ast_it_current(it);
      if (decl == nullptr || decl->op == CONSTANT_ARRAY_DECL_OP || decl->op == CONSTANT_DECL_OP ||
          AST_getVarDeclTypeId(program, decl) >= program->infoProg->n_type) {
        continue;
      }
      const uint32_t type = AST_getVarDeclTypeId(program, decl);
      const TaggedValue local = env->data->localVariableTable[k++];
      if (type == udpType) {
        board_udp_variable_setup(env, local, annotated);
      } else if (type == udpGroupType) {
        board_udp_group_variable_setup(env, local, annotated);
      }
    }
    Variable_restorePrevLocalVarCounts(env, saved);
  }
}

}  // namespace

void tabpins_init(std::span<int32_t, kBoardPinCount> table) {
  for (int32_t& entry : table) entry = -1;
}

void board_init(InterpEnv*) {
  gpio_wiringPiSetup();
  tabpins_init(output_pins_varID);
  tabpins_init(input_pins_varID);
  inputPinBound = false;
  outputPinBound = false;
  i2c_ports_init();
  serials_init();
  cans_init();
  udp_ports_init();
}

void board_variable_setup(InterpEnv* env) {
  bindHardwareAnnotations(env);
  int status = 0;
  {
    const NamePatterns patterns;
    status = patterns.check();
    const uint32_t n = env->program->infoProg->n_globalVariables;
    for (uint32_t i = 0; i < n && status == 0; ++i) status = bindByName(env, patterns, i);
  }
  if (status != 0) boardExit(status);
  i2c_ports_check(env);
}

namespace {

TaggedValue boundVariable(const InterpEnv* env, int32_t varId) {
  KOVA_ASSERT(static_cast<uint32_t>(varId) < env->program->infoProg->n_globalVariables,
              "varId < env->program->infoProg->n_globalVariables");
  return env->program->globalVariableTable[varId];
}

}  // namespace

void raspberry_sync_input(InterpEnv* env) {
  if (!inputPinBound) return;
  for (int pin = 0; pin < kBoardPinCount; ++pin) {
    if (input_pins_varID[pin] < 0) continue;
    const TaggedValue variable = boundVariable(env, input_pins_varID[pin]);
    KOVA_ASSERT(variable.typeId == TypeBoolean, "variable.typeId == TypeBoolean");
    variable.value->boolean = gpio_digitalRead(pin) != 0 ? 1 : 0;
  }
}

void raspberry_sync_output(InterpEnv* env) {
  if (!outputPinBound) return;
  for (int pin = 0; pin < kBoardPinCount; ++pin) {
    if (output_pins_varID[pin] < 0) continue;
    const TaggedValue variable = boundVariable(env, output_pins_varID[pin]);
    if (variable.typeId == TypeUInt32) {
      gpio_softPwmWrite(pin, static_cast<int>(variable.value->u32 % kPwmRange));
    } else if (variable.typeId == TypeBoolean) {
      gpio_digitalWrite(pin, variable.value->boolean == 1 ? 1 : 0);
    }
  }
}

void board_syncio(InterpEnv* env) {
  raspberry_sync_input(env);
  raspberry_sync_output(env);
  sync_i2c(env);
  sync_files(env);
  sync_serials(env);
  sync_cans(env);
  sync_udp(env);
}

void board_syncio_input(InterpEnv* env) {
  sync_files_input(env);
}

uint64_t board_gettime(InterpEnv*) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * kPsPerS +
         static_cast<uint64_t>(now.tv_nsec) * kPsPerNs;
}

void board_delay(InterpEnv* env, uint64_t duration_ps) {
  const uint64_t d = duration_ps / kPsPerNs;
  timespec delay{};
  delay.tv_sec = static_cast<time_t>(d / kNsPerS);
  delay.tv_nsec = static_cast<long>(d % kNsPerS);
  ENV_CHECK(env, delay.tv_nsec <= 999999999, "delay.tv_nsec <= 999999999");
  if (delay.tv_sec == 0 && delay.tv_nsec == 0) return;
  // Console output is buffered; what the program printed shows before it waits.
  std::fflush(stdout);
  while (delay.tv_sec != 0 || delay.tv_nsec != 0) {
    timespec remain{};
    const int result = clock_nanosleep(CLOCK_MONOTONIC, 0, &delay, &remain);
    if (result == EFAULT || result == EINVAL) {
      ENV_CHECK(env, false, "false");
      return;  // a host whose assert callback returns gets no sleep
    }
    if (result != 0 && result != EINTR) continue;
    // An interrupt that asks the run to stop ends the wait; others do not.
    if (result == EINTR && scheduler_stopRequested()) return;
    if (result == 0) remain = {};
    ENV_CHECK(env,
              remain.tv_sec < delay.tv_sec ||
                  (remain.tv_sec == delay.tv_sec && remain.tv_nsec <= delay.tv_nsec),
              "remain <= delay");
    delay = remain;
  }
}

void board_exit(InterpEnv*, uint32_t, uint8_t) {
  // Pins are never released: they keep their last level.
  i2c_ports_close();
  serials_close();
  cans_close();
  udp_ports_close();
}
