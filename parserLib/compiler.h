// Compiling whole Kova source programs: the front end behind `kovac` and
// behind `kova prog.kova`.
//
// The system library (system.kova) is compiled ahead of every program. It
// and the files a program includes are searched beside the including file
// (for the library: beside the program), then in the -I folders in order,
// then in the library folders. Diagnostics go to the sink; by default to
// standard error as "[ERROR] prog.kova: Line 5: message", then the source
// line and a caret under the token. A program with an error is not made.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ASTLib/rAST.h"
#include "parserLib/parser_data.h"
#include "parserLib/program_assembly.h"

inline constexpr char kSystemLibraryName[] = "system.kova";

struct CompileOptions {
  std::vector<std::string> includeDirs;          // -I folders, in order
  std::vector<std::string> libraryDirs;          // searched last (the installed library)
  DiagnosticSink sink;                           // empty: kova_printDiagnostic on standard error
  uint32_t nodeCapacity = kCompileNodeCapacity;  // the largest program, in nodes
};

struct CompileResult {
  std::unique_ptr<Program> program;  // null when an error was reported
  size_t errors = 0;
};

// Compiles the file; the program's model name is its base name without ".kova".
CompileResult kova_compileFile(const std::string& path, const CompileOptions& options);
// Compiles a text as if it were the file `path`.
CompileResult kova_compileText(const std::string& path, std::string text,
                               const CompileOptions& options);

// A program being assembled: the front end over a program that already holds
// the system library. The compiler adds a source to it; the test program
// builder adds declarations directly.
struct ProgramDraft {
  std::unique_ptr<InterpEnv> ienv;  // folds constant expressions; owns the program
  std::unique_ptr<ParserEnv> penv;
  WholeProgram whole;
};
// A draft holding the library compiled from `librarySource` (named
// `libraryPath` in diagnostics); null after an error.
std::unique_ptr<ProgramDraft> kova_startProgram(const std::string& libraryPath,
                                                std::string librarySource,
                                                const DiagnosticSink& sink,
                                                uint32_t nodeCapacity = kCompileNodeCapacity);
// Compiles what the first pass left, checks the whole program and lays it
// out; null when an error was reported.
std::unique_ptr<Program> kova_finishProgram(ProgramDraft& draft, const std::string& modelName);

// The library folders a build knows by default: the installed one, then the
// source tree's (so that a build that is not installed finds its library).
std::vector<std::string> kova_defaultLibraryDirs();

// "[ERROR] file: Line n: message", the source line and a caret, on `out`.
void kova_printDiagnostic(std::FILE* out, const ParserEnv& penv, const Diagnostic& d);

// "prog" for ".../prog.kova".
std::string kova_modelName(const std::string& path);

// Whether the file starts with the program-file magic.
bool kova_isProgramFile(const std::string& path);
