// What a run can be seen through, checked against the trace of the same run:
// the timeline, the value-change dump, and the Gantt picture of a task set
// worked out by hand (the reports of that set are golden runs, report_*).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "tests/support/golden.h"
#include "tests/support/json.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Programs in tests/programs, run here with options of the test's own.
std::string program(const std::string& name) {
  return std::string(KOVA_PROGRAMS) + "/" + name;
}

uint64_t stampPs(const std::string& seconds, const std::string& fraction) {
  return std::stoull(seconds) * 1000000000000ull + std::stoull(fraction);
}

struct TraceLine {
  uint64_t t;
  std::string what;  // "start p", "end p", "n=3", "state p done"
};

std::vector<TraceLine> readTrace(const std::string& out) {
  static const std::regex task(R"(\[(\d+)\.(\d{12}):seen:(STARTING_TASK|TASK_FINISHED)\] '(\w+)')");
  static const std::regex assign(R"(\[(\d+)\.(\d{12}):ASSIGN\] Assign (\w+) new value: (\w+))");
  static const std::regex state(
      R"re(\[(\d+)\.(\d{12}):STATE\] process "\w+", instance "(\w+)", state "(\w+)")re");
  std::vector<TraceLine> lines;
  std::istringstream in(out);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, task)) {
      lines.push_back(
          {stampPs(m[1], m[2]), (m[3] == "STARTING_TASK" ? "start " : "end ") + m[4].str()});
    } else if (std::regex_match(line, m, assign)) {
      lines.push_back({stampPs(m[1], m[2]), m[3].str() + "=" + m[4].str()});
    } else if (std::regex_match(line, m, state)) {
      lines.push_back({stampPs(m[1], m[2]), "state " + m[3].str() + " " + m[4].str()});
    }
  }
  return lines;
}

std::string binary(uint64_t v) {
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>('0' + (v & 1)));
    v >>= 1;
  } while (v != 0);
  return out;
}

uint64_t usToPs(const Json& ts) {
  // Six decimals: every picosecond is in the text.
  const std::string& t = ts.text;
  const size_t dot = t.find('.');
  EXPECT_EQ(t.size() - dot, 7u) << t;
  return std::stoull(t.substr(0, dot)) * 1000000 + std::stoull(t.substr(dot + 1));
}

}  // namespace

