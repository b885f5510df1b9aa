// The option parser: clusters and arguments of short options, where parsing
// stops, long names by prefix, flag variables, and the diagnostics.
#include "optionsLib/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_host.h"

using namespace kova_test;
namespace ko = kova_options;

namespace {

// A mutable argv built from words, null-terminated like the real one.
class Argv {
 public:
  explicit Argv(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string& w : words_) ptrs_.push_back(w.data());
    ptrs_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char* const* argv() const { return ptrs_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> ptrs_;
};

struct Outcome {
  std::string events;  // each result, "c" or "c=argument", separated by spaces
  int optind;
  std::string printed;
};

// Parses until -1 from a fresh state and records every result.
Outcome parseAll(const std::vector<std::string>& words,
                 const char* optstring = ko::kKovaShortOptions,
                 const ko::option* table = ko::kKovaLongOptions) {
  ko::options_reset();
  Argv args(words);
  Outcome out;
  StdoutCapture capture;
  // A bound, so that a parser that never ends fails instead of hanging.
  for (int i = 0; i < 32; ++i) {
    const int r = ko::getopt_long(args.argc(), args.argv(), optstring, table, nullptr);
    if (r == -1) break;
    if (!out.events.empty()) out.events += ' ';
    out.events += r == 0 ? std::string("0") : r < 0 ? std::to_string(r) : std::string(1, char(r));
    if (ko::optarg != nullptr) out.events += std::string("=") + ko::optarg;
  }
  out.optind = ko::optind;
  out.printed = capture.text();
  return out;
}

struct Case {
  std::vector<std::string> words;
  std::string events;
  int optind;
  std::string printed;
};

void expectCases(const std::vector<Case>& cases, const char* optstring = ko::kKovaShortOptions,
                 const ko::option* table = ko::kKovaLongOptions) {
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& w : c.words) line += w + ' ';
    SCOPED_TRACE(line);
    const Outcome got = parseAll(c.words, optstring, table);
    EXPECT_EQ(got.events, c.events);
    EXPECT_EQ(got.optind, c.optind);
    EXPECT_EQ(got.printed, c.printed);
  }
}

TEST(Options, ShortOptionsArgumentsAndEnd) {
  expectCases({
      {{"kova", "-e", "prog"}, "e", 2, ""},
      {{"kova", "-t5", "prog"}, "t=5", 2, ""},
      {{"kova", "-t", "5", "prog"}, "t=5", 3, ""},
      {{"kova", "-ert", "7", "prog"}, "e r t=7", 3, ""},
      {{"kova", "-et7", "prog"}, "e t=7", 2, ""},
      {{"kova", "-ts", "prog"}, "t=s", 2, ""},
      {{"kova", "-t", "5", "-e", "prog"}, "t=5 e", 4, ""},
      {{"kova", "-t", "-e", "prog"}, "t=-e", 3, ""},
      {{"kova", "-p", "x", "-f", "fn", "-F", "out", "prog"}, "p=x f=fn F=out", 7, ""},
      {{"kova", "-a", "-z", "-q", "-i", "-h", "-v", "p"}, "a z q i h v", 7, ""},
      // The first non-option ends the options; nothing after it is looked at.
      {{"kova", "prog", "-e"}, "", 1, ""},
      {{"kova", "-e", "prog", "-r"}, "e", 2, ""},
      {{"kova"}, "", 1, ""},
      // A lone "-" is a word, not an option.
      {{"kova", "-"}, "", 1, ""},
      {{"kova", "-e", "-", "prog"}, "e", 2, ""},
      // "--" ends the options and is consumed.
      {{"kova", "--", "-e"}, "", 2, ""},
      {{"kova", "-e", "--", "-r", "prog"}, "e", 3, ""},
      // A '-' inside a cluster ends the options on that word.
      {{"kova", "-e-r"}, "e", 1, ""},
  });
}

TEST(Options, ShortOptionFailuresAndMessages) {
  expectCases({
      {{"./kova", "-t"}, ":", 2, "./kova: option requires an argument -- t\n"},
      {{"./kova", "-et"}, "e :", 2, "./kova: option requires an argument -- t\n"},
      {{"./kova", "-x", "prog"}, "?", 2, "./kova: illegal option -- x\n"},
      {{"./kova", "-exr", "prog"}, "e ? r", 2, "./kova: illegal option -- x\n"},
      {{"./kova", "-:", "prog"}, "?", 2, "./kova: illegal option -- :\n"},
      {{"./kova", "-xy", "prog"},
       "? ?",
       2,
       "./kova: illegal option -- x\n./kova: illegal option -- y\n"},
  });
}

