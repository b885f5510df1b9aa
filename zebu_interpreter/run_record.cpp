#include "zebu_interpreter/run_record.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "zebu_interpreter/callbacks.h"
#include "zebu_interpreter/display.h"
#include "zebu_interpreter/gantt.h"
#include "zebu_interpreter/timeline.h"
#include "zebu_interpreter/vcd.h"

namespace {

constexpr uint32_t kNotScalar = NO_ID;

struct File {
  std::string path;
  FILE* file = nullptr;
};

struct Recorder {
  RunRecordOptions options;
  RunLayout layout;
  std::vector<std::unique_ptr<RunSink>> sinks;
  std::vector<RunInstance> instances;
  bool keepActivations = false;
  File gantt, report;

  bool quiet = true;
  uint64_t origin = 0;
  uint64_t last = 0;  // the latest time reported; times never go back

  std::vector<uint32_t> scalarOfGlobal;  // global id -> variable index, or kNotScalar
  std::vector<uint32_t> globalOfScalar;
  std::vector<ScalarValue> values;
  std::vector<bool> known;              // a value has been reported
  std::vector<uint32_t> topOfInstance;  // instance id -> top-level index, NO_ID for sub-processes
  std::vector<uint64_t> starts;         // per top-level instance
  int64_t running = -1;                 // the top-level instance running, or -1
  std::vector<std::pair<uint32_t, uint64_t>> subStarts;  // open sub-process activations
};

std::unique_ptr<Recorder> recorder;

uint64_t now(InterpEnv* env) {
  Recorder& r = *recorder;
  const uint64_t local = env->ctx->get_local_time_callback(env);
  const uint64_t t = local > r.origin ? local - r.origin : 0;
  if (t > r.last) r.last = t;
  return r.last;
}

const char* instanceName(const Program* program, uint32_t instanceId) {
  return Symbol_getName(program, program->dbg->processInstanceSymbolId[instanceId]);
}

// How a global variable of type `typeId` is recorded, if it is a scalar.
bool scalarKind(const Program* program, uint32_t typeId, RunVariable* v) {
  if (typeId >= program->infoProg->n_type) return false;
  const TypeRecord& type = program->typeTable[typeId];
  if (type.bufferType != NONE_BUFFER) return false;
  switch (type.baseType) {
    case TypeBoolean: *v = {{}, ScalarKind::kBool, 1}; return true;
    case TypeUInt8: *v = {{}, ScalarKind::kUnsigned, 8}; return true;
    case TypeUInt16: *v = {{}, ScalarKind::kUnsigned, 16}; return true;
    case TypeUInt32: *v = {{}, ScalarKind::kUnsigned, 32}; return true;
    case TypeInt:
    case TypeUInt64: *v = {{}, ScalarKind::kUnsigned, 64}; return true;
    case TypeSInt8: *v = {{}, ScalarKind::kSigned, 8}; return true;
    case TypeSInt16: *v = {{}, ScalarKind::kSigned, 16}; return true;
    case TypeSInt32: *v = {{}, ScalarKind::kSigned, 32}; return true;
    case TypeSInt:
    case TypeSInt64:
    case TypeDuration64: *v = {{}, ScalarKind::kSigned, 64}; return true;
    case TypeTime64: *v = {{}, ScalarKind::kTime, 64}; return true;
    case TypeF32: *v = {{}, ScalarKind::kFloat, 32}; return true;
    case TypeF64: *v = {{}, ScalarKind::kFloat, 64}; return true;
    default: return false;
  }
}

ScalarValue read(const RunVariable& v, const ValueCell& c) {
  ScalarValue s;
  switch (v.kind) {
    case ScalarKind::kBool: s.bits = c.boolean == 1 ? 1 : 0; break;
    case ScalarKind::kFloat: s.real = v.bits == 32 ? static_cast<double>(c.f32) : c.f64; break;
    default: s.bits = v.bits == 64 ? c.u64 : c.u64 & ((uint64_t{1} << v.bits) - 1); break;
  }
  return s;
}

bool same(const ScalarValue& a, const ScalarValue& b, ScalarKind kind) {
  if (kind != ScalarKind::kFloat) return a.bits == b.bits;
  return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
}

// Reports variable k if its value is new.
void sample(InterpEnv* env, uint32_t k, uint64_t t) {
  Recorder& r = *recorder;
  const RunVariable& v = r.layout.variables[k];
  const ScalarValue value = read(v, *env->program->globalVariableTable[r.globalOfScalar[k]].value);
  if (r.known[k] && same(value, r.values[k], v.kind)) return;
  r.known[k] = true;
  r.values[k] = value;
  for (auto& sink : r.sinks) sink->variable(k, t, value);
}

void sampleAll(InterpEnv* env, uint64_t t) {
  for (uint32_t k = 0; k < recorder->layout.variables.size(); ++k) sample(env, k, t);
}

// "[stamp:DEADLINE_MISS] 'name' released at .., finished at .., deadline .."
void traceMiss(InterpEnv* env, uint32_t instance, uint64_t release, uint64_t finish,
               int64_t deadline) {
  display_simu("[");
  display_stamp(env->ctx->get_absolute_time_callback(env));
  display_simu(":DEADLINE_MISS] '%s' released at ", recorder->layout.instances[instance].c_str());
  display_stamp(release);
  display_simu(", finished at ");
  display_stamp(finish);
  display_simu(", deadline ");
  display_stamp(release + static_cast<uint64_t>(deadline));
  display_simu("\n");
}

void observeActivation(InterpEnv* env, uint32_t i, uint32_t event, uint64_t release) {
  if (recorder == nullptr) return;
  Recorder& r = *recorder;
  const uint64_t t = now(env);
  if (event == START) {
    r.running = i;
    r.starts[i] = t;
    sampleAll(env, t);
    for (auto& sink : r.sinks) sink->activationStart(i, t);
    return;
  }
  sampleAll(env, t);
  r.running = -1;
  const TaggedValue instance = buffer_getIndexValue(env, env->ctx->processesValue, i);
  const int64_t deadline =
      interp_knownField(env, instance, kField_Process_Instance_deadline).value->s64;
  const uint64_t localRelease = release;
  const uint64_t rel = release > r.origin ? release - r.origin : 0;
  RunActivation a{std::min(rel, r.starts[i]), r.starts[i], t, deadline, false};
  const uint64_t response = a.finish - a.release;
  a.missed = deadline < 0 || (response > static_cast<uint64_t>(deadline));
  if (a.missed && r.options.deadlines) {
    traceMiss(env, i, localRelease, env->ctx->get_local_time_callback(env), deadline);
  }
  for (auto& sink : r.sinks) sink->activationEnd(i, a);
  if (r.keepActivations) r.instances[i].activations.push_back(a);
}

uint32_t recordVarChange(InterpEnv* env, uint32_t globalId, uint32_t kind, TaggedValue value) {
  if (recorder == nullptr) return 0;  // finished: the interpreter assigns
  Recorder& r = *recorder;
  if (!r.quiet) callback_var_change(env, globalId, kind, value);
  value_set(env, env->program->globalVariableTable[globalId], value.value, value.typeId);
  sample(env, r.scalarOfGlobal[globalId], now(env));
  return 1;  // assigned here
}

void recordStateChanged(InterpEnv* env, TaggedValue instance, uint32_t kind, uint32_t value) {
  if (recorder == nullptr) return;
  Recorder& r = *recorder;
  const uint32_t id =
      interp_knownField(env, instance, kField_Process_Instance_instance_id).value->u32;
  const uint32_t top = r.topOfInstance[id];
  // The trace shows the top-level instances' states only.
  if (!r.quiet && top != NO_ID) callback_state_changed(env, instance, kind, value);
  if (kind != kFsmEnteredState) return;
  const uint32_t owner = top != NO_ID ? top : static_cast<uint32_t>(r.running);
  if (top == NO_ID && r.running < 0) return;
  const Program* program = env->program.get();
  const std::string who = top != NO_ID ? std::string() : instanceName(program, id);
  const std::string state = Symbol_getName(program, value);
  const uint64_t t = now(env);
  for (auto& sink : r.sinks) sink->state(owner, who, state, t);
}

void recordSubActivation(InterpEnv* env, TaggedValue instance, uint32_t event) {
  if (recorder == nullptr) return;
  Recorder& r = *recorder;
  const uint32_t id =
      interp_knownField(env, instance, kField_Process_Instance_instance_id).value->u32;
  const uint64_t t = now(env);
  if (event == START) {
    r.subStarts.emplace_back(id, t);
    return;
  }
  if (r.subStarts.empty()) return;
  const auto [sub, start] = r.subStarts.back();
  r.subStarts.pop_back();
  if (r.running < 0) return;
  for (auto& sink : r.sinks) {
    sink->subActivation(static_cast<uint32_t>(r.running), instanceName(env->program.get(), sub),
                        start, t);
  }
}

bool openFile(File& f, const std::string& path, const char* programName) {
  f.path = path;
  f.file = std::fopen(path.c_str(), "w");
  if (f.file != nullptr) return true;
  display_program("%s: cannot write \"%s\": %s\n", programName, path.c_str(), std::strerror(errno));
  return false;
}

void finishAtExit() {
  run_record_finish(nullptr);
}

}  // namespace

