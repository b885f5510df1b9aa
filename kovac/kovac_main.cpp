// kovac: compiles a whole Kova source program into a program file.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "parserLib/compiler.h"
#include "parserLib/write.h"

namespace {

constexpr const char* kVersion = "1.24.2018-02-23-11-00";

void usage(std::FILE* out) {
  std::fputs(
      "Usage: kovac <program.kova> [-o <program.ast>] [-I <folder>]...\n"
      "  -o <file>      the program file to write (default: the source with .ast)\n"
      "  -I <folder>    look there too for included files and the system library\n"
      "  --version      show the version\n"
      "  --help         show this text\n",
      out);
}

std::string defaultOutput(const std::string& source) {
  std::filesystem::path out(source);
  out.replace_extension(".ast");
  return out.string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string source;
  std::string output;
  CompileOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--version" || arg == "-v") {
      std::printf("kovac, the Kova compiler, version %s\n", kVersion);
      return 0;
    }
    if (arg == "-o" || arg == "-I") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kovac: %s needs an argument\n", arg.c_str());
        usage(stderr);
        return 1;
      }
      (arg == "-o" ? output : options.includeDirs.emplace_back()) = argv[++i];
      continue;
    }
    if (arg.starts_with("-I") && arg.size() > 2) {
      options.includeDirs.push_back(arg.substr(2));
      continue;
    }
    if (arg.starts_with("-") || !source.empty()) {
      std::fprintf(stderr, "kovac: unexpected argument \"%s\"\n", arg.c_str());
      usage(stderr);
      return 1;
    }
    source = arg;
  }
  if (source.empty()) {
    usage(stderr);
    return 1;
  }
  if (output.empty()) output = defaultOutput(source);
  options.libraryDirs = kova_defaultLibraryDirs();

  CompileResult result = kova_compileFile(source, options);
  if (result.program == nullptr) return 1;
  if (write_storeProgramBinary(result.program.get(), output.c_str()) != 0) {
    std::error_code ec;
    std::filesystem::remove(output, ec);
    return 1;
  }
  return 0;
}
