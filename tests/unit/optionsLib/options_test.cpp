// The option parser: short clusters, where parsing stops, long names by prefix.
#include "optionsLib/options.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_host.h"

using namespace kova_test;
namespace ko = kova_options;
constexpr const char* kShort = ko::kKovaShortOptions;
constexpr const ko::option* kLong = ko::kKovaLongOptions;

namespace {

// A mutable argv built from words, null-terminated like the real one.
struct Argv {
  std::vector<std::string> words;
  std::vector<char*> ptrs;
  explicit Argv(std::vector<std::string> w) : words(std::move(w)) {
    for (std::string& s : words) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  char* const* argv() const { return ptrs.data(); }
};

struct Case {
  std::vector<std::string> words;
  std::string events;  // each result, "c" or "c=argument", separated by spaces
  int optind;
  std::string printed;
};

// Parses every case from a fresh state until -1, recording each result.
void expectCases(const std::vector<Case>& cases, const char* optstring = kShort,
                 const ko::option* table = kLong, int opterr = 1) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    ko::options_reset();
    ko::opterr = opterr;
    Argv args(c.words);
    std::string events;
    auto capture = std::make_unique<StdoutCapture>();
    // A bound, so that a parser that never ends fails instead of hanging.
    for (int i = 0; i < 32; ++i) {
      const int r = ko::getopt_long(args.argc(), args.argv(), optstring, table, nullptr);
      if (r == -1) break;
      events += std::string(events.empty() ? "" : " ") + (r == 0 ? '0' : char(r));
      if (ko::optarg != nullptr) events += std::string("=") + ko::optarg;
    }
    const std::string printed = capture->text();
    capture.reset();  // failures are reported on standard output
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(ko::optind, c.optind);
    EXPECT_EQ(printed, c.printed);
  }
}

TEST(Options, ShortAndLongOptions) {
  expectCases({
      {{"kova", "-azqihv", "-px", "-f", "fn", "-Fout", "prog"}, "a z q i h v p=x f=fn F=out", 6},
      {{"kova", "-ert", "7", "-et7", "prog"}, "e r t=7 e t=7", 4},
      {{"kova", "-t", "-e", "-e"}, "t=-e e", 4},
      // The first non-option ends the options; nothing after it is looked at.
      {{"kova", "-e", "prog", "-r"}, "e", 2},
      {{"kova", "-"}, "", 1},  // a word, not an option
      {{"kova", "-e", "--", "-r", "prog"}, "e", 3},
      {{"kova", "-e-r"}, "e", 1},  // a '-' inside a cluster ends the options
      {{"./kova", "-t"}, ":", 2, "./kova: option requires an argument -- t\n"},
      {{"./kova", "-exr", "prog"}, "e ? r", 2, "./kova: illegal option -- x\n"},
      {{"./kova", "-:", "prog"}, "?", 2, "./kova: illegal option -- :\n"},
      // Long options: by prefix, with an inline or a separate argument.
      {{"kova", "--echo", "--time", "5", "-t3", "--quiet", "p"}, "e t=5 t=3 q", 6},
      {{"kova", "--tim", "5", "p"}, "t=5", 3},
      {{"kova", "--time=5", "p"}, "t=5", 2},
      {{"kova", "--time=", "--time=a=b", "p"}, "t= t=a=b", 3},
      {{"kova", "--time", "--echo", "p"}, "t=--echo", 3},
      {{"kova", "--s", "x", "p"}, "s=x", 3},  // an ambiguous prefix takes the first entry
      {{"kova", "--echo=1", "p"}, "e", 2},    // an inline value without argument is ignored
      {{"kova", "--bogus=3", "--echo", "p"}, "? e", 3, "kova: illegal option -- bogus=3\n"},
      {{"kova", "--echoo", "p"}, "?", 2, "kova: illegal option -- echoo\n"},
      {{"kova", "--=5", "p"}, "?", 2, "kova: illegal option -- =5\n"},
      {{"kova", "--tim"}, ":", 2, "kova: option requires an argument -- tim\n"},
  });
}