TEST(Observe, TimelineHoldsTheRunOfTheTrace) {
  const std::string path = tempPath("run.json");
  const RunResult r = runKovaCommand("-t 40 --timeline " + path + " " + program("lib/seen.kova"));
  ASSERT_EQ(r.status, 0);
  const std::optional<Json> json = parseJson(readFile(path));
  ASSERT_TRUE(json.has_value());

  // What the trace says, rebuilt from the events.
  std::vector<TraceLine> fromEvents;
  std::map<uint64_t, std::string> tracks;
  std::vector<std::pair<uint64_t, uint64_t>> parents, subs;
  for (const Json& e : (*json)["traceEvents"].items) {
    const std::string ph = e["ph"].text;
    if (ph == "M" && e["name"].text == "thread_name") {
      tracks[e["tid"].u64()] = e["args"]["name"].text;
    } else if (ph == "X" && e["cat"].text == "activation") {
      const uint64_t start = usToPs(e["ts"]);
      const uint64_t finish = start + usToPs(e["dur"]);
      EXPECT_EQ(e["args"]["start_ps"].u64(), start);
      EXPECT_EQ(e["args"]["finish_ps"].u64(), finish);
      const std::string name = tracks.at(e["tid"].u64());
      EXPECT_EQ(e["name"].text, name);
      fromEvents.push_back({start, "start " + name});
      fromEvents.push_back({finish, "end " + name});
      if (name == "p") parents.emplace_back(start, finish);
    } else if (ph == "X" && e["cat"].text == "sub-process") {
      EXPECT_EQ(e["name"].text, "sub");
      EXPECT_EQ(tracks.at(e["tid"].u64()), "p");
      subs.emplace_back(usToPs(e["ts"]), usToPs(e["ts"]) + usToPs(e["dur"]));
    } else if (ph == "C") {
      const Json& v = e["args"]["value"];
      const std::string value =
          e["name"].text == "flag" ? (v.u64() != 0 ? "true" : "false") : v.text;
      fromEvents.push_back({usToPs(e["ts"]), e["name"].text + "=" + value});
    } else if (ph == "i" && e["cat"].text == "state" && e["args"]["instance"].text != "sub") {
      // (the trace shows the top-level instances' states only)
      fromEvents.push_back(
          {usToPs(e["ts"]), "state " + e["args"]["instance"].text + " " + e["args"]["state"].text});
    }
  }
  EXPECT_EQ(tracks.size(), 2u);
  // p counts three times, calling its sub-process, which then lies inside
  // its parent's activation: 1 ms at the start of 3. Then p stays in `done`,
  // where its own 2 ms remain.
  ASSERT_EQ(subs.size(), 3u);
  ASSERT_EQ(parents.size(), 5u);  // at 0, 10, 20, 30 and 40 ms
  for (size_t i = 0; i < parents.size(); ++i) {
    if (i < subs.size()) {
      EXPECT_EQ(subs[i].first, parents[i].first);
      EXPECT_EQ(subs[i].second, parents[i].first + 1000000000);
    }
    EXPECT_EQ(parents[i].second, parents[i].first + (i < subs.size() ? 3000000000 : 2000000000));
  }

  // The same events as the trace, except ASSIGN lines that repeat a value
  // (a counter changes only when the value does).
  std::vector<TraceLine> fromTrace;
  std::map<std::string, std::string> last;
  for (const TraceLine& l : readTrace(r.out)) {
    const size_t eq = l.what.find('=');
    if (eq != std::string::npos) {
      const std::string name = l.what.substr(0, eq);
      if (last.count(name) != 0 && last[name] == l.what) continue;
      last[name] = l.what;
    }
    fromTrace.push_back(l);
  }
  const auto order = [](const TraceLine& x, const TraceLine& y) {
    return x.t != y.t ? x.t < y.t : x.what < y.what;
  };
  EXPECT_GT(fromTrace.size(), 20u);
  std::sort(fromTrace.begin(), fromTrace.end(), order);
  std::sort(fromEvents.begin(), fromEvents.end(), order);
  ASSERT_EQ(fromEvents.size(), fromTrace.size());
  for (size_t i = 0; i < fromTrace.size(); ++i) {
    EXPECT_EQ(fromEvents[i].t, fromTrace[i].t) << fromTrace[i].what;
    EXPECT_EQ(fromEvents[i].what, fromTrace[i].what);
  }
}

