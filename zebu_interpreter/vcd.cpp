#include "zebu_interpreter/vcd.h"

#include <cctype>
#include <cinttypes>

namespace {

// Scope and signal names are single words.
std::string word(const std::string& name) {
  std::string out;
  for (const char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out.empty() ? "_" : out;
}

std::string binary(uint64_t v, uint32_t bits) {
  if (bits < 64) v &= (uint64_t{1} << bits) - 1;
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>('0' + (v & 1)));
    v >>= 1;
  } while (v != 0);
  return out;
}

}  // namespace

std::string vcd_identifier(uint32_t n) {
  constexpr uint32_t kFirst = '!';
  constexpr uint32_t kCount = '~' - '!' + 1;
  std::string id;
  do {
    id += static_cast<char>(kFirst + n % kCount);
    n /= kCount;
  } while (n != 0);
  return id;
}

VcdWriter::VcdWriter(FILE* file) : file_(file) {}

VcdWriter::~VcdWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void VcdWriter::begin(const RunLayout& layout) {
  layout_ = layout;
  uint32_t next = 0;
  std::fprintf(file_, "$comment kova run of %s, %s time $end\n", layout.model.c_str(),
               layout.realTime ? "real" : "simulated");
  std::fputs("$timescale 1ps $end\n", file_);
  std::fprintf(file_, "$scope module %s $end\n", word(layout.model).c_str());
  for (const RunVariable& v : layout.variables) {
    variableIds_.push_back(vcd_identifier(next++));
    const char* type = v.kind == ScalarKind::kFloat ? "real" : "wire";
    std::fprintf(file_, "$var %s %u %s %s $end\n", type, v.bits, variableIds_.back().c_str(),
                 word(v.name).c_str());
  }
  for (const std::string& instance : layout.instances) {
    runningIds_.push_back(vcd_identifier(next++));
    stateIds_.push_back(vcd_identifier(next++));
    std::fprintf(file_, "$scope module %s $end\n", word(instance).c_str());
    std::fprintf(file_, "$var wire 1 %s running $end\n", runningIds_.back().c_str());
    std::fprintf(file_, "$var string 1 %s state $end\n", stateIds_.back().c_str());
    std::fputs("$upscope $end\n", file_);
  }
  std::fputs("$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n", file_);
  for (uint32_t v = 0; v < layout.variables.size(); ++v) {
    const RunVariable& var = layout.variables[v];
    const char* unknown = var.kind == ScalarKind::kFloat ? "r0 " : var.bits == 1 ? "x" : "bx ";
    std::fprintf(file_, "%s%s\n", unknown, variableIds_[v].c_str());
  }
  for (uint32_t i = 0; i < layout.instances.size(); ++i) {
    std::fprintf(file_, "0%s\n", runningIds_[i].c_str());
    std::fprintf(file_, "s%s %s\n", word(layout.initialStates[i]).c_str(), stateIds_[i].c_str());
  }
  std::fputs("$end\n", file_);
}

void VcdWriter::at(uint64_t t) {
  if (t <= now_) return;
  now_ = t;
  std::fprintf(file_, "#%" PRIu64 "\n", t);
}

void VcdWriter::variable(uint32_t var, uint64_t t, const ScalarValue& value) {
  at(t);
  const RunVariable& v = layout_.variables[var];
  const char* id = variableIds_[var].c_str();
  if (v.kind == ScalarKind::kFloat) {
    std::fprintf(file_, "r%.17g %s\n", value.real, id);
  } else if (v.bits == 1) {
    std::fprintf(file_, "%c%s\n", (value.bits & 1) != 0 ? '1' : '0', id);
  } else {
    std::fprintf(file_, "b%s %s\n", binary(value.bits, v.bits).c_str(), id);
  }
}

void VcdWriter::activationStart(uint32_t instance, uint64_t t) {
  at(t);
  std::fprintf(file_, "1%s\n", runningIds_[instance].c_str());
}

void VcdWriter::activationEnd(uint32_t instance, const RunActivation& a) {
  at(a.finish);
  std::fprintf(file_, "0%s\n", runningIds_[instance].c_str());
}

void VcdWriter::state(uint32_t instance, const std::string& who, const std::string& state,
                      uint64_t t) {
  // Sub-process instances have no signal of their own.
  if (!who.empty()) return;
  at(t);
  std::fprintf(file_, "s%s %s\n", word(state).c_str(), stateIds_[instance].c_str());
}

void VcdWriter::end(uint64_t t) {
  if (file_ == nullptr) return;
  at(t);
  std::fclose(file_);
  file_ = nullptr;
}