TEST(Options, ExactMatchFlagVariableAndOptionalArgument) {
  int flag = 0;
  const ko::option table[] = {{"verbose", ko::no_argument, nullptr, 'V'},
                              {"verb", ko::no_argument, nullptr, 'b'},
                              {"flag", ko::no_argument, &flag, 7},
                              {"opt", ko::optional_argument, nullptr, 'o'},
                              {nullptr, 0, nullptr, 0}};
  expectCases(
      {
          {{"k", "--verb"}, "b", 2},  // the exact name wins over an earlier partial match
          {{"k", "--ver"}, "V", 2},
          {{"k", "--fl"}, "0", 2},
          {{"k", "--opt", "y"}, "o=y", 3},
          {{"k", "--opt"}, "o", 2},  // a missing optional argument is no failure
      },
      "", table);
  EXPECT_EQ(flag, 7);
}

TEST(Options, LongIndexNamesTheMatchedEntry) {
  for (int i = 0; kLong[i].name != nullptr; ++i) {
    const ko::option& entry = kLong[i];
    SCOPED_TRACE(entry.name);
    const bool takesArg = entry.has_arg == ko::required_argument;
    ko::options_reset();
    Argv args({"kova", std::string("--") + entry.name + (takesArg ? "=v" : ""), "prog"});
    int index = -7;
    EXPECT_EQ(ko::getopt_long(args.argc(), args.argv(), kShort, kLong, &index), entry.val);
    EXPECT_EQ(index, i);
    EXPECT_STREQ(ko::optarg, takesArg ? "v" : nullptr);
    // The long and the short spelling mean the same option; those without a
    // short spelling have values above every character.
    EXPECT_TRUE(entry.val > 255 ||
                std::string_view(kShort).find(char(entry.val)) != std::string_view::npos);
  }
  // Untouched when no long option matched.
  for (const char* word : {"-e", "--bogus", "--time"}) {
    ko::options_reset();
    ko::opterr = 0;
    Argv args({"kova", word});
    int index = -7;
    ko::getopt_long(args.argc(), args.argv(), kShort, kLong, &index);
    EXPECT_EQ(index, -7) << word;
  }
}

TEST(Options, MessagesSilencedByOpterrOrALeadingColon) {
  const std::vector<Case> failures = {{{"kova", "-x", "--bogus", "-t"}, "? ? :", 4},
                                      {{"kova", "--time"}, ":", 2}};
  expectCases(failures, (std::string(":") + kShort).c_str());
  expectCases(failures, kShort, kLong, 0);
}

// optreset and options_reset; the long-option hand-over is tested above.
TEST(Options, ScanStateAndNullInputs) {
  Argv args({"kova", "-ert", "x", "-y"});
  ko::options_reset();
  ko::opterr = 0;
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), kShort), 'e');
  // optreset drops the rest of the word: the scan starts again at optind.
  ko::optreset = 1;
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), kShort), 'e');
  EXPECT_EQ(ko::optreset, 0);
  ko::optind = 3;
  ko::optreset = 1;
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), kShort), '?');
  EXPECT_EQ(ko::optopt, 'y');
  ko::options_reset();
  EXPECT_EQ(ko::opterr, 1);
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), kShort), 'e');
  EXPECT_EQ(ko::getopt_internal(args.argc(), nullptr, kShort), -1);
  EXPECT_EQ(ko::getopt_internal(args.argc(), args.argv(), nullptr), -1);
  EXPECT_EQ(ko::getopt_long(args.argc(), nullptr, kShort, kLong, nullptr), -1);
  EXPECT_EQ(ko::getopt_long(args.argc(), args.argv(), nullptr, kLong, nullptr), -1);
  EXPECT_EQ(ko::getopt_long(args.argc(), args.argv(), kShort, nullptr, nullptr), -1);
}

}  // namespace
