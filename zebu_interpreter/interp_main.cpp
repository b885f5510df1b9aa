// kova: loads a compiled Kova program and runs it, in simulated or real time,
// with a time-stamped trace, scenario files and an interactive console.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "ASTLib/default_callback.h"
#include "ASTLib/kova_assert.h"
#include "ASTLib/memory.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "interpreterLib/sched_index.h"
#include "interpreterLib/scheduler.h"
#include "optionsLib/options.h"
#include "parserLib/compiler.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"
#include "zebu_interpreter/callbacks.h"
#include "zebu_interpreter/display.h"
#include "zebu_interpreter/interactive.h"
#include "zebu_interpreter/run_record.h"
#include "zebu_interpreter/scenario.h"

namespace {

InterpEnv* interp_env = nullptr;
uint64_t runTime = 0;
bool echo_input_option = false;
std::string finally_funcname;
std::string finally_filename;
FILE* finally_file = nullptr;
bool finally_file_failed = false;

constexpr uint64_t kNoLimit = 0xFFFFFFFFFFFFFFFFull;
constexpr const char* kVersion = "1.24.2018-02-23-11-00";

constexpr uint64_t kPsPerMs = 1000000000ull;
// The largest -t whose picoseconds fit in 64 bits.
constexpr uint64_t kMaxTimeMs = UINT64_MAX / kPsPerMs;

uint64_t time_ms_to_ps(uint64_t ms) {
  return ms * kPsPerMs;
}

// A whole number of milliseconds, decimal digits only, that fits.
bool parseMilliseconds(const char* text, uint64_t* ms) {
  uint64_t value = 0;
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    const auto digit = static_cast<uint64_t>(*text - '0');
    if (value > (kMaxTimeMs - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *ms = value;
  return true;
}

void interp_usage(char** argv) {
  display_program("Zebu Kova Interpreter");
  display_program(" for raspberry");
  display_program("\n");
  display_program("Version %s\n", kVersion);
  display_program("Usage:");
  display_program("\n    %s [options]", argv[0]);
  display_program(" <kova ast>");
  display_program("\n");
  static constexpr const char* kLines[] = {
      "        <kova ast>                   the Kova program in its AST version",
      "        -t --time <limit>            run until time 'limit' in milliseconds is reached",
      "        -v --version                 show this text",
      "        -s --scenario <file>         send scenario 'file' commands during the "
      "interpretation",
      "        -e --echo                    repeat received commands on stdout",
      "        -r --realtime                run the interpreter in realtime mode",
      "        -i --interactive             enable interactive mode of interpreter",
      "        -a --stats                   display task execution time statistics on exit",
      "        -q --quiet                   disable verbose mode",
      "        -z --silent                  disable all console outputs",
      "        --finally-func <funcname>    Execute no-argument function called 'funcname' before "
      "exit. ",
      "        --finally-output <filename>  Redirect output to 'filename' before executing final "
      "function.",
  };
  for (const char* line : kLines) display_program("\n%s", line);
  display_program("\n");
}

// A file that starts with the program-file magic is read as a program file
// (the reader says what is wrong with a damaged one); any other file is Kova
// source, compiled in memory.
bool startsWithProgramMagic(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  char head[sizeof kProgramMagic - 1] = {};
  in.read(head, sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, kProgramMagic, sizeof head) == 0;
}

// Loads a program file or compiles a source; compile errors go to standard
// error and end the run with status 1.
int loadProgram(InterpEnv* env, const char* path) {
  if (startsWithProgramMagic(path)) return interp_load(env, path);
  CompileOptions options;
  options.libraryDirs = kova_defaultLibraryDirs();
  CompileResult compiled = kova_compileFile(path, options);
  if (compiled.program == nullptr) {
    std::fflush(stdout);
    std::exit(1);
  }
  return interp_load_from_program(env, std::move(compiled.program));
}

// Only a flag: the scheduler stops at the next activation boundary, a
// real-time wait and the console's wait for input end, and the driver then
// leaves through the normal exit path, so no output is cut short. A second
// interrupt before the first was acted on (an activation that never ends)
// ends the process at once.
void handle_signal(int signal) {
  if (signal != SIGINT) return;
  if (scheduler_stopRequested()) {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  scheduler_requestStop();
}

// The end after an interrupt: the EXIT line, no console, no final function.
void exitIfInterrupted(InterpEnv* env) {
  if (!scheduler_stopRequested()) return;
  display_debug("Caught SIGINT, exiting now\n");
  disableInteractiveMode();
  callback_exit(env, 0, 0);
}

// `kova -`: the program comes whole from standard input into an anonymous
// file, which the reader opens by its /proc name (it may seek).
std::string programFromStdin(int* error) {
  int fd = memfd_create("kova-stdin", 0);
  if (fd < 0) {
    FILE* temporary = std::tmpfile();
    fd = temporary != nullptr ? dup(fileno(temporary)) : -1;
    if (temporary != nullptr) std::fclose(temporary);
  }
  if (fd < 0) {
    *error = errno;
    return {};
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return {};
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(fd, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        *error = errno;
        return {};
      }
      done += w;
    }
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

// The reader only says that it could not read the file; this says which
// file and why. 0 when the file can be opened.
int unreadableReason(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return errno;
  std::fclose(file);
  return 0;
}

bool reportFormat(const char* name, ReportFormat* format) {
  if (std::strcmp(name, "text") == 0) {
    *format = ReportFormat::kText;
  } else if (std::strcmp(name, "json") == 0) {
    *format = ReportFormat::kJson;
  } else if (std::strcmp(name, "csv") == 0) {
    *format = ReportFormat::kCsv;
  } else {
    return false;
  }
  return true;
}

// While the final function runs, its output goes to the named file.
void print_char_to_output(InterpEnv*, uint8_t c) {
  if (finally_filename.empty()) {
    std::fputc(c, stdout);
    return;
  }
  if (finally_file == nullptr && !finally_file_failed) {
    finally_file = std::fopen(finally_filename.c_str(), "a");
    if (finally_file == nullptr) {
      finally_file_failed = true;
      display_program("Cannot install callback redirection to %s!", finally_filename.c_str());
    }
  }
  if (finally_file != nullptr) std::fputc(c, finally_file);
}

void call_func_before_exit(InterpEnv* env, uint32_t line, uint8_t code) {
  // The final function may read the queues, from the middle of a run too.
  schedIndex_invalidate(env);
  const PrintCallback savedPrint = env->ctx->print_callback;
  const bool savedEnabled = env->ctx->print_enabled;
  if (env_on_print(env, print_char_to_output) == 0) {
    display_program("Cannot install callback redirection to output!");
  }
  const uint32_t funcId = interp_getFunctionID(env, finally_funcname.c_str(), 0, nullptr);
  if (funcId != NO_ID) {
    if (interp_callFunction(env, funcId, nullptr) != 0) {
      display_program("Error while interpreting final function %s!\n", finally_funcname.c_str());
    }
  } else {
    display_program("Final function %s without any argument not found!\n",
                    finally_funcname.c_str());
  }
  if (finally_file != nullptr) {
    std::fclose(finally_file);
    finally_file = nullptr;
  }
  env->ctx->print_callback = savedPrint;
  env->ctx->print_enabled = savedEnabled;
  callback_exit(env, line, code);
}

void installSignalHandler() {
  struct sigaction action {};
  action.sa_handler = handle_signal;
  sigfillset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, nullptr) != 0) display_program("Error: cannot handle SIGINT");
}

}  // namespace

int main(int argc, char** argv) {
  bool stats = false;
  bool quiet = false;
  bool silent = false;
  RunRecordOptions record;
  // Console output is buffered; every exit path and every wait flushes it.
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  memory_installNewHandler();
  display_debug("Creating Kova environment...\n");

  std::unique_ptr<InterpEnv> owned = interp_create();
  InterpEnv* env = owned.get();
  // The reference the scheduler's index is tested against.
  if (const char* scheduler = std::getenv("KOVA_SCHEDULER");
      scheduler != nullptr && std::strcmp(scheduler, "scan") == 0) {
    scheduler_usePlainScan(env, true);
  }
  interp_env = env;
  callbacks_adoptEnvironment(std::move(owned));
  board_init(env);
  display_program("setup \n");
  installSignalHandler();

  const Context& ctx = *env->ctx;
  KOVA_ASSERT(ctx.print_callback == defaultCallback_print && !ctx.print_enabled &&
                  ctx.exit_callback == defaultCallback_exit &&
                  ctx.get_local_time_callback == env_getLocalTime &&
                  ctx.syncio_callback == defaultCallback_syncio &&
                  ctx.syncio_callback_input == defaultCallback_syncio &&
                  ctx.delay_callback == defaultCallback_delay,
              "the environment starts with the default callbacks");
  disableInteractiveMode();
  prepareToExitWithoutInteract();

  kova_options::options_reset();
  for (;;) {
    const int word = kova_options::optind;
    const int c = kova_options::getopt_long(argc, argv, kova_options::kKovaShortOptions,
                                            kova_options::kKovaLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 0: break;
      case 'e': echo_input_option = true; break;
      case 't': {
        uint64_t ms = 0;
        if (!parseMilliseconds(kova_options::optarg, &ms)) {
          display_program(
              "%s: invalid time \"%s\" for option -t (--time): a whole number of milliseconds "
              "from 0 to %llu expected\n",
              argv[0], kova_options::optarg, static_cast<unsigned long long>(kMaxTimeMs));
          interp_usage(argv);
          std::fflush(stdout);
          return 1;
        }
        runTime = time_ms_to_ps(ms);
        break;
      }
      case kova_options::kOptTimeline: record.timeline = kova_options::optarg; break;
      case kova_options::kOptVcd: record.vcd = kova_options::optarg; break;
      case kova_options::kOptGantt: record.gantt = kova_options::optarg; break;
      case kova_options::kOptReportFile:
        record.report = true;
        record.reportFile = kova_options::optarg;
        break;
      case kova_options::kOptDeadlines: record.deadlines = true; break;
      case kova_options::kOptReport: {
        record.report = true;
        const char* format = std::strchr(argv[word], '=');
        if (format != nullptr && !reportFormat(format + 1, &record.reportFormat)) {
          display_program("%s: unknown report format \"%s\" (text, json or csv)\n", argv[0],
                          format + 1);
          interp_usage(argv);
          std::fflush(stdout);
          return 1;
        }
        break;
      }
      case 's': prepareScenarioFile(kova_options::optarg); break;
      case 'v':
      case 'h':
        interp_usage(argv);
        std::fflush(stdout);
        return 0;
      case 'r': interp_set_realtime(env, true); break;
      case 'i':
        enableInteractiveMode();
        prepareToInteractBeforeExit();
        break;
      case 'a': stats = true; break;
      case 'z':
        silent = true;
        quiet = true;
        break;
      case 'q': quiet = true; break;
      case 'f': finally_funcname = kova_options::optarg; break;
      case 'F': finally_filename = kova_options::optarg; break;
      default:
        display_program("%s: unknown option \"%s\"\n", argv[0],
                        word < argc ? argv[word] : argv[argc - 1]);
        interp_usage(argv);
        std::fflush(stdout);
        return 1;
    }
  }
  setEchoInput(echo_input_option);

  env_on_syncio(env, board_syncio);
  env_on_syncio_input(env, board_syncio_input);
  if (interp_get_realtime(env)) {
    env_on_get_local_time(env, board_gettime);
    env_on_get_absolute_time(env, board_gettime);
  } else {
    env_on_get_local_time(env, env_getLocalTime);
    env_on_get_absolute_time(env, env_getAbsoluteTime);
  }
  env_on_exit(env, finally_funcname.empty() ? callback_exit : call_func_before_exit);

  if (kova_options::optind != argc - 1) {
    interp_usage(argv);
    std::fflush(stdout);
    return 1;
  }

  std::string path = argv[kova_options::optind];
  int unreadable = 0;
  if (path == "-") {
    path = programFromStdin(&unreadable);
  } else {
    unreadable = unreadableReason(path.c_str());
  }
  if (unreadable != 0) {
    const std::string message = std::string("could not read input code file !\n") +
                                argv[kova_options::optind] + ": " + std::strerror(unreadable) +
                                "\n";
    env_failure(env, message.c_str());
    return 1;
  }
  const int loaded = loadProgram(env, path.c_str());
  if (loaded != 0) {
    interp_prepareExit(env, 0, static_cast<uint8_t>(loaded & 255));
    std::exit(loaded);
  }

  for (uint32_t i = 0; i < env->program->infoProg->n_processInstances; ++i) {
    KOVA_ASSERT(ctx.fsm_changed_callback[i] == defaultCallback_fsmChanged &&
                    ctx.process_activation_callback[i] == defaultCallback_processActivation,
                "the instances start with the default callbacks");
  }
  for (uint32_t i = 0; i < env->program->infoProg->n_globalVariables; ++i) {
    KOVA_ASSERT(ctx.var_change_callback[i] == defaultCallback_varChange &&
                    ctx.var_read_callback[i] == defaultCallback_varRead,
                "the variables start with the default callbacks");
  }

  display_debug("Installing callbacks...\n");
  env_on_any_variable_change(env, callback_var_change);
  env_on_any_variable_read(env, callback_var_read);
  env_on_any_state_changed(env, callback_state_changed);
  env_on_delay(env, callback_delay);
  env_on_random(env, callback_random);
  env_on_random_seed(env, callback_random_seed);
  interpreter_on_invalid_op(env, callback_invalid_op);
  env_on_task_trace(env, callback_task_trace);
  if (!silent) env_on_print(env, callback_print_char);
  env_on_assert(env, callback_assert);

  board_variable_setup(env);
  interactive_setQuietMode(env, quiet);

  if (isScenarioFileNameSet()) {
    if (!openScenario()) {
      display_program("%s: scenario file \"%s\" does not exist!\n", argv[0], getScenarioFileName());
      std::fflush(stdout);
      return 1;
    }
    if (runTime == 0) runTime = kNoLimit;
  }
  if (runTime == 0 && !isInteractiveModeEnabled()) runTime = kNoLimit;
  callbacks_setRunTime(runTime);
  if (!run_record_start(env, record, quiet, argv[0])) {
    std::fflush(stdout);
    return 1;
  }

  display_debug("Initializing environment...\n");
  interp_init(env);
  if (stats) enableStats(env);

  if (env->program->infoProg->n_globalProcessInstances == 0) {
    display_debug("No process instantiation\n");
  } else {
    display_debug("Running...\n");
    if (runTime != 0 && !isReadingScenario()) {
      interp_run_until(
          env, runTime == kNoLimit ? kNoLimit : runTime + env->ctx->get_local_time_callback(env));
      exitIfInterrupted(env);
    } else {
      char line[kScenarioLineSize];
      while (isReadingScenario()) {
        exitIfInterrupted(env);
        line[0] = '\0';
        if (!readScenarioLine(line)) {
          closeScenario();
          break;
        }
        if (echo_input_option) display_program("%s", line);
        uint64_t limit = runTime;
        if (runTime != kNoLimit && interp_get_realtime(env)) {
          limit = runTime + env->ctx->get_local_time_callback(env);
          display_program("RT %lld\n", static_cast<long long>(runTime));
        }
        if (!interactive_exec(env, line, limit)) {
          display_program("[ Time limit reached before end of scenario ]\n");
          closeScenario();
          prepareToExitWithoutInteract();
          break;
        }
      }
      exitIfInterrupted(env);
      // A scenario played without a time limit ends the program with it.
      if (runTime != 0 && runTime != kNoLimit) {
        interp_run_until(env, runTime + env->ctx->get_local_time_callback(env));
        exitIfInterrupted(env);
      }
    }
    if (isInteractiveModeEnabled()) interactive(env, kNoTimeLimit);
  }
  exitIfInterrupted(env);

  display_debug("Execution successfully completed\n");
  env->ctx->exit_callback(env, 0, 0);
  return 0;
}