TEST(Observe, ValueChangeDumpFollowsTheRun) {
  const std::string path = tempPath("run.vcd");
  const RunResult r = runKovaCommand("-t 40 --vcd " + path + " " + program("lib/seen.kova"));
  ASSERT_EQ(r.status, 0);
  std::istringstream in(readFile(path));
  std::string line;
  std::map<std::string, std::string> names;  // identifier -> scope.name
  std::string scope;
  std::vector<std::string> scopes;
  bool inDump = false, inOpening = false, sawTimescale = false;
  uint64_t t = 0;
  std::vector<TraceLine> changes;
  static const std::regex var(R"(\$var (wire|string|real) (\d+) (\S+) (\w+) \$end)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (line == "$timescale 1ps $end") sawTimescale = true;
    if (line.rfind("$scope module ", 0) == 0) scopes.push_back(line.substr(14, line.size() - 19));
    if (line == "$upscope $end") scopes.pop_back();
    if (std::regex_match(line, m, var)) {
      names[m[3]] = scopes.back() + "." + m[4].str();
      if (m[4] == "n") {
        EXPECT_EQ(m[2], "32");
      } else if (m[4] == "flag" || m[4] == "running") {
        EXPECT_EQ(m[2], "1");
      }
    }
    if (line == "$enddefinitions $end") inDump = true;
    // The opening values (unknown, nothing running, the initial states) have
    // no trace line.
    if (line == "$dumpvars") inOpening = true;
    if (line == "$end") inOpening = false;
    if (!inDump || inOpening || line.empty() || line[0] == '$') continue;
    if (line[0] == '#') {
      const uint64_t next = std::stoull(line.substr(1));
      EXPECT_GE(next, t);
      t = next;
      continue;
    }
    std::string value, id;
    if (line[0] == 'b' || line[0] == 's' || line[0] == 'r') {
      const size_t blank = line.find(' ');
      value = line.substr(1, blank - 1);
      id = line.substr(blank + 1);
    } else {
      value = line.substr(0, 1);
      id = line.substr(1);
    }
    ASSERT_EQ(names.count(id), 1u) << line;
    changes.push_back({t, names[id] + "=" + value});
  }
  EXPECT_TRUE(sawTimescale);
  EXPECT_EQ(names.size(), 6u);  // n, flag, and running and state of p and r

  // Against the trace: each activation raises and drops `running`, each
  // assignment that changes a value is a change at its time, each state too.
  std::vector<TraceLine> expected;
  std::map<std::string, std::string> last;
  for (const TraceLine& l : readTrace(r.out)) {
    if (l.what.rfind("start ", 0) == 0) {
      expected.push_back({l.t, l.what.substr(6) + ".running=1"});
    } else if (l.what.rfind("end ", 0) == 0) {
      expected.push_back({l.t, l.what.substr(4) + ".running=0"});
    } else if (l.what.rfind("state ", 0) == 0) {
      const size_t blank = l.what.find(' ', 6);
      const std::string who = l.what.substr(6, blank - 6);
      const std::string value = l.what.substr(blank + 1);
      if (last[who] != value) expected.push_back({l.t, who + ".state=" + value});
      last[who] = value;
    } else {
      const size_t eq = l.what.find('=');
      const std::string name = l.what.substr(0, eq);
      std::string value = l.what.substr(eq + 1);
      if (value == "true") value = "1";
      if (value == "false") value = "0";
      if (name == "n") value = binary(std::stoull(value));
      if (last[name] != value) expected.push_back({l.t, "seen." + name + "=" + value});
      last[name] = value;
    }
  }
  EXPECT_GT(expected.size(), 20u);
  ASSERT_EQ(changes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(changes[i].t, expected[i].t) << expected[i].what;
    EXPECT_EQ(changes[i].what, expected[i].what);
  }
}

namespace {

// Checks that `svg` is well-formed XML (one root, every element closed in
// order, attribute values quoted) and counts the elements named `rect` by
// their class.
bool wellFormed(const std::string& svg, std::map<std::string, int>* rects) {
  static const std::regex tag(R"re(<(/?)([A-Za-z?][\w:-]*)((\s+[\w:-]+="[^"<]*")*)\s*(/?|\?)>)re");
  std::vector<std::string> open;
  size_t pos = 0;
  int roots = 0;
  while ((pos = svg.find('<', pos)) != std::string::npos) {
    std::smatch m;
    const std::string rest = svg.substr(pos, svg.find('>', pos) + 1 - pos);
    if (!std::regex_match(rest, m, tag)) return false;
    const std::string name = m[2];
    if (name == "?xml") {
      pos += rest.size();
      continue;
    }
    if (m[1] == "/") {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
    } else {
      if (open.empty()) ++roots;
      if (name == "rect") {
        std::smatch cls;
        const std::string attributes = m[3];
        if (std::regex_search(attributes, cls, std::regex(R"re(class="(\w+)")re"))) {
          ++(*rects)[cls[1]];
        }
      }
      if (m[5] != "/") open.push_back(name);
    }
    pos += rest.size();
  }
  return open.empty() && roots == 1;
}

}  // namespace

TEST(Observe, GanttPictureHasOneBarPerActivation) {
  // FIFO on the hand-derived task set (report_fifo.kova): 5 activations, 2
  // of them late by 3 ms and 1 by 6 ms (shaded), 3 deadline misses (red).
  const std::string path = tempPath("run.svg");
  ASSERT_EQ(runKovaCommand("-q -t 19 --gantt " + path + " " + program("report_fifo.kova")).status,
            0);
  const std::string svg = readFile(path);
  std::map<std::string, int> rects;
  ASSERT_TRUE(wellFormed(svg, &rects)) << svg;
  EXPECT_EQ(rects["run"], 2);
  EXPECT_EQ(rects["miss"], 3);
  EXPECT_EQ(rects["late"], 3);
  EXPECT_NE(svg.find(">10ms</text>"), std::string::npos);  // the time axis, in units
  EXPECT_NE(svg.find("released 1ms, started 7ms, finished 9ms, deadline missed"),
            std::string::npos);
}
