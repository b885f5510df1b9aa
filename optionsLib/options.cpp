#include "optionsLib/options.h"

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace kova_options {

namespace {

// The empty scan position; never written through.
char kEmpty[] = "";

// Diagnostics are wanted unless switched off or the caller asked, with a
// leading ':', to report errors itself.
bool reporting(const char* optstring) {
  return opterr != 0 && optstring[0] != ':';
}

const char* programName(char* const* argv) {
  return argv[0] != nullptr ? argv[0] : "";
}

// Moves to the next word.
void nextWord() {
  ++optind;
  place = kEmpty;
}

}  // namespace

int optind = 1;
int opterr = 1;
int optopt = 0;
char* optarg = nullptr;
int optreset = 0;
char* place = kEmpty;

void options_reset() {
  optind = 1;
  opterr = 1;
  optopt = 0;
  optarg = nullptr;
  optreset = 0;
  place = kEmpty;
}

int getopt_internal(int argc, char* const* argv, const char* optstring) {
  if (argv == nullptr || optstring == nullptr) return -1;

  if (optreset != 0 || *place == '\0') {
    optreset = 0;
    place = kEmpty;
    if (optind >= argc) return -1;
    char* word = argv[optind];
    // The first non-option ends the options; the rest is left in order.
    if (word == nullptr || word[0] != '-') return -1;
    place = word;
    if (word[1] != '\0') {
      ++place;
      if (*place == '-') {
        place = kEmpty;
        return -2;
      }
    }
  }

  optopt = static_cast<unsigned char>(*place++);
  const std::string_view options(optstring);
  const std::size_t at = optopt == ':' ? std::string_view::npos : options.find(char(optopt));

  if (at == std::string_view::npos) {
    // A lone "-" (or a '-' inside a cluster) is not an option: the end of them.
    if (optopt == '-') return -1;
    if (*place == '\0') nextWord();
    if (reporting(optstring)) {
      std::printf("%s: illegal option -- %c\n", programName(argv), optopt);
    }
    return '?';
  }

  if (at + 1 < options.size() && options[at + 1] == ':') {
    if (*place != '\0') {
      optarg = place;
    } else {
      ++optind;
      if (optind >= argc) {
        place = kEmpty;
        if (reporting(optstring)) {
          std::printf("%s: option requires an argument -- %c\n", programName(argv), optopt);
        }
        return ':';
      }
      optarg = argv[optind];
    }
    nextWord();
  } else {
    optarg = nullptr;
    if (*place == '\0') nextWord();
  }
  return optopt;
}

int getopt_long(int argc, char* const* argv, const char* optstring, const option* longopts,
                int* longindex) {
  if (argv == nullptr || optstring == nullptr || longopts == nullptr) return -1;

  const int result = getopt_internal(argc, argv, optstring);
  if (result != -2) return result;

  char* word = argv[optind] + 2;
  ++optind;
  // "--" alone ends the options; what follows is left to the caller.
  if (*word == '\0') return -1;

  // No option character is examined for a long option.
  optopt = 0;
  optarg = nullptr;
  const std::string_view text(word);
  const std::size_t equal = text.find('=');
  const std::string_view name = text.substr(0, equal);
  char* inlineArg = equal == std::string_view::npos ? nullptr : word + equal + 1;

  // An exact name wins at once; otherwise an abbreviation takes the first
  // entry it fits, so table order settles ambiguity.
  int match = -1;
  if (!name.empty()) {
    for (int i = 0; longopts[i].name != nullptr; ++i) {
      const std::string_view candidate(longopts[i].name);
      if (!candidate.starts_with(name)) continue;
      if (candidate.size() == name.size()) {
        match = i;
        break;
      }
      if (match < 0) match = i;
    }
  }
  if (match < 0) {
    if (reporting(optstring)) {
      std::printf("%s: illegal option -- %s\n", programName(argv), word);
    }
    return '?';
  }

  const option& entry = longopts[match];
  if (entry.has_arg == required_argument || entry.has_arg == optional_argument) {
    if (inlineArg != nullptr) {
      optarg = inlineArg;
    } else if (optind < argc) {
      optarg = argv[optind++];
    }
    if (entry.has_arg == required_argument && optarg == nullptr) {
      if (reporting(optstring)) {
        std::printf("%s: option requires an argument -- %s\n", programName(argv), word);
      }
      return ':';
    }
  }

  if (longindex != nullptr) *longindex = match;
  if (entry.flag != nullptr) {
    *entry.flag = entry.val;
    return 0;
  }
  return entry.val;
}

}  // namespace kova_options
