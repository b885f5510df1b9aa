#include "zebu_interpreter/timeline.h"

#include <cinttypes>
#include <cmath>

namespace {

constexpr uint64_t kPsPerUs = 1000000;

// Microseconds with every picosecond kept.
std::string us(uint64_t ps) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64, ps / kPsPerUs, ps % kPsPerUs);
  return text;
}

std::string number(uint64_t v) {
  return std::to_string(v);
}

// Thread ids start at 1: some viewers hide thread 0.
std::string track(uint32_t instance) {
  return "\"pid\":1,\"tid\":" + std::to_string(instance + 1);
}

}  // namespace

std::string json_quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

TimelineWriter::TimelineWriter(FILE* file) : file_(file) {}

TimelineWriter::~TimelineWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void TimelineWriter::event(const std::string& body) {
  std::fputs(first_ ? "\n" : ",\n", file_);
  first_ = false;
  std::fputs(body.c_str(), file_);
}

void TimelineWriter::begin(const RunLayout& layout) {
  layout_ = layout;
  std::fputs("{\"displayTimeUnit\":\"ns\",\"traceEvents\":[", file_);
  event("{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":1,\"args\":{\"name\":" +
        json_quote(layout.model) + "}}");
  for (uint32_t i = 0; i < layout.instances.size(); ++i) {
    event("{\"name\":\"thread_name\",\"ph\":\"M\"," + track(i) +
          ",\"args\":{\"name\":" + json_quote(layout.instances[i]) + "}}");
    event("{\"name\":\"thread_sort_index\",\"ph\":\"M\"," + track(i) +
          ",\"args\":{\"sort_index\":" + std::to_string(i) + "}}");
  }
}

void TimelineWriter::variable(uint32_t var, uint64_t t, const ScalarValue& value) {
  const RunVariable& v = layout_.variables[var];
  std::string text;
  switch (v.kind) {
    case ScalarKind::kSigned: {
      // Sign-extend from the variable's width.
      const uint32_t shift = 64 - v.bits;
      text = std::to_string(static_cast<int64_t>(value.bits << shift) >> shift);
      break;
    }
    case ScalarKind::kFloat: {
      // JSON has no NaN or infinity: such a value leaves the counter as it was.
      if (!std::isfinite(value.real)) return;
      char real[40];
      std::snprintf(real, sizeof real, "%.17g", value.real);
      text = real;
      break;
    }
    default: text = number(value.bits); break;
  }
  event("{\"name\":" + json_quote(v.name) + ",\"cat\":\"variable\",\"ph\":\"C\",\"pid\":1,\"ts\":" +
        us(t) + ",\"args\":{\"value\":" + text + "}}");
}

void TimelineWriter::activationEnd(uint32_t instance, const RunActivation& a) {
  std::string args = "\"release_ps\":" + number(a.release) + ",\"start_ps\":" + number(a.start) +
                     ",\"finish_ps\":" + number(a.finish);
  if (a.deadline != kNoDeadline) {
    args += ",\"deadline_ps\":" + std::to_string(static_cast<int64_t>(a.release) + a.deadline);
  }
  args += std::string(",\"deadline_missed\":") + (a.missed ? "true" : "false");
  const std::string& name = layout_.instances[instance];
  event("{\"name\":" + json_quote(name) + ",\"cat\":\"activation\",\"ph\":\"X\"," +
        track(instance) + ",\"ts\":" + us(a.start) + ",\"dur\":" + us(a.finish - a.start) +
        (a.missed ? ",\"cname\":\"terrible\"" : "") + ",\"args\":{" + args + "}}");
  if (a.missed) {
    event("{\"name\":\"deadline miss\",\"cat\":\"deadline\",\"ph\":\"i\",\"s\":\"t\"," +
          track(instance) + ",\"ts\":" + us(a.finish) + ",\"args\":{" + args + "}}");
  }
}

void TimelineWriter::subActivation(uint32_t instance, const std::string& name, uint64_t start,
                                   uint64_t finish) {
  event("{\"name\":" + json_quote(name) + ",\"cat\":\"sub-process\",\"ph\":\"X\"," +
        track(instance) + ",\"ts\":" + us(start) + ",\"dur\":" + us(finish - start) +
        ",\"args\":{\"start_ps\":" + number(start) + ",\"finish_ps\":" + number(finish) + "}}");
}

void TimelineWriter::state(uint32_t instance, const std::string& sub, const std::string& state,
                           uint64_t t) {
  const std::string& who = sub.empty() ? layout_.instances[instance] : sub;
  event("{\"name\":" + json_quote(who + ": " + state) +
        ",\"cat\":\"state\",\"ph\":\"i\",\"s\":\"t\"," + track(instance) + ",\"ts\":" + us(t) +
        ",\"args\":{\"instance\":" + json_quote(who) + ",\"state\":" + json_quote(state) +
        ",\"time_ps\":" + number(t) + "}}");
}

void TimelineWriter::end(uint64_t) {
  if (file_ == nullptr) return;
  std::fputs("\n]}\n", file_);
  std::fclose(file_);
  file_ = nullptr;
}
