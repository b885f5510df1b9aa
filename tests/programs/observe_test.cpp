// Golden runs of what a run can be seen through: the report against a task
// set worked out by hand, the deadline-miss lines, and the timeline, the
// value-change dump and the Gantt picture checked against the trace of the
// same run.
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

constexpr uint64_t kMs = 1000000000;

// Three periodic instances that each keep the processor for `cost`:
//   a: period 10 ms, cost 4 ms, deadline 5 ms, priority 1
//   b: period 10 ms, cost 3 ms, deadline 10 ms, priority 2
//   c: period 20 ms, offset 1 ms, cost 2 ms, deadline 4 ms, priority 3
ProgramBuilder taskSet(const char* policy) {
  ProgramBuilder b({.modelName = "tasks"});
  const uint32_t worker = b.process(
      "Worker", {.params = {{Dir::In, TypeTime64, "cost"}},
                 .states = {{"run", b.block({b.assign(b.instanceField(b.local(1), "execution_time"),
                                                      b.local(0))})}}});
  const auto task = [&](const char* name, uint64_t period, uint64_t offset, uint64_t cost,
                        uint64_t deadline, uint8_t priority) {
    b.instance(name, worker,
               {.period = b.ms(period),
                .offset = b.ms(offset),
                .args = {b.ms(cost)},
                .priority = priority,
                .deadline = b.ms(deadline)});
  };
  task("a", 10, 0, 4, 5, 1);
  task("b", 10, 0, 3, 10, 2);
  task("c", 20, 1, 2, 4, 3);
  b.schedulingPolicy(policy);
  return b;
}

struct Figures {
  const char* name;
  uint64_t activations, misses;
  uint64_t exec[3];      // best, mean, worst (ms)
  uint64_t response[4];  // min, mean, p99, max (ms)
  uint64_t late[3];      // min, mean, max (ms)
  uint64_t jitter;       // ms
};

}  // namespace

TEST(Observe, ReportAndDeadlineMissesOfAHandDerivedTaskSet) {
  // Worked out by hand over 19 ms (releases a, b at 0 and 10; c at 1):
  // FIFO serves the earliest release, ties to the higher priority:
  //   b 0-3, a 3-7 (misses 5), c 7-9 (misses 5), b 10-13, a 13-17 (misses 15).
  // NPEDF serves the earliest absolute deadline:
  //   a 0-4, c 4-6 (misses 5), b 6-9, a 10-14, b 14-17.
  struct Case {
    const char* policy;
    std::string misses;
    std::vector<Figures> figures;
  };
  const Case cases[] = {
      {"FIFO",
       "[0.007000000000:DEADLINE_MISS] 'a' released at 0.000000000000, finished at "
       "0.007000000000, deadline 0.005000000000\n"
       "[0.009000000000:DEADLINE_MISS] 'c' released at 0.001000000000, finished at "
       "0.009000000000, deadline 0.005000000000\n"
       "[0.017000000000:DEADLINE_MISS] 'a' released at 0.010000000000, finished at "
       "0.017000000000, deadline 0.015000000000\n",
       {{"a", 2, 2, {4, 4, 4}, {7, 7, 7, 7}, {3, 3, 3}, 0},
        {"b", 2, 0, {3, 3, 3}, {3, 3, 3, 3}, {0, 0, 0}, 0},
        {"c", 1, 1, {2, 2, 2}, {8, 8, 8, 8}, {6, 6, 6}, 0}}},
      {"NPEDF",
       "[0.006000000000:DEADLINE_MISS] 'c' released at 0.001000000000, finished at "
       "0.006000000000, deadline 0.005000000000\n",
       {{"a", 2, 0, {4, 4, 4}, {4, 4, 4, 4}, {0, 0, 0}, 0},
        {"b", 2, 0, {3, 3, 3}, {7, 8, 9, 9}, {4, 5, 6}, 2},
        {"c", 1, 1, {2, 2, 2}, {5, 5, 5, 5}, {3, 3, 3}, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.policy);
    ProgramBuilder b = taskSet(c.policy);
    const std::string report = tempPath("report.json");
    const RunResult r = runKova(b, "-q -t 19 --deadlines --report=json --report-file " + report);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "setup \nQuiet mode enabled\n" + c.misses + "EXIT (SUCCESS) AT 19ms (19000000000)\n");
    const std::optional<Json> json = parseJson(readFile(report));
    ASSERT_TRUE(json.has_value());
    EXPECT_EQ((*json)["total_time_ps"].u64(), 19 * kMs);
    // 16 ms of work in 19 ms.
    EXPECT_NEAR((*json)["utilisation"].number, 16.0 / 19.0, 1e-6);
    const Json& instances = (*json)["instances"];
    ASSERT_EQ(instances.items.size(), c.figures.size());
    for (size_t i = 0; i < c.figures.size(); ++i) {
      const Figures& f = c.figures[i];
      const Json& got = instances[i];
      SCOPED_TRACE(f.name);
      EXPECT_EQ(got["name"].text, f.name);
      EXPECT_EQ(got["activations"].u64(), f.activations);
      EXPECT_EQ(got["deadline_misses"].u64(), f.misses);
      const char* execKeys[] = {"best", "mean", "worst"};
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(got["execution_ps"][execKeys[k]].u64(), f.exec[k] * kMs);
      const char* responseKeys[] = {"min", "mean", "p99", "max"};
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(got["response_ps"][responseKeys[k]].u64(), f.response[k] * kMs)
            << responseKeys[k];
      }
      const char* lateKeys[] = {"min", "mean", "max"};
      for (int k = 0; k < 3; ++k) EXPECT_EQ(got["lateness_ps"][lateKeys[k]].u64(), f.late[k] * kMs);
      EXPECT_EQ(got["jitter_ps"].u64(), f.jitter * kMs);
    }
  }
}

