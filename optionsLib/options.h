// The command-line option parser: short options in the getopt manner, and long
// options ("--name", "--name=value", "--name value") on top of them.
//
// The parser keeps its state in globals, as command-line parsers of this kind
// do: `optind` is the index of the word being scanned (or the next one to
// start), `place` the scan position inside a word of clustered short options.
// They live in the namespace `kova_options` so that they never meet the C
// library's variables of the same names; qualify them rather than pulling the
// namespace in next to <unistd.h>.
//
// Parsing stops at the first word that is not an option; words are never
// reordered. Diagnostics go to standard output, like all console output, and
// are silenced by `opterr` = 0 or by an option string beginning with ':'.
#pragma once

namespace kova_options {

// Values of `option::has_arg`.
enum : int { no_argument = 0, required_argument = 1, optional_argument = 2 };

// One long option. A table of them ends with an entry whose name is null.
// With a flag variable, a match stores `val` there and the parser returns 0;
// without one, the parser returns `val`.
struct option {
  const char* name;
  int has_arg;
  int* flag;
  int val;
};

// Index in argv of the word being scanned; starts at 1.
extern int optind;
// Nonzero (the start) lets the parser print its diagnostics.
extern int opterr;
// The option character last examined (the offending one after '?' or ':').
extern int optopt;
// The argument of the option just returned, or null.
extern char* optarg;
// Set it to make the next call drop the rest of the current word.
extern int optreset;
// What is left of the word of clustered short options; starts empty.
extern char* place;

// Back to the start: optind 1, opterr 1, optopt 0, optarg null, optreset 0,
// place empty. Needed before a second parse in one process.
void options_reset();

// The next short option of argv. Returns the option character (its argument,
// if the option string marks it with ':', in `optarg`); ':' when the argument
// is missing; '?' for a character the option string lacks; -1 at the end of
// the options (no word left, a word not starting with '-', "-" alone); -2 when
// the word starts with "--", leaving `optind` on it for `getopt_long`.
// Null argv or option string: -1.
int getopt_internal(int argc, char* const* argv, const char* optstring);

// As `getopt_internal`, and a word "--name[=value]" is looked up in
// `longopts`: a name is matched by any prefix; an exact match wins, otherwise
// the first entry in table order that the prefix matches. Returns the entry's
// value, or 0 after storing it in the entry's flag variable, with the entry's
// index in `*longindex` when `longindex` is not null; '?' for an unknown
// name, ':' for a missing required argument. "--" alone ends the options
// (-1), with `optind` past it. Null argv, option string or table: -1.
int getopt_long(int argc, char* const* argv, const char* optstring, const option* longopts,
                int* longindex);

// The options of `kova`. 'p' takes an argument but means nothing to the
// driver; 's' appears twice, which the parser does not mind.
inline constexpr char kKovaShortOptions[] = "ahveriqzt:s:p:s:f:F:";

// Values of the long options that have no short form (above every character).
enum : int {
  kOptTimeline = 256,
  kOptVcd,
  kOptGantt,
  kOptReport,  // "--report" or "--report=FORMAT"; the driver reads the format itself
  kOptReportFile,
  kOptDeadlines,
};

inline constexpr option kKovaLongOptions[] = {
    {"echo", no_argument, nullptr, 'e'},
    {"time", required_argument, nullptr, 't'},
    {"scenario", required_argument, nullptr, 's'},
    {"version", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"realtime", no_argument, nullptr, 'r'},
    {"interactive", no_argument, nullptr, 'i'},
    {"stats", no_argument, nullptr, 'a'},
    {"silent", no_argument, nullptr, 'z'},
    {"quiet", no_argument, nullptr, 'q'},
    {"finally-func", required_argument, nullptr, 'f'},
    {"finally-output", required_argument, nullptr, 'F'},
    // After the others, so that their abbreviations keep their meaning.
    {"timeline", required_argument, nullptr, kOptTimeline},
    {"vcd", required_argument, nullptr, kOptVcd},
    {"gantt", required_argument, nullptr, kOptGantt},
    {"report", no_argument, nullptr, kOptReport},
    {"report-file", required_argument, nullptr, kOptReportFile},
    {"deadlines", no_argument, nullptr, kOptDeadlines},
    {nullptr, 0, nullptr, 0},
};

}  // namespace kova_options