bool run_record_start(InterpEnv* env, const RunRecordOptions& options, bool quiet,
                      const char* programName) {
  if (!options.any()) return true;
  auto r = std::make_unique<Recorder>();
  r->options = options;
  r->quiet = quiet;
  r->keepActivations = !options.gantt.empty() || options.report;
  const Program* program = env->program.get();
  const InfoProg& info = *program->infoProg;

  File timeline, vcd;
  if ((!options.timeline.empty() && !openFile(timeline, options.timeline, programName)) ||
      (!options.vcd.empty() && !openFile(vcd, options.vcd, programName)) ||
      (!options.gantt.empty() && !openFile(r->gantt, options.gantt, programName)) ||
      (!options.reportFile.empty() && !openFile(r->report, options.reportFile, programName))) {
    for (FILE* f : {timeline.file, vcd.file, r->gantt.file, r->report.file}) {
      if (f != nullptr) std::fclose(f);
    }
    return false;
  }
  if (timeline.file != nullptr) r->sinks.push_back(std::make_unique<TimelineWriter>(timeline.file));
  if (vcd.file != nullptr) r->sinks.push_back(std::make_unique<VcdWriter>(vcd.file));

  r->layout.model = std::string(info.modelName, strnlen(info.modelName, sizeof info.modelName));
  r->layout.realTime = interp_get_realtime(env);
  r->topOfInstance.assign(info.n_processInstances, NO_ID);
  // Not cached in the context before the initialisation.
  const TaggedValue processes =
      interp_knownField(env, system_getValue(env), kField_System_processes);
  for (uint32_t i = 0; i < info.n_globalProcessInstances; ++i) {
    const uint32_t id = program->processGlobalInstanceTable[i].instanceIndex;
    r->topOfInstance[id] = i;
    r->layout.instances.emplace_back(instanceName(program, id));
    const TaggedValue instance = buffer_getIndexValue(env, processes, i);
    const uint32_t state =
        interp_knownField(env, instance, kField_Process_Instance_process_state).value->u32;
    r->layout.initialStates.emplace_back(Symbol_getName(program, state));
    r->instances.push_back({r->layout.instances.back(), {}});
  }
  r->starts.assign(info.n_globalProcessInstances, 0);
  r->scalarOfGlobal.assign(info.n_globalVariables, kNotScalar);
  for (uint32_t g = 0; g < info.n_globalVariables; ++g) {
    RunVariable v;
    if (!scalarKind(program, program->globalVariableTable[g].typeId, &v)) continue;
    v.name = GlobalVariable_getName(program, g);
    r->scalarOfGlobal[g] = static_cast<uint32_t>(r->layout.variables.size());
    r->globalOfScalar.push_back(g);
    r->layout.variables.push_back(v);
  }
  r->values.assign(r->layout.variables.size(), {});
  r->known.assign(r->layout.variables.size(), false);
  r->origin = env->ctx->get_local_time_callback(env);
  for (auto& sink : r->sinks) sink->begin(r->layout);
  recorder = std::move(r);

  env_on_activation_observer(env, observeActivation);
  for (uint32_t id = 0; id < info.n_processInstances; ++id) {
    if (recorder->topOfInstance[id] == NO_ID) env_on_task_activation(env, id, recordSubActivation);
  }
  run_record_setTrace(env, quiet);
  std::atexit(finishAtExit);
  return true;
}

