#include "zebu_interpreter/interactive.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/run_control.h"
#include "interpreterLib/sched_index.h"
#include "interpreterLib/scheduler.h"
#include "parserLib/parser_data.h"
#include "zebu_interpreter/callbacks.h"
#include "zebu_interpreter/console_input.h"
#include "zebu_interpreter/display.h"
#include "zebu_interpreter/run_record.h"

namespace {

bool interactiveMode = false;
bool exitImmediately = false;
bool echoInput = false;

constexpr uint64_t kMsToPs = 1000000000ull;

bool endsWord(char c) {
  return c == '\0' || c == '\n' || c == '\xFF' || c == ' ' || c == '\t';
}

const char* skipSpace(const char* p) {
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

void stampedListing(InterpEnv* env, const char* tagName, uint32_t count,
                    const MemArray<uint32_t>& symbols, const MemArray<TaggedValue>& values) {
  const Program* program = env->program.get();
  const uint64_t t = env->ctx->get_absolute_time_callback(env);
  for (uint32_t i = 0; i < count; ++i) {
    display_simu("[");
    display_stamp(t);
    display_simu(":%s] %s=", tagName, Symbol_getName(program, symbols[i]));
    display_value(env, values[i]);
    display_simu("\n");
  }
}

void consoleTime(InterpEnv* env) {
  display_simu("[");
  display_stamp(env->ctx->get_absolute_time_callback(env));
  display_simu("] \n");
}

void help() {
  display_program("Commands:\n");
  display_program(
      "   step                Run the process(es) released at the next activation time\n");
  display_program("   run                 Run without time limit\n");
  display_program(
      "   run <kova time>     Run until absolute time (if greater than current time)\n");
  display_program("   run +<kova time>    Run for a relative period of time\n");
  display_program(
      "   list                Display all global variables, their values, and all processes "
      "status\n");
  display_program("   time                Display current time (in seconds)\n");
  display_program("   verbose             Disable quiet mode\n");
  display_program("   quiet               Enable quiet mode (enabled by default)\n");
  display_program("   quit                End the execution and exit the interpreter\n");
  display_program("\n");
  display_program("Execute a statement such an assignment:\n");
  display_program("   <global variable> = <value>;\n");
}

// What a compiled line added to the program is set back once it has run.
class CompiledLine {
 public:
  explicit CompiledLine(InterpEnv* env) : env_(env), mark_(parser_markTables(env->program.get())) {}
  ~CompiledLine() { parser_restoreTables(env_->program.get(), mark_); }
  CompiledLine(const CompiledLine&) = delete;
  CompiledLine& operator=(const CompiledLine&) = delete;

 private:
  InterpEnv* env_;
  ParserTableMark mark_;
};

// "run <time>" and "run +<time>".
bool runWithArgument(InterpEnv* env, const char* p, uint64_t limit) {
  bool relative = false;
  if (*p == '+') {
    relative = true;
    p = skipSpace(p + 1);
  }
  const char* end = p;
  while (*end != '\0' && *end != '\n' && *end != '\xFF' && *end != ' ') ++end;
  const std::string argument(p, end);
  uint64_t time = 0;
  {
    const CompiledLine line(env);
    const AST_Node* root = console_compile(env, ("$ " + argument).c_str());
    if (root == nullptr) {
      display_program("Unrecognized kova time \"%s\"\n", argument.c_str());
      return true;
    }
    const TaggedValue value = expr_execute(env, root);
    if (value.value != nullptr && value.typeId == TypeTime64) {
      time = value.value->u64;
    } else if (value.value != nullptr && value.typeId == TypeInt) {
      time = value.value->u64 * kMsToPs;
    } else {
      display_program("Unrecognized duration in ms \"%s\"\n", argument.c_str());
    }
    interpStack_reset(env);
  }
  if (time == 0) return true;
  return relative ? interactive_runFor(env, time, limit) : interactive_runUntil(env, time, limit);
}

// What a typed line compiled to is a statement, not a value to show.
bool isStatement(const AST_Node* root) {
  switch (root->op) {
    case ASSIGN_OP:
    case BLOCK_OP:
    case BLOCK_OP_10:
    case BLOCK_OP_11:
    case IF_OP:
    case WHILE_OP:
    case FOR_OP:
    case LOOPOVER_OP:
    case NAMED_BLOCK_OP:
    case BREAK_OP:
    case CONTINUE_OP:
    case TIME_ANNOTATION:
    case USER_ANNOTATION: return true;
    default: return false;
  }
}

bool hasValue(const Program* program, TaggedValue value) {
  return value.value != nullptr && value.typeId < program->infoProg->n_type &&
         (value.typeId < TypePrimitive || value.typeId >= kBuiltinTypeCount);
}

// "?EXPRESSION": its value in the console's form; "?" alone: every global
// variable as "name = value".
void showValue(InterpEnv* env, const char* p) {
  const Program* program = env->program.get();
  const char* end = p + std::strlen(p);
  while (end > p && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
  const std::string expression(p, end);
  if (expression.empty()) {
    for (uint32_t g = 0; g < program->infoProg->n_globalVariables; ++g) {
      display_program("%s = ", GlobalVariable_getName(program, g));
      display_valueNamed(env, program->globalVariableTable[g]);
      display_program("\n");
    }
    return;
  }
  const CompiledLine line(env);
  const AST_Node* root = console_compile(env, ("$ " + expression).c_str());
  if (root == nullptr || isStatement(root)) {
    display_program("Unrecognized expression \"%s\"\n", expression.c_str());
    return;
  }
  const TaggedValue value = expr_execute(env, root);
  if (hasValue(program, value)) display_valueNamed(env, value);
  display_program("\n");
  interpStack_reset(env);
}

}  // namespace

void enableInteractiveMode() {
  interactiveMode = true;
}
void disableInteractiveMode() {
  interactiveMode = false;
}
bool isInteractiveModeEnabled() {
  return interactiveMode;
}
void prepareToInteractBeforeExit() {
  exitImmediately = false;
}
void prepareToExitWithoutInteract() {
  exitImmediately = true;
}
bool interactBeforeExit() {
  return !exitImmediately;
}
void setEchoInput(bool on) {
  echoInput = on;
}

void interactive(InterpEnv* env, uint64_t limit) {
  // Entered from the exit path in the middle of a run, the console reads and
  // writes what the scheduler holds.
  schedIndex_invalidate(env);
  std::string line;
  while (interactBeforeExit()) {
    const ConsoleRead read = console_readLine(env, ">> ", &line);
    if (read == ConsoleRead::kEnd) break;
    if (read == ConsoleRead::kLine) {
      if (echoInput) display_program("%s", line.c_str());
      interactive_exec(env, line.c_str(), limit);
    }
    if (!scheduler_stopRequested()) continue;
    // Ctrl-C: on a terminal it only stops the run (or drops the line being
    // typed) and the prompt comes back; otherwise the caller ends the process.
    if (!console_isTerminal()) break;
    scheduler_clearStop();
    display_program("\n");
  }
}

bool interactive_runUntil(InterpEnv* env, uint64_t target, uint64_t limit) {
  bool result = true;
  if (limit != 0 && target > limit) {
    target = limit;
    result = false;
  }
  interp_run_until(env, target);
  return result;
}

bool interactive_runFor(InterpEnv* env, uint64_t duration, uint64_t limit) {
  bool result = true;
  const uint64_t now = env->ctx->get_local_time_callback(env);
  if (limit != 0 && now + duration > limit) {
    duration = limit - now;
    result = false;
  }
  interp_run_for(env, duration);
  return result;
}

bool interactive_exec(InterpEnv* env, const char* line, uint64_t limit) {
  bool result = true;
  const char* p = skipSpace(line);
  if (*p == '\0') return result;
  if (*p == '@') {
    const char* end = ++p;
    while (*end != '\0' && *end != '\n' && *end != ' ' && *end != '\xFF') ++end;
    const uint64_t ms = std::strtoull(std::string(p, end).c_str(), nullptr, 10);
    result =
        interactive_runUntil(env, env->ctx->get_local_time_callback(env) + ms * kMsToPs, limit);
    if (!result) return result;
    p = end;
  }
  p = skipSpace(p);
  if (*p == '?') {
    showValue(env, p + 1);
    return result;
  }
  const char* wordEnd = p;
  while (!endsWord(*wordEnd) && *wordEnd != '.' && *wordEnd != '=') ++wordEnd;
  const std::string word(p, wordEnd);
  if (word.empty()) {
    display_program(
        "Unrecognized command (instruction or variable symbol expected, but '%c' found)\n", *p);
    return result;
  }
  const char* rest = skipSpace(wordEnd);
  if (word == "run") {
    if (*rest == '\0' || *rest == '\n' || *rest == '\xFF') {
      return interactive_runUntil(env, kNoTimeLimit, limit);
    }
    return runWithArgument(env, rest, limit);
  }
  if (word == "step") {
    interp_step(env);
  } else if (word == "stop" || word == "quit" || word == "exit" || word == "close") {
    // At once: no EXIT line, no statistics; the files asked for are completed.
    run_record_finish(env);
    std::fflush(stdout);
    callbacks_releaseEnvironment(env);
    std::exit(0);
  } else if (word == "list") {
    display_allGlobalVariables(env);
    display_allStates(env);
    display_allStatic(env);
    display_allGlobalConst(env);
  } else if (word == "time") {
    consoleTime(env);
  } else if (word == "help") {
    help();
  } else if (word == "quiet") {
    interactive_setQuietMode(env, true);
  } else if (word == "verbose") {
    interactive_setQuietMode(env, false);
  } else {
    const CompiledLine compiled(env);
    const AST_Node* root = console_compile(env, ("$ " + std::string(p)).c_str());
    if (root == nullptr) {
      display_program("Unrecognized command \"%s\"\n", word.c_str());
    } else if (console_isTerminal() && !isStatement(root)) {
      // Typed by hand, an expression shows its value.
      const TaggedValue value = expr_execute(env, root);
      if (hasValue(env->program.get(), value)) {
        display_valueNamed(env, value);
        display_program("\n");
      }
      interpStack_reset(env);
    } else {
      statement_execute(env, root);
      interpStack_reset(env);
    }
  }
  return result;
}

void interactive_setQuietMode(InterpEnv* env, bool quiet) {
  if (quiet) {
    env_on_any_state_changed(env, nullptr);
    env_on_any_variable_change(env, nullptr);
    env_on_any_variable_read(env, nullptr);
    env_on_task_trace(env, nullptr);
    run_record_setTrace(env, true);
    display_program("Quiet mode enabled\n");
  } else {
    env_on_any_state_changed(env, callback_state_changed);
    env_on_any_variable_change(env, callback_var_change);
    env_on_any_variable_read(env, callback_var_read);
    env_on_task_trace(env, callback_task_trace);
    run_record_setTrace(env, false);
    display_program("Quiet mode disabled\n");
  }
}

void display_allGlobalVariables(InterpEnv* env) {
  const Program* p = env->program.get();
  stampedListing(env, "VAR", p->infoProg->n_globalVariables, p->dbg->globalVariableSymbolId,
                 p->globalVariableTable);
}

void display_allStates(InterpEnv* env) {
  const TaggedValue system = system_getValue(env);
  if (system.value == nullptr) return;
  const TaggedValue processes = interp_knownField(env, system, kField_System_processes);
  for (uint32_t i = 0; i < env->program->infoProg->n_globalProcessInstances; ++i) {
    display_state(env, buffer_getIndexValue(env, processes, i));
  }
}

void display_allStatic(InterpEnv* env) {
  const Program* p = env->program.get();
  stampedListing(env, "STATIC", p->infoProg->n_processStaticVariables,
                 p->dbg->processStaticVariableSymbolId, p->processStaticVariableTable);
}

void display_allGlobalConst(InterpEnv* env) {
  const Program* p = env->program.get();
  stampedListing(env, "CONST", p->infoProg->n_globalConstants, p->dbg->globalConstantSymbolId,
                 p->globalConstantTable);
}