TEST(Options, LongOptions) {
  expectCases({
      {{"kova", "--echo", "p"}, "e", 2, ""},
      {{"kova", "--time", "5", "p"}, "t=5", 3, ""},
      {{"kova", "--tim", "5", "p"}, "t=5", 3, ""},
      {{"kova", "--time=5", "p"}, "t=5", 2, ""},
      {{"kova", "--t=5", "p"}, "t=5", 2, ""},
      {{"kova", "--time=", "p"}, "t=", 2, ""},
      {{"kova", "--time=a=b", "p"}, "t=a=b", 2, ""},
      {{"kova", "--time", "--echo", "p"}, "t=--echo", 3, ""},
      {{"kova", "--e", "p"}, "e", 2, ""},
      // Ambiguous abbreviations take the first entry in table order.
      {{"kova", "--s", "x", "p"}, "s=x", 3, ""},
      {{"kova", "--finally", "x", "p"}, "f=x", 3, ""},
      {{"kova", "--si", "p"}, "z", 2, ""},
      {{"kova", "--st", "p"}, "a", 2, ""},
      {{"kova", "--finally-o=out", "p"}, "F=out", 2, ""},
      // An inline value given to an option without argument is ignored.
      {{"kova", "--echo=1", "p"}, "e", 2, ""},
      {{"kova", "--echo", "-t", "3", "--quiet", "p"}, "e t=3 q", 5, ""},
      {{"kova", "--", "--echo"}, "", 2, ""},
      {{"kova", "p", "--echo"}, "", 1, ""},
  });
}

TEST(Options, LongOptionFailuresAndMessages) {
  expectCases({
      {{"kova", "--bogus", "p"}, "?", 2, "kova: illegal option -- bogus\n"},
      {{"kova", "--bogus=3", "p"}, "?", 2, "kova: illegal option -- bogus=3\n"},
      {{"kova", "--echoo", "p"}, "?", 2, "kova: illegal option -- echoo\n"},
      {{"kova", "--=5", "p"}, "?", 2, "kova: illegal option -- =5\n"},
      {{"kova", "--time"}, ":", 2, "kova: option requires an argument -- time\n"},
      {{"kova", "--tim"}, ":", 2, "kova: option requires an argument -- tim\n"},
      {{"kova", "--bogus", "--echo", "p"}, "? e", 3, "kova: illegal option -- bogus\n"},
  });
}

TEST(Options, ExactMatchFlagVariableAndOptionalArgument) {
  int flag = 0;
  const ko::option table[] = {
      {"verbose", ko::no_argument, nullptr, 'V'},
      {"verb", ko::no_argument, nullptr, 'b'},
      {"flag", ko::no_argument, &flag, 7},
      {"opt", ko::optional_argument, nullptr, 'o'},
      {nullptr, 0, nullptr, 0},
  };
  expectCases(
      {
          // The exact name wins over an earlier partial match.
          {{"k", "--verb"}, "b", 2, ""},
          {{"k", "--ver"}, "V", 2, ""},
          {{"k", "--verbose"}, "V", 2, ""},
          {{"k", "--fl"}, "0", 2, ""},
          {{"k", "--opt=x"}, "o=x", 2, ""},
          {{"k", "--opt", "y"}, "o=y", 3, ""},
          // A missing optional argument is no failure.
          {{"k", "--opt"}, "o", 2, ""},
      },
      "", table);
  EXPECT_EQ(flag, 7);
}