TEST(Observe, TextAndCsvReportsCarryTheSameFigures) {
  ProgramBuilder b = taskSet("NPEDF");
  const RunResult text = runKova(b, "-q -t 19 --report");
  EXPECT_NE(text.out.find("EXIT (SUCCESS) AT 19ms (19000000000)\n"
                          "@kova:report {\n"
                          "  simulated time = 19ms; utilisation = 84.21%;\n"
                          "  a: activations = 2; deadline misses = 0;\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(
      text.out.find("  b: activations = 2; deadline misses = 0;\n"
                    "    execution best = 3ms, mean = 3ms, worst = 3ms;\n"
                    "    response min = 7ms, mean = 8ms, p99 = 9ms, max = 9ms;\n"
                    "    start lateness min = 4ms, mean = 5ms, max = 6ms; start jitter = 2ms;\n"),
      std::string::npos)
      << text.out;
  const std::string csvPath = tempPath("report.csv");
  ProgramBuilder again = taskSet("NPEDF");
  runKova(again, "-q -t 19 --report=csv --report-file " + csvPath);
  const std::string csv = readFile(csvPath);
  EXPECT_NE(csv.find("\nc,1,1,2000000000,2000000000,2000000000,5000000000,5000000000,5000000000,"
                     "5000000000,3000000000,3000000000,3000000000,0,0.105263,19000000000\n"),
            std::string::npos)
      << csv;
}

namespace {

// P counts in `n` every 10 ms and keeps the processor 3 ms, 1 ms of it in its
// sub-process Q; R flips `flag` every 15 ms.
ProgramBuilder tracedProgram() {
  ProgramBuilder b({.modelName = "seen"});
  const uint32_t n = b.global("n", TypeUInt32);
  const uint32_t flag = b.global("flag", TypeBoolean);
  const uint32_t q = b.process(
      "Q",
      {.states = {
           {"q", b.block({b.assign(b.instanceField(b.local(0), "execution_time"), b.ms(1))})}}});
  const uint32_t p = b.process(
      "P",
      {.subs = {{"sub", q}},
       .states = {{"counting",
                   b.block({b.assign(b.gvar(n), b.op(PLUS_OP, TypeUInt32, b.gvar(n), b.integer(1))),
                            b.callSub(0),
                            b.assign(b.instanceField(b.local(0), "execution_time"), b.ms(2))}),
                   {on(b.op(CGE_OP, TypeUInt32, b.gvar(n), b.integer(3)), "done")}},
                  {"done", none}}});
  const uint32_t r = b.process(
      "R", {.states = {{"r", b.block({b.assign(b.gvar(flag), b.logic(NOT_OP, b.gvar(flag)))})}}});
  b.instance("p", p, {.period = b.ms(10)});
  b.instance("r", r, {.period = b.ms(15), .offset = b.ms(5)});
  return b;
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
  ProgramBuilder b = tracedProgram();
  const std::string path = tempPath("run.json");
  const RunResult r = runKova(b, "-t 40 --timeline " + path);
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
  ProgramBuilder b = tracedProgram();
  const std::string path = tempPath("run.vcd");
  const RunResult r = runKova(b, "-t 40 --vcd " + path);
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
  // FIFO on the hand-derived task set: 5 activations, 2 of them late by
  // 3 ms and 1 by 6 ms (shaded), 3 deadline misses (red).
  ProgramBuilder b = taskSet("FIFO");
  const std::string path = tempPath("run.svg");
  ASSERT_EQ(runKova(b, "-q -t 19 --gantt " + path).status, 0);
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