bool run_record_active() {
  return recorder != nullptr;
}

void run_record_setTrace(InterpEnv* env, bool quiet) {
  if (recorder == nullptr) return;
  recorder->quiet = quiet;
  for (uint32_t g = 0; g < recorder->scalarOfGlobal.size(); ++g) {
    if (recorder->scalarOfGlobal[g] != kNotScalar) env_on_variable_change(env, g, recordVarChange);
  }
  for (uint32_t id = 0; id < recorder->topOfInstance.size(); ++id) {
    env_on_state_changed(env, id, recordStateChanged);
  }
}

void run_record_finish(InterpEnv* env) {
  if (recorder == nullptr) return;
  const std::unique_ptr<Recorder> r = std::move(recorder);
  uint64_t end = r->last;
  if (env != nullptr) {
    const uint64_t local = env->ctx->get_local_time_callback(env);
    if (local > r->origin && local - r->origin > end) end = local - r->origin;
    env_on_activation_observer(env, nullptr);
  }
  for (auto& sink : r->sinks) sink->end(end);
  r->sinks.clear();
  if (r->gantt.file != nullptr) {
    std::fputs(gantt_svg(r->layout, r->instances, end).c_str(), r->gantt.file);
    std::fclose(r->gantt.file);
  }
  if (r->options.report) {
    const std::string text =
        report_format(report_compute(r->layout, r->instances, end), r->options.reportFormat);
    if (r->report.file != nullptr) {
      std::fputs(text.c_str(), r->report.file);
      std::fclose(r->report.file);
    } else {
      display_program("%s", text.c_str());
    }
  }
  std::fflush(stdout);
}