TEST(Options, LongIndexNamesTheMatchedEntry) {
  for (int i = 0; ko::kKovaLongOptions[i].name != nullptr; ++i) {
    const ko::option& entry = ko::kKovaLongOptions[i];
    SCOPED_TRACE(entry.name);
    std::string word = std::string("--") + entry.name;
    if (entry.has_arg == ko::required_argument) word += "=v";
    ko::options_reset();
    Argv args({"kova", word, "prog"});
    int index = -7;
    EXPECT_EQ(ko::getopt_long(args.argc(), args.argv(), ko::kKovaShortOptions, ko::kKovaLongOptions,
                              &index),
              entry.val);
    EXPECT_EQ(index, i);
    // The long and the short spelling mean the same option.
    if (entry.has_arg == ko::required_argument) {
      ASSERT_NE(ko::optarg, nullptr);
      EXPECT_STREQ(ko::optarg, "v");
    }
    EXPECT_NE(std::string_view(ko::kKovaShortOptions).find(char(entry.val)),
              std::string_view::npos);
  }

  // Untouched when no long option matched.
  for (const char* word : {"-e", "--bogus", "--time"}) {
    SCOPED_TRACE(word);
    ko::options_reset();
    ko::opterr = 0;
    Argv args({"kova", word});
    int index = -7;
    EXPECT_NE(ko::getopt_long(args.argc(), args.argv(), ko::kKovaShortOptions, ko::kKovaLongOptions,
                              &index),
              -1);
    EXPECT_EQ(index, -7);
  }
}

TEST(Options, MessagesSilenced) {
  const std::string leadingColon = std::string(":") + ko::kKovaShortOptions;
  struct Silence {
    const char* name;
    int opterr;
    const char* optstring;
  };
  const Silence ways[] = {{"opterr 0", 0, ko::kKovaShortOptions},
                          {"leading ':'", 1, leadingColon.c_str()}};
  const struct {
    const char* word;
    int result;
  } failures[] = {{"-x", '?'}, {"-t", ':'}, {"--bogus", '?'}, {"--time", ':'}};

  for (const Silence& way : ways) {
    for (const auto& f : failures) {
      SCOPED_TRACE(std::string(way.name) + " " + f.word);
      ko::options_reset();
      ko::opterr = way.opterr;
      Argv args({"kova", f.word});
      StdoutCapture capture;
      EXPECT_EQ(
          ko::getopt_long(args.argc(), args.argv(), way.optstring, ko::kKovaLongOptions, nullptr),
          f.result);
      EXPECT_EQ(capture.text(), "");
    }
  }
}

TEST(Options, StateOptoptResetAndRestart) {
  Argv args({"kova", "-ert", "x", "-y"});
  ko::options_reset();
  ko::opterr = 0;
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), ko::kKovaShortOptions), 'e');
  EXPECT_EQ(ko::optopt, 'e');
  EXPECT_EQ(ko::optind, 1);
  EXPECT_STREQ(ko::place, "rt");

  // optreset drops the rest of the word: the scan starts again at optind.
  ko::optreset = 1;
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), ko::kKovaShortOptions), 'e');
  EXPECT_EQ(ko::optreset, 0);

  ko::optind = 3;
  ko::optreset = 1;
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), ko::kKovaShortOptions), '?');
  EXPECT_EQ(ko::optopt, 'y');

  ko::options_reset();
  EXPECT_EQ(ko::optind, 1);
  EXPECT_EQ(ko::opterr, 1);
  EXPECT_EQ(ko::optopt, 0);
  EXPECT_EQ(ko::optreset, 0);
  EXPECT_EQ(ko::optarg, nullptr);
  EXPECT_STREQ(ko::place, "");
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), ko::kKovaShortOptions), 'e');
}

TEST(Options, InternalAndNullInputs) {
  Argv args({"kova", "--echo"});
  ko::options_reset();
  // The short parser hands "--" words over, leaving optind on them.
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), ko::kKovaShortOptions), -2);
  EXPECT_EQ(ko::optind, 1);

  ko::options_reset();
  EXPECT_EQ(ko::getopt_internal(args.argc(), nullptr, ko::kKovaShortOptions), -1);
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), nullptr), -1);
  EXPECT_EQ(
      ko::getopt_long(args.argc(), nullptr, ko::kKovaShortOptions, ko::kKovaLongOptions, nullptr),
      -1);
  EXPECT_EQ(ko::getopt_long(args.argc(), args.argv(), nullptr, ko::kKovaLongOptions, nullptr), -1);
  EXPECT_EQ(ko::getopt_long(args.argc(), args.argv(), ko::kKovaShortOptions, nullptr, nullptr), -1);
  EXPECT_EQ(ko::optind, 1);
}

}  // namespace
