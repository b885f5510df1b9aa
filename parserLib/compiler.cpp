#include "parserLib/compiler.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_set>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/operator_functions.h"
#include "parserLib/builtin_prototypes.h"
#include "parserLib/diagnostics.h"
#include "parserLib/kova_grammar.h"
#include "parserLib/parser_private.h"
#include "parserLib/program_assembly.h"

#ifndef KOVA_INSTALLED_LIBRARY_DIR
#define KOVA_INSTALLED_LIBRARY_DIR ""
#endif
#ifndef KOVA_SOURCE_LIBRARY_DIR
#define KOVA_SOURCE_LIBRARY_DIR ""
#endif

namespace fs = std::filesystem;

namespace {

bool readFile(const std::string& path, std::string* text) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

std::string folderOf(const std::string& path) {
  const std::string parent = fs::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  return (fs::path(folder) / name).string();
}

// The first folder holding `name`: `first`, then the -I folders, then the library's.
std::string find(const std::string& name, const std::string& first, const CompileOptions& options) {
  std::vector<std::string> folders{first};
  folders.insert(folders.end(), options.includeDirs.begin(), options.includeDirs.end());
  folders.insert(folders.end(), options.libraryDirs.begin(), options.libraryDirs.end());
  if (fs::path(name).is_absolute()) folders = {""};
  for (const std::string& folder : folders) {
    const std::string candidate = folder.empty() ? name : joined(folder, name);
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

// Diagnostics made after a declaration's text name its place.
void locateAt(ParserEnv* penv, const SourceLocation& at) {
  ParserContext& c = penv->pctx;
  if (at.file != nullptr) {
    c.fileName = at.file->path;
    c.source = at.file->text;
  }
  c.line = at.line;
  c.column = at.column;
}

// A definition must not contain itself through its sub-processes.
void checkSubProcessCycles(ParserEnv* penv, const WholeProgram& whole) {
  const size_t n = whole.processes.size();
  std::vector<int> state(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<bool> reported(n, false);
  const auto visit = [&](auto& self, size_t def) -> void {
    state[def] = 1;
    for (const SubProcessDecl& sub : whole.processes[def].subs) {
      if (state[sub.definition] == 1 && !reported[sub.definition]) {
        reported[sub.definition] = true;
        const ProcessDraft& d = whole.processes[sub.definition];
        locateAt(penv, d.at);
        diag::contains_itself(penv, Symbol_getName(penv->program, d.symbol));
      } else if (state[sub.definition] == 0) {
        self(self, sub.definition);
      }
    }
    state[def] = 2;
  };
  for (size_t d = 0; d < n; ++d) {
    if (state[d] == 0) visit(visit, d);
  }
}

// The second pass over what the first passes left (bodies, instances,
// annotations), in order; each item once.
void runDeferred(ParserEnv* penv, WholeProgram& whole) {
  ParserContext& c = penv->pctx;
  for (; whole.nextDeferred < whole.deferred.size() && c.errorCount < kMaxReportedErrors;
       ++whole.nextDeferred) {
    const DeferredItem item = whole.deferred[whole.nextDeferred];
    c.fileName = item.file->path;
    c.source = item.file->text;
    kova_parser::Parser parser(penv, item.file->text, item.offset, item.line);
    parser.deferred(whole, item);
  }
}

// Every `state NAME` names a state of some process definition.
void checkStateReferences(ParserEnv* penv, const WholeProgram& whole) {
  const Program* program = penv->program;
  std::unordered_set<uint32_t> states;
  for (uint32_t d = 0; d < program->infoProg->n_processDefinitions; ++d) {
    for (const AST_Node* cell = AST_fromId(program, program->processDefinitionTable[d].states);
         cell != nullptr; cell = AST_right(program, cell)) {
      states.insert(AST_left(program, cell)->value.id.index);
    }
  }
  for (const auto& r : penv->pctx.stateReferences) {
    if (states.contains(r.symbol)) continue;
    penv->pctx.fileName = r.fileName;
    for (const auto& f : whole.files) {
      if (f->path == r.fileName) penv->pctx.source = f->text;
    }
    penv->pctx.line = r.line;
    penv->pctx.column = r.column;
    diag::undefined_identifier(penv, Symbol_getName(program, r.symbol));
  }
}

void compileFile(ParserEnv* penv, WholeProgram& whole, const SourceFile& file) {
  ParserContext& c = penv->pctx;
  c.fileName = file.path;
  c.source = file.text;
  whole.includeStack = {file.path};
  kova_parser::Parser parser(penv, file.text, 0, 1);
  parser.program(whole);
}

}  // namespace

std::vector<std::string> kova_defaultLibraryDirs() {
  std::vector<std::string> dirs;
  // Installed tools find their library beside them, wherever they were put.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) dirs.push_back((self.parent_path().parent_path() / "share" / "kova").string());
  for (const char* dir : {KOVA_INSTALLED_LIBRARY_DIR, KOVA_SOURCE_LIBRARY_DIR}) {
    if (dir[0] != '\0') dirs.emplace_back(dir);
  }
  return dirs;
}

std::string kova_modelName(const std::string& path) {
  std::string base = fs::path(path).filename().string();
  if (base.size() > 5 && base.ends_with(".kova")) base.resize(base.size() - 5);
  return base;
}

bool kova_isProgramFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[sizeof kProgramMagic] = {};
  in.read(magic, sizeof magic);
  return in.gcount() == static_cast<std::streamsize>(sizeof magic) &&
         std::memcmp(magic, kProgramMagic, sizeof magic) == 0;
}

void kova_printDiagnostic(std::FILE* out, const ParserEnv& penv, const Diagnostic& d) {
  std::fputs(d.error ? "[ERROR]" : "[WARNING]", out);
  if (!d.file.empty()) std::fprintf(out, " %.*s:", static_cast<int>(d.file.size()), d.file.data());
  if (d.line != 0) std::fprintf(out, " Line %zu:", d.line);
  std::fputc(' ', out);
  std::fwrite(d.message.data(), 1, d.message.size(), out);
  if (d.message.empty() || d.message.back() != '\n') std::fputc('\n', out);
  // The source line and a caret under the token.
  const std::string_view source = penv.pctx.source;
  if (d.line == 0 || source.empty()) return;
  size_t start = 0;
  for (size_t line = 1; line < d.line && start != std::string_view::npos; ++line) {
    start = source.find('\n', start);
    if (start != std::string_view::npos) ++start;
  }
  if (start == std::string_view::npos || start > source.size()) return;
  size_t end = source.find('\n', start);
  if (end == std::string_view::npos) end = source.size();
  std::string_view text = source.substr(start, std::min<size_t>(end - start, 500));
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::fprintf(out, "    %.*s\n", static_cast<int>(text.size()), text.data());
  if (d.column == 0 || d.column > text.size() + 1) return;
  std::string caret = "    ";
  for (size_t i = 0; i + 1 < d.column; ++i) caret += text[i] == '\t' ? '\t' : ' ';
  std::fprintf(out, "%s^\n", caret.c_str());
}

CompileResult kova_compileFile(const std::string& path, const CompileOptions& options) {
  std::string text;
  if (!readFile(path, &text)) {
    ParserEnv penv;
    penv.pctx.sink = options.sink ? options.sink : [](const ParserEnv& p, const Diagnostic& d) {
      kova_printDiagnostic(stderr, p, d);
    };
    diag::cannot_read_file(&penv, path.c_str());
    return {nullptr, 1};
  }
  return kova_compileText(path, std::move(text), options);
}

std::unique_ptr<ProgramDraft> kova_startProgram(const std::string& libraryPath,
                                                std::string librarySource,
                                                const DiagnosticSink& sink, uint32_t nodeCapacity) {
  auto draft = std::make_unique<ProgramDraft>();
  // An interpreter environment over the program being compiled folds the
  // constant expressions.
  draft->ienv = interp_create();
  draft->ienv->program = assembly_createProgram(nodeCapacity);
  expr_operatorsInit(draft->ienv.get());
  draft->penv = std::make_unique<ParserEnv>();
  ParserEnv* penv = draft->penv.get();
  penv->program = draft->ienv->program.get();
  penv->ienv = draft->ienv.get();
  ParserContext& c = penv->pctx;
  c.wholeProgram = true;
  c.sink = sink ? sink : [](const ParserEnv& p, const Diagnostic& d) {
    kova_printDiagnostic(stderr, p, d);
  };
  parser_initPostSymbols(penv);
  parser_initBuiltinCalls(penv);
  auto lib = std::make_unique<SourceFile>();
  lib->path = libraryPath;
  lib->text = std::move(librarySource);
  const SourceFile* file = lib.get();
  draft->whole.files.push_back(std::move(lib));
  compileFile(penv, draft->whole, *file);
  runDeferred(penv, draft->whole);
  if (c.errorCount != 0) return nullptr;
  return draft;
}

std::unique_ptr<Program> kova_finishProgram(ProgramDraft& draft, const std::string& modelName) {
  ParserEnv* penv = draft.penv.get();
  WholeProgram& whole = draft.whole;
  ParserContext& c = penv->pctx;
  assembly_sizeProcesses(penv->program, static_cast<uint32_t>(whole.instances.size()));
  runDeferred(penv, whole);
  for (uint32_t f = 0; f < whole.functionHasBody.size(); ++f) {
    if (!whole.functionHasBody[f]) {
      locateAt(penv, whole.functionAt[f]);
      diag::function_never_defined(penv, Function_getName(penv->program, f));
    }
  }
  for (const ProcessDraft& d : whole.processes) {
    if (!d.hasBody) {
      locateAt(penv, d.at);
      diag::process_never_defined(penv, Symbol_getName(penv->program, d.symbol));
    }
  }
  checkSubProcessCycles(penv, whole);
  checkStateReferences(penv, whole);
  if (c.errorCount != 0) return nullptr;
  assembly_finish(penv, whole, modelName);
  return std::move(draft.ienv->program);
}

CompileResult kova_compileText(const std::string& path, std::string text,
                               const CompileOptions& options) {
  const DiagnosticSink sink =
      options.sink ? options.sink : [](const ParserEnv& p, const Diagnostic& d) {
        kova_printDiagnostic(stderr, p, d);
      };
  const std::string library = find(kSystemLibraryName, folderOf(path), options);
  std::string libraryText;
  if (library.empty() || !readFile(library, &libraryText)) {
    ParserEnv penv;
    penv.pctx.fileName = path;
    penv.pctx.sink = sink;
    diag::system_library_not_found(&penv, kSystemLibraryName);
    return {nullptr, 1};
  }
  std::unique_ptr<ProgramDraft> draft =
      kova_startProgram(library, std::move(libraryText), sink, options.nodeCapacity);
  if (draft == nullptr) return {nullptr, 1};
  WholeProgram& whole = draft->whole;
  whole.openInclude = [&whole, &options](const SourceFile& from,
                                         const std::string& name) -> const SourceFile* {
    const std::string found = find(name, folderOf(from.path), options);
    if (found.empty()) return nullptr;
    for (const auto& f : whole.files) {
      if (fs::weakly_canonical(f->path) == fs::weakly_canonical(found)) return f.get();
    }
    auto file = std::make_unique<SourceFile>();
    file->path = found;
    if (!readFile(found, &file->text)) return nullptr;
    whole.files.push_back(std::move(file));
    return whole.files.back().get();
  };
  auto main = std::make_unique<SourceFile>();
  main->path = path;
  main->text = std::move(text);
  const SourceFile* mainFile = main.get();
  whole.files.push_back(std::move(main));
  compileFile(draft->penv.get(), whole, *mainFile);
  std::unique_ptr<Program> program = kova_finishProgram(*draft, kova_modelName(path));
  const size_t errors = program == nullptr ? std::max<size_t>(draft->penv->pctx.errorCount, 1) : 0;
  return {std::move(program), errors};
}
