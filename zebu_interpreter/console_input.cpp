#include "zebu_interpreter/console_input.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "ASTLib/rAST.h"
#include "interpreterLib/scheduler.h"
#include "parserLib/builtin_prototypes.h"

#if KOVA_HAVE_LIBEDIT
#include <histedit.h>
#endif

namespace {

constexpr const char* kCommandWords[] = {"run",     "step", "list", "time", "help", "quiet",
                                         "verbose", "quit", "exit", "stop", "close"};

// ---------------------------------------------------------------- plain reading

std::string pending;  // read but not yet handed out
bool endOfInput = false;

// Waits until standard input is readable or a stop is requested; the check
// and the wait are one step (SIGINT blocked in between), so no request is
// missed.
bool waitForInput() {
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigprocmask(SIG_BLOCK, &block, &previous);
  bool ready = false;
  if (!scheduler_stopRequested()) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    ready = ppoll(&in, 1, nullptr, &previous) > 0 || errno != EINTR;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return ready;
}

ConsoleRead readPlain(std::string* line) {
  for (;;) {
    const size_t feed = pending.find('\n');
    if (feed != std::string::npos || pending.size() >= kConsoleLineSize - 1 ||
        (endOfInput && !pending.empty())) {
      const size_t n =
          std::min(feed != std::string::npos ? feed + 1 : pending.size(), kConsoleLineSize - 1);
      line->assign(pending, 0, n);
      pending.erase(0, n);
      return ConsoleRead::kLine;
    }
    if (endOfInput) return ConsoleRead::kEnd;
    if (!waitForInput()) {
      if (scheduler_stopRequested()) return ConsoleRead::kInterrupted;
      continue;
    }
    char buffer[4096];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
      pending.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      endOfInput = true;
    }
  }
}

// ---------------------------------------------------------------- line editing

#if KOVA_HAVE_LIBEDIT

InterpEnv* completionEnv = nullptr;
std::string editPrompt;

const char* promptText(EditLine*) {
  return editPrompt.c_str();
}

std::string commonPrefix(const std::vector<std::string>& words) {
  std::string prefix = words.front();
  for (const std::string& w : words) {
    size_t n = 0;
    while (n < prefix.size() && n < w.size() && prefix[n] == w[n]) ++n;
    prefix.resize(n);
  }
  return prefix;
}

unsigned char complete(EditLine* el, int) {
  const LineInfo* info = el_line(el);
  const char* start = info->cursor;
  while (start > info->buffer &&
         (std::isalnum(static_cast<unsigned char>(start[-1])) || start[-1] == '_')) {
    --start;
  }
  const std::string prefix(start, info->cursor);
  const std::vector<std::string> words = console_completions(completionEnv, prefix);
  if (words.empty()) return CC_ERROR;
  const std::string common = commonPrefix(words);
  if (common.size() > prefix.size()) {
    el_insertstr(el, common.substr(prefix.size()).c_str());
    return CC_REFRESH;
  }
  if (words.size() == 1) return CC_REFRESH;
  std::fputs("\n", stdout);
  for (const std::string& w : words) std::printf("%s  ", w.c_str());
  std::fputs("\n", stdout);
  std::fflush(stdout);
  return CC_REDISPLAY;
}

class Editor {
 public:
  Editor() {
    el_ = el_init("kova", stdin, stdout, stderr);
    history_ = history_init();
    if (el_ == nullptr || history_ == nullptr) return;
    HistEvent event;
    history(history_, &event, H_SETSIZE, 1000);
    history(history_, &event, H_SETUNIQUE, 1);
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
      path_ = std::string(home) + "/.kova_history";
      history(history_, &event, H_LOAD, path_.c_str());
    }
    el_set(el_, EL_EDITOR, "emacs");
    el_set(el_, EL_PROMPT, promptText);
    el_set(el_, EL_HIST, history, history_);
    el_set(el_, EL_ADDFN, "kova-complete", "complete a name", complete);
    el_set(el_, EL_BIND, "^I", "kova-complete", nullptr);
  }
  ~Editor() {
    if (el_ != nullptr) el_end(el_);
    if (history_ != nullptr) history_end(history_);
  }
  Editor(const Editor&) = delete;
  Editor& operator=(const Editor&) = delete;

  bool ready() const { return el_ != nullptr && history_ != nullptr; }

  ConsoleRead read(const char* prompt, std::string* line) {
    editPrompt = prompt;
    std::fflush(stdout);
    // Ctrl-C must end the wait: the read under the editor may not restart.
    struct sigaction action {
    }, saved{};
    sigaction(SIGINT, nullptr, &saved);
    action = saved;
    action.sa_flags &= ~SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    int count = 0;
    const char* text = scheduler_stopRequested() ? nullptr : el_gets(el_, &count);
    sigaction(SIGINT, &saved, nullptr);
    if (scheduler_stopRequested()) return ConsoleRead::kInterrupted;
    if (text == nullptr || count <= 0) return ConsoleRead::kEnd;
    line->assign(text, static_cast<size_t>(count));
    if (line->find_first_not_of(" \t\n") != std::string::npos) {
      HistEvent event;
      std::string entry = *line;
      if (!entry.empty() && entry.back() == '\n') entry.pop_back();
      history(history_, &event, H_ENTER, entry.c_str());
      if (!path_.empty()) history(history_, &event, H_SAVE, path_.c_str());
    }
    return ConsoleRead::kLine;
  }

 private:
  EditLine* el_ = nullptr;
  History* history_ = nullptr;
  std::string path_;
};

#endif

}  // namespace

bool console_isTerminal() {
  static const bool terminal = isatty(STDIN_FILENO) != 0;
  return terminal;
}

ConsoleRead console_readLine([[maybe_unused]] InterpEnv* env, const char* prompt,
                             std::string* line) {
#if KOVA_HAVE_LIBEDIT
  if (console_isTerminal()) {
    static Editor editor;
    if (editor.ready()) {
      completionEnv = env;
      return editor.read(prompt, line);
    }
  }
#endif
  std::fputs(prompt, stdout);
  std::fflush(stdout);
  return readPlain(line);
}

std::vector<std::string> console_completions(InterpEnv* env, const std::string& prefix) {
  std::vector<std::string> words;
  const auto offer = [&](const char* name) {
    if (name != nullptr && std::string_view(name).starts_with(prefix)) words.emplace_back(name);
  };
  for (const char* w : kCommandWords) offer(w);
  if (env != nullptr) {
    const Program* p = env->program.get();
    const InfoProg& info = *p->infoProg;
    const Dbg& dbg = *p->dbg;
    for (uint32_t i = 0; i < info.n_globalVariables; ++i) {
      offer(Symbol_getName(p, dbg.globalVariableSymbolId[i]));
    }
    for (uint32_t i = 0; i < info.n_globalConstants; ++i) {
      offer(Symbol_getName(p, dbg.globalConstantSymbolId[i]));
    }
    for (uint32_t i = 0; i < info.n_functions; ++i) offer(Function_getName(p, i));
    for (uint32_t i = 0; i < info.n_processInstances; ++i) {
      offer(Symbol_getName(p, dbg.processInstanceSymbolId[i]));
    }
  }
  for (const FunctionProto& f : functionTable) offer(f.name);
  for (const MethodProto& m : methodTable) offer(m.name);
  for (const FieldProto& f : fieldTable) offer(f.name);
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}
