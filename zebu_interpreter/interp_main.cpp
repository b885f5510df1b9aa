// kova: loads a compiled Kova program and runs it, in simulated or real time,
// with a time-stamped trace, scenario files and an interactive console.
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
#include "optionsLib/options.h"
#include "parserLib/compiler.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"
#include "zebu_interpreter/callbacks.h"
#include "zebu_interpreter/display.h"
#include "zebu_interpreter/interactive.h"
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

uint64_t time_ms_to_ps(uint64_t ms) {
  return ms * 1000000000ull;
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
  char head[sizeof kProgramMagic - 1] = {};
  in.read(head, sizeof head);
  return !in || std::memcmp(head, kProgramMagic, sizeof head) == 0;
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

void handle_signal(int signal) {
  if (signal != SIGINT) {
    display_debug("Caught wrong signal: %d\n", signal);
    return;
  }
  display_debug("Caught SIGINT, exiting now\n");
  disableInteractiveMode();
  callback_exit(interp_env, 0, 0);
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
  // Console output is buffered; every exit path and every wait flushes it.
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  memory_installNewHandler();
  display_debug("Creating Kova environment...\n");

  std::unique_ptr<InterpEnv> owned = interp_create();
  InterpEnv* env = owned.get();
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
        unsigned long long ms = 0;
        std::sscanf(kova_options::optarg, "%llu", &ms);
        runTime = time_ms_to_ps(ms);
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

  const int loaded = loadProgram(env, argv[kova_options::optind]);
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
    } else {
      char line[kScenarioLineSize];
      while (isReadingScenario()) {
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
      // A scenario played without a time limit ends the program with it.
      if (runTime != 0 && runTime != kNoLimit) {
        interp_run_until(env, runTime + env->ctx->get_local_time_callback(env));
      }
    }
    if (isInteractiveModeEnabled()) interactive(env, kNoTimeLimit);
  }

  display_debug("Execution successfully completed\n");
  env->ctx->exit_callback(env, 0, 0);
  return 0;
}
