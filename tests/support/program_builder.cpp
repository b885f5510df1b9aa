#include "tests/support/program_builder.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "ASTLib/call_codes.h"
#include "ASTLib/rENV.h"
#include "parserLib/write.h"

namespace kova_test {

Transition on(N condition, std::string target, N statement) {
  return {false, condition, none, std::move(target), statement};
}

Transition after(N delay, std::string target, N condition, N statement) {
  return {true, condition, delay, std::move(target), statement};
}

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::logic_error("ProgramBuilder: " + what);
}

}  // namespace

struct ProgramBuilder::Impl {
  struct TypeDesc {
    TypeRecord record;
    uint32_t symbol;
    std::vector<Field> fields;          // structures
    std::vector<std::string> literals;  // enumerations
  };
  struct GlobalDesc {
    uint32_t symbol;
    uint32_t type;
    std::vector<uint64_t> init;
  };
  struct ConstantDesc {
    uint32_t symbol;
    uint32_t type;
    uint32_t cell;
  };
  struct FunctionDesc {
    uint32_t symbol;
    FunctionRecord record;
  };
  struct ProcessDesc {
    uint32_t symbol;
    ProcessDefinitionRecord record;
    std::vector<SubInstance> subs;
    std::vector<StaticVar> statics;
  };
  struct TopInstance {
    uint32_t symbol;
    uint32_t definition;
    uint32_t args;
    uint32_t trigger;
    uint32_t annotation;
  };

  BuilderOptions options;
  std::vector<AST_Node> nodes;
  std::vector<uint32_t> lines;
  std::vector<std::string> symbols;
  std::map<std::string, uint32_t, std::less<>> symbolIds;
  std::vector<std::string> strings;
  std::map<std::string, uint32_t, std::less<>> stringIds;
  std::vector<TypeDesc> types;
  uint32_t addType(TypeDesc desc) {
    types.push_back(std::move(desc));
    return static_cast<uint32_t>(types.size() - 1);
  }
  std::vector<uint64_t> constantData;
  std::vector<GlobalDesc> globals;
  std::vector<ConstantDesc> constants;
  std::vector<FunctionDesc> functions;
  std::vector<ProcessDesc> processes;
  std::vector<TopInstance> instances;
  std::vector<N> definitions;  // the global definitions list, in order
};

ProgramBuilder::ProgramBuilder(BuilderOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  node(ROOT, 0u);  // node 0

  for (uint32_t id = 0; id < kBuiltinTypeCount; ++id) {
    Impl::TypeDesc desc{};
    desc.symbol = symbol(kBuiltinTypeNames[id]);
    desc.record = {id, 0, id < TypePrimitive ? 1u : 0u, NONE_BUFFER, 0};
    if (id == TypeString) desc.record = {TypeUInt8, kUnsizedBuffer, 0, STRING_BUFFER, 0};
    impl_->types.push_back(desc);
  }
  // Named blocks and states are structures of three times.
  for (uint32_t id : {uint32_t{TypeNamedBlock}, uint32_t{TypeState}}) {
    std::vector<Field> fields{
        {"execution_time", TypeTime64}, {"wcet", TypeTime64}, {"bcet", TypeTime64}};
    std::vector<N> fieldNodes;
    for (const Field& f : fields)
      fieldNodes.push_back(node(FIELD_STATEMENT, f.type, node(SYM, symbol(f.name))));
    impl_->types[id].record = {TypeStructure, 0, 3, NONE_BUFFER, list(fieldNodes).id};
    impl_->types[id].fields = fields;
  }

  const uint32_t policy = enumType("Scheduling_Policy", {"FIFO", "NPFP", "NPEDF"});
  const uint32_t activations =
      queueType(TypeSInt64, impl_->options.activationSlots, "Activation_Queue");
  processInstanceType_ = structType("Process_Instance", {{"execution_time", TypeTime64},
                                                         {"wcet", TypeTime64},
                                                         {"bcet", TypeTime64},
                                                         {"period", TypeTime64},
                                                         {"offset", TypeTime64},
                                                         {"priority", TypeUInt8},
                                                         {"jitter", TypeTime64},
                                                         {"deadline", TypeDuration64},
                                                         {"previous_activation", TypeTime64},
                                                         {"current_activation", TypeTime64},
                                                         {"pid", TypeUInt32},
                                                         {"continue", TypeBoolean},
                                                         {"process_state", TypeUInt32},
                                                         {"next_activations", activations},
                                                         {"state_ptr", TypeUInt32},
                                                         {"duration", TypeTime64},
                                                         {"initializing", TypeBoolean},
                                                         {"instance_id", TypeUInt32}});
  const uint32_t processes =
      queueType(processInstanceType_, impl_->options.maxInstances, "Process_Instances");
  systemType_ = structType("System", {{"sched_policy", policy},
                                      {"processes", processes},
                                      {"origin", TypeTime64},
                                      {"ppm", TypeSInt64}});
  global("system", systemType_);

  if (impl_->options.fileTypes) {
    const uint32_t access = enumType("File_Access", {"READ", "WRITE"});
    const uint32_t format = enumType("File_Format", {"CSV", "RAW"});
    const uint32_t name = arrayType(TypeUInt8, impl_->options.maxFileName, "File_Name");
    structType("Kova_File", {{"name", name}, {"access", access}, {"format", format}});
    constant("KOVA_MAX_FILE", TypeUInt32, {impl_->options.maxFiles});
    constant("KOVA_MAX_FILENAME", TypeUInt32, {impl_->options.maxFileName});
  }
  if (impl_->options.udpTypes) {
    const uint32_t direction = enumType("Hw_Direction", {"HW_INPUT", "HW_OUTPUT"});
    structType("UDP", {{"port", TypeUInt32}, {"direction", direction}});
    structType("UDP_Group", {{"address", TypeUInt32}});
  }
}

ProgramBuilder::ProgramBuilder(ProgramBuilder&&) noexcept = default;
ProgramBuilder& ProgramBuilder::operator=(ProgramBuilder&&) noexcept = default;
ProgramBuilder::~ProgramBuilder() = default;

// ---------------------------------------------------------------- names

uint32_t ProgramBuilder::symbol(std::string_view name) {
  if (auto it = impl_->symbolIds.find(name); it != impl_->symbolIds.end()) return it->second;
  const auto id = static_cast<uint32_t>(impl_->symbols.size());
  impl_->symbols.emplace_back(name);
  impl_->symbolIds.emplace(std::string(name), id);
  return id;
}

uint32_t ProgramBuilder::string(std::string_view text) {
  if (auto it = impl_->stringIds.find(text); it != impl_->stringIds.end()) return it->second;
  const auto id = static_cast<uint32_t>(impl_->strings.size());
  impl_->strings.emplace_back(text);
  impl_->stringIds.emplace(std::string(text), id);
  return id;
}

// ---------------------------------------------------------------- types

uint32_t ProgramBuilder::structType(std::string name, std::vector<Field> fields) {
  std::vector<N> fieldNodes;
  uint32_t storage = 0;
  for (const Field& f : fields) {
    fieldNodes.push_back(node(FIELD_STATEMENT, f.type, node(SYM, symbol(f.name))));
    storage += type(f.type).storageSize;
  }
  return impl_->addType({{TypeStructure, 0, storage, NONE_BUFFER, list(fieldNodes).id},
                         symbol(name),
                         std::move(fields),
                         {}});
}

uint32_t ProgramBuilder::enumType(std::string name, std::vector<std::string> literals) {
  std::vector<N> literalNodes;
  for (const std::string& l : literals) literalNodes.push_back(node(SYM, symbol(l)));
  return impl_->addType({{TypeEnum, 0, 1, NONE_BUFFER, list(literalNodes).id},
                         symbol(name),
                         {},
                         std::move(literals)});
}

// A buffer type, named after its element when no name is given.
uint32_t ProgramBuilder::bufferType(uint32_t kind, uint32_t element, uint32_t size,
                                    std::string name, uint32_t storage) {
  if (name.empty()) {
    const char* word = kind == ARRAY_BUFFER ? "array" : kind == QUEUE_BUFFER ? "queue" : "stack";
    name = std::string(word) + "<" + impl_->symbols[impl_->types[element].symbol] + ">[" +
           std::to_string(size) + "]";
  }
  return impl_->addType({{element, size, storage, kind, 0}, symbol(name), {}, {}});
}

uint32_t ProgramBuilder::arrayType(uint32_t element, uint32_t size, std::string name) {
  return bufferType(ARRAY_BUFFER, element, size, std::move(name), size * type(element).storageSize);
}

// A queue or a stack keeps one spare slot and two index cells.
uint32_t ProgramBuilder::queueType(uint32_t element, uint32_t capacity, std::string name) {
  return bufferType(QUEUE_BUFFER, element, capacity, std::move(name),
                    type(element).storageSize * (capacity + 1) + 2);
}

uint32_t ProgramBuilder::stackType(uint32_t element, uint32_t capacity, std::string name) {
  return bufferType(STACK_BUFFER, element, capacity, std::move(name),
                    type(element).storageSize * (capacity + 1) + 2);
}

uint32_t ProgramBuilder::iteratorType(uint32_t bufferType, std::string name) {
  if (name.empty()) name = "iterator<" + impl_->symbols[impl_->types[bufferType].symbol] + ">";
  // index, next index, buffer reference
  return impl_->addType({{bufferType, 0, 3, NONE_BUFFER, 0}, symbol(name), {}, {}});
}

uint32_t ProgramBuilder::typeId(std::string_view name) const {
  for (size_t i = 0; i < impl_->types.size(); ++i) {
    if (impl_->symbols[impl_->types[i].symbol] == name) return static_cast<uint32_t>(i);
  }
  return NO_ID;
}

const TypeRecord& ProgramBuilder::type(uint32_t id) const {
  if (id >= impl_->types.size()) fail("unknown type id " + std::to_string(id));
  return impl_->types[id].record;
}

uint32_t ProgramBuilder::enumValue(uint32_t enumTypeId, std::string_view literal) const {
  for (const std::string& l : impl_->types.at(enumTypeId).literals) {
    if (l == literal) return impl_->symbolIds.find(l)->second;
  }
  fail("no literal " + std::string(literal));
}

uint32_t ProgramBuilder::fieldOffset(uint32_t structTypeId, std::string_view field) const {
  uint32_t offset = 0;
  for (const Field& f : impl_->types.at(structTypeId).fields) {
    if (f.name == field) return offset;
    offset += type(f.type).storageSize;
  }
  fail("no field " + std::string(field));
}

uint32_t ProgramBuilder::fieldType(uint32_t structTypeId, std::string_view field) const {
  for (const Field& f : impl_->types.at(structTypeId).fields) {
    if (f.name == field) return f.type;
  }
  fail("no field " + std::string(field));
}

std::vector<uint64_t> ProgramBuilder::clearedCells(uint32_t typeId) const {
  const TypeRecord& t = type(typeId);
  std::vector<uint64_t> cells(t.storageSize, 0);
  if (t.bufferType == QUEUE_BUFFER || t.bufferType == STACK_BUFFER) {
    if (cells.size() >= 2) {
      cells[0] = 2;
      cells[1] = t.bufferType == QUEUE_BUFFER ? 2 : 1;
    }
  } else if (t.bufferType == NONE_BUFFER && t.baseType == TypeStructure) {
    size_t at = 0;
    for (const Field& f : impl_->types[typeId].fields) {
      const auto sub = clearedCells(f.type);
      std::copy(sub.begin(), sub.end(), cells.begin() + static_cast<long>(at));
      at += sub.size();
    }
  }
  return cells;
}

// ---------------------------------------------------------------- globals

uint32_t ProgramBuilder::global(std::string name, uint32_t typeId, std::vector<uint64_t> init) {
  const uint32_t storage = type(typeId).storageSize;
  if (init.empty()) init = clearedCells(typeId);
  if (init.size() > storage) fail("initial value of " + name + " is too large");
  init.resize(storage, 0);
  impl_->globals.push_back({symbol(name), typeId, std::move(init)});
  return static_cast<uint32_t>(impl_->globals.size() - 1);
}

uint32_t ProgramBuilder::constant(std::string name, uint32_t typeId, std::vector<uint64_t> cells) {
  cells.resize(std::max<size_t>(cells.size(), type(typeId).storageSize), 0);
  impl_->constants.push_back({symbol(name), typeId, constData(cells)});
  return static_cast<uint32_t>(impl_->constants.size() - 1);
}

uint32_t ProgramBuilder::constData(const std::vector<uint64_t>& cells) {
  const auto first = static_cast<uint32_t>(impl_->constantData.size());
  impl_->constantData.insert(impl_->constantData.end(), cells.begin(), cells.end());
  return first;
}

uint32_t ProgramBuilder::globalId(std::string_view name) const {
  for (size_t i = 0; i < impl_->globals.size(); ++i) {
    if (impl_->symbols[impl_->globals[i].symbol] == name) return static_cast<uint32_t>(i);
  }
  return NO_ID;
}

// ---------------------------------------------------------------- expressions

N ProgramBuilder::integer(int64_t v) {
  NodeValue value{};
  value.s64 = v;
  return node(INTEGER_OP, value);
}

N ProgramBuilder::boolean(bool v) {
  NodeValue value{};
  value.boolean = v ? 1 : 0;
  return node(BOOLEAN_OP, value);
}

N ProgramBuilder::f32(float v) {
  NodeValue value{};
  value.f32 = v;
  return node(FLOAT32_OP, value);
}

N ProgramBuilder::f64(double v) {
  NodeValue value{};
  value.f64 = v;
  return node(FLOAT64_OP, value);
}

N ProgramBuilder::str(std::string_view text) {
  // A string literal: in and out index cells, then one character per cell.
  std::vector<uint64_t> cells{2 + text.size(), 2};
  for (unsigned char c : text) cells.push_back(c);
  return node(STRING_OP, constData(cells));
}

namespace {
NodeValue u64Value(uint64_t v) {
  NodeValue value{};
  value.u64 = v;
  return value;
}
}  // namespace

N ProgramBuilder::s(uint64_t v) {
  return node(S_OP, u64Value(v));
}
N ProgramBuilder::ms(uint64_t v) {
  return node(MS_OP, u64Value(v));
}
N ProgramBuilder::us(uint64_t v) {
  return node(US_OP, u64Value(v));
}
N ProgramBuilder::ns(uint64_t v) {
  return node(NS_OP, u64Value(v));
}
N ProgramBuilder::ps(uint64_t v) {
  return node(PS_OP, u64Value(v));
}

N ProgramBuilder::timeOf(uint32_t unitOp, N operand) {
  return node(unitOp, 0u, operand);
}

N ProgramBuilder::gvar(uint32_t id) {
  if (id >= impl_->globals.size()) fail("unknown global variable");
  return node(GLOBAL_VARIABLE_OP, impl_->globals[id].type, node(INDEX_NODE, id));
}

N ProgramBuilder::local(uint32_t id) {
  return node(LOCAL_VAR, 0u, node(INDEX_NODE, id));
}

N ProgramBuilder::op(uint32_t opCode, uint32_t opType, N left, N right) {
  return node(opCode, opType, left, right);
}

N ProgramBuilder::logic(uint32_t opCode, N left, N right) {
  return node(opCode, uint32_t{TypeBoolean}, left, right);
}

N ProgramBuilder::assign(N target, N value) {
  return node(ASSIGN_OP, 0u, target, value);
}

N ProgramBuilder::index(N array, N idx) {
  return node(ARRAY_INDEX_OP, 0u, array, idx);
}

N ProgramBuilder::cast(uint32_t typeId, N operand) {
  return node(CAST_OP, typeId, operand);
}

N ProgramBuilder::typeRef(uint32_t typeId) {
  return node(TYPE_OP, uint32_t{TypeType}, node(INDEX_NODE, typeId));
}

N ProgramBuilder::enumLit(uint32_t enumTypeId, std::string_view literal) {
  return node(ENUM_OP, enumTypeId, node(SYM, enumValue(enumTypeId, literal)), typeRef(enumTypeId));
}

N ProgramBuilder::initializer(const std::vector<uint64_t>& cells, uint32_t) {
  return node(INITIALIZER_OP, constData(cells));
}

N ProgramBuilder::call(uint32_t code, uint32_t resultType, N object, std::vector<N> args,
                       uint32_t customId) {
  N custom = customId == NO_ID ? none : node(INDEX_NODE, customId);
  N index = node(INDEX_NODE, code, object, custom);
  return node(CALL_OP, resultType, index, args.empty() ? none : list(args));
}

N ProgramBuilder::callFunction(uint32_t functionId, std::vector<N> args) {
  return call(kCallFunctionCustom, TypeStatement, none, std::move(args), functionId);
}

N ProgramBuilder::callFunctionValue(uint32_t functionId, uint32_t resultType, std::vector<N> args) {
  return call(kCallFunctionRightCurrying, resultType, none, std::move(args), functionId);
}

N ProgramBuilder::callSub(uint32_t subIndex, std::vector<N> args) {
  return call(kCallSubProcess, TypeStatement, none, std::move(args), subIndex);
}

N ProgramBuilder::field(N object, uint32_t structTypeId, std::string_view name) {
  return call(kCallFieldCustom, fieldType(structTypeId, name), object, {},
              fieldOffset(structTypeId, name));
}

N ProgramBuilder::print(std::string_view format, std::vector<N> values) {
  std::vector<N> args{str(format)};
  args.insert(args.end(), values.begin(), values.end());
  return call(values.empty() ? kCallPrint : kCallPrintValues, TypeStatement, none, args);
}

N ProgramBuilder::println(std::string_view format, std::vector<N> values) {
  std::vector<N> args{str(format)};
  args.insert(args.end(), values.begin(), values.end());
  return call(values.empty() ? kCallPrintlnFormat : kCallPrintlnValues, TypeStatement, none, args);
}

N ProgramBuilder::exitWith(N code, uint32_t line) {
  return call(kCallExit, TypeStatement, none, {code, integer(line)});
}

N ProgramBuilder::assertThat(N condition, std::string_view file, uint32_t line,
                             std::string_view text) {
  // The file and the expression text are string-table labels.
  return call(
      kCallAssert, TypeStatement, none,
      {condition, node(INDEX_NODE, string(file)), integer(line), node(INDEX_NODE, string(text))});
}

// ---------------------------------------------------------------- statements

N ProgramBuilder::block(std::vector<N> statements, std::vector<N> declarations) {
  return node(BLOCK_OP, 0u, declarations.empty() ? none : list(declarations),
              statements.empty() ? none : list(statements));
}

N ProgramBuilder::if_(N condition, N thenStmt, N elseStmt) {
  // The branch list keeps a cell for a missing else.
  N elseCell = node(LIST, 0u, elseStmt);
  N thenCell = node(LIST, 0u, thenStmt, elseCell);
  return node(IF_OP, 0u, condition, thenCell);
}

N ProgramBuilder::while_(N condition, N body) {
  return node(WHILE_OP, 0u, condition, body);
}

N ProgramBuilder::for_(N init, N condition, N step, N body) {
  N stepCell = node(LIST, 0u, step);
  N condCell = node(LIST, 0u, condition, stepCell);
  N initCell = node(LIST, 0u, init, condCell);
  return node(FOR_OP, 0u, initCell, body);
}

N ProgramBuilder::loopOver(uint32_t iterType, std::string iteratorName, N buffer, N body) {
  N decl = node(ITERATOR_DECL_OP, iterType, node(SYM, symbol(iteratorName)), buffer);
  return node(LOOPOVER_OP, 0u, list({decl}), body);
}

N ProgramBuilder::break_() {
  return node(BREAK_OP, 0u);
}
N ProgramBuilder::continue_() {
  return node(CONTINUE_OP, 0u);
}

N ProgramBuilder::namedBlock(std::string name, N blk) {
  return node(NAMED_BLOCK_OP, 0u, list({varDecl(TypeNamedBlock, std::move(name))}), list({blk}));
}

N ProgramBuilder::timeAnnotation(N scope) {
  return node(TIME_ANNOTATION, NO_ID, scope);
}
N ProgramBuilder::userAnnotation(N scope) {
  return node(USER_ANNOTATION, 0u, scope);
}

N ProgramBuilder::varDecl(uint32_t typeId, std::string name, N init) {
  N sym = node(SYM, symbol(name));
  if (type(typeId).bufferType != NONE_BUFFER) {
    return node(VARIABLE_BUFFER_DECL_OP, typeId, list({sym}), init);
  }
  return node(VARIABLE_DECL_OP, typeId, sym, init);
}

N ProgramBuilder::constDecl(uint32_t typeId, std::string name, const std::vector<uint64_t>& cells) {
  N sym = node(SYM, symbol(name));
  N init = initializer(cells, typeId);
  if (type(typeId).bufferType != NONE_BUFFER) {
    return node(CONSTANT_ARRAY_DECL_OP, typeId, list({sym}), init);
  }
  return node(CONSTANT_DECL_OP, typeId, sym, init);
}

N ProgramBuilder::list(const std::vector<N>& elements) {
  if (elements.empty()) return none;
  N next = none;
  for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
    next = node(LIST, 0u, *it, next);
  }
  return next;
}

// ---------------------------------------------------------------- functions and processes

namespace {
uint32_t paramOp(const TypeRecord& t, Dir dir) {
  const bool channel = t.bufferType == QUEUE_BUFFER || t.bufferType == STACK_BUFFER ||
                       t.bufferType == OTHER_CHANNEL_BUFFER || t.bufferType == STRING_BUFFER;
  if (dir == Dir::In) return channel ? IN_CHANNEL_PARAM_OP : IN_PARAM_OP;
  return channel ? OUT_CHANNEL_PARAM_OP : OUT_PARAM_OP;
}
}  // namespace

N ProgramBuilder::parameters(const std::vector<Param>& params) {
  std::vector<N> nodes;
  for (const Param& p : params) {
    nodes.push_back(node(paramOp(type(p.type), p.dir), p.type, node(SYM, symbol(p.name))));
  }
  return list(nodes);
}

uint32_t ProgramBuilder::function(std::string name, std::vector<Param> params, N body) {
  N paramList = parameters(params);
  impl_->definitions.push_back(node(FUNCTION_DECLARATION, 0u, paramList, body));
  impl_->functions.push_back({symbol(name), {paramList.id, body.id}});
  return static_cast<uint32_t>(impl_->functions.size() - 1);
}

uint32_t ProgramBuilder::process(std::string name, ProcessSpec shape) {
  const auto defId = static_cast<uint32_t>(impl_->processes.size());
  std::vector<N> staticNodes;
  for (const StaticVar& v : shape.statics) {
    staticNodes.push_back(node(STATIC_VARIABLE_DECL_OP, v.type, node(SYM, symbol(v.name))));
  }
  std::vector<N> subNodes;
  for (const SubInstance& sub : shape.subs) {
    if (sub.definition >= defId) fail("sub-process definitions must come first");
    N def = node(INDEX_NODE, sub.definition, node(SYM, impl_->processes[sub.definition].symbol));
    subNodes.push_back(node(PROCESS_INSTANCE_NODE, 0u, def, node(SYM, symbol(sub.name))));
  }

  // States, then the transitions' reached states by name.
  std::map<std::string, uint32_t> stateNodes;
  std::vector<N> states;
  std::vector<std::pair<N, std::string>> fixups;
  for (const State& st : shape.states) {
    std::vector<N> transitions;
    for (const Transition& t : st.transitions) {
      N pair = t.isAfter ? node(INDEX_NODE, NO_ID, t.delay, t.condition)
                         : node(INDEX_NODE, NO_ID, t.condition);
      fixups.emplace_back(pair, t.target);
      transitions.push_back(node(t.isAfter ? AFTER_OP : ON_OP, 0u, pair, t.statement));
    }
    N dcl = node(STATE_DCL, 0u, st.block, list(transitions));
    N named =
        node(NAMED_STATE_STATEMENT, symbol(st.name), list({varDecl(TypeState, st.name)}), dcl);
    stateNodes[st.name] = named.id;
    states.push_back(named);
  }
  for (auto& [pair, target] : fixups) {
    auto it = stateNodes.find(target);
    if (it == stateNodes.end()) fail("unknown state " + target);
    at(pair).value.id.index = it->second;
  }

  N staticList = list(staticNodes);
  N subList = list(subNodes);
  N localList = list(shape.locals);
  N stateList = list(states);
  N body = list({staticList, subList, localList, shape.common, stateList, shape.finally});
  // list() skips nothing: absent parts stay as empty cells.
  N paramList = parameters(shape.params);
  impl_->definitions.push_back(node(PROCESS_DECLARATION, 0u, paramList, body));

  Impl::ProcessDesc desc{};
  desc.symbol = symbol(name);
  desc.record = {paramList.id,
                 staticList.id,
                 subList.id,
                 localList.id,
                 shape.common.id,
                 stateList.id,
                 shape.finally.id,
                 static_cast<uint32_t>(shape.subs.size()),
                 static_cast<uint32_t>(shape.subs.size() + shape.statics.size())};
  desc.subs = shape.subs;
  desc.statics = shape.statics;
  impl_->processes.push_back(std::move(desc));
  return defId;
}

uint32_t ProgramBuilder::instance(std::string name, uint32_t definition, InstanceSpec options) {
  if (definition >= impl_->processes.size()) fail("unknown process definition");
  if (impl_->instances.size() >= impl_->options.maxInstances) fail("too many instances");
  const uint32_t var = global(name, processInstanceType_);

  N args = list(options.args);
  N timing = (options.period || options.offset) ? list({options.period, options.offset}) : none;
  N def = node(INDEX_NODE, definition, node(SYM, impl_->processes[definition].symbol));
  N inst = node(PROCESS_INSTANCE_NODE, 0u, def, list({args, timing, options.trigger}));
  impl_->definitions.push_back(inst);

  std::vector<N> settings;
  const auto set = [&](std::string_view f, N value) {
    settings.push_back(assign(instanceField(gvar(var), f), value));
  };
  if (options.priority) set("priority", integer(*options.priority));
  if (options.jitter) set("jitter", options.jitter);
  if (options.deadline) set("deadline", options.deadline);
  N annotation = none;
  if (!settings.empty()) {
    annotation = node(PROCESS_ANNOTATION, var, block(settings));
    impl_->definitions.push_back(annotation);
  }
  impl_->instances.push_back(
      {symbol(name), definition, args.id, options.trigger.id, annotation.id});
  return static_cast<uint32_t>(impl_->instances.size() - 1);
}

void ProgramBuilder::initAnnotation(N blk) {
  impl_->definitions.push_back(timeAnnotation(blk));
}

void ProgramBuilder::schedulingPolicy(std::string_view literal) {
  const uint32_t policyType = fieldType(systemType_, "sched_policy");
  initAnnotation(
      block({assign(field(gvar(0u), systemType_, "sched_policy"), enumLit(policyType, literal))}));
}

void ProgramBuilder::hardwareAnnotation(uint32_t globalId, std::vector<N> declarations,
                                        std::vector<N> statements) {
  N scope = node(BLOCK_OP, 0u, list(declarations), list(statements));
  impl_->definitions.push_back(node(HARDWARE_ANNOTATION, globalId, scope));
}

std::pair<N, std::vector<N>> ProgramBuilder::fileDescriptor(std::string localName, uint32_t localId,
                                                            std::string_view path, bool write,
                                                            bool csv) {
  const uint32_t fileType = typeId("Kova_File");
  if (fileType == NO_ID) fail("fileDescriptor needs BuilderOptions::fileTypes");
  N decl = varDecl(fileType, std::move(localName));
  std::vector<N> statements;
  const uint32_t nameType = fieldType(fileType, "name");
  for (size_t i = 0; i < path.size() && i + 1 < type(nameType).size; ++i) {
    statements.push_back(
        assign(index(field(local(localId), fileType, "name"), integer(static_cast<int64_t>(i))),
               integer(static_cast<unsigned char>(path[i]))));
  }
  const uint32_t access = fieldType(fileType, "access");
  const uint32_t format = fieldType(fileType, "format");
  statements.push_back(
      assign(field(local(localId), fileType, "access"), enumLit(access, write ? "WRITE" : "READ")));
  statements.push_back(
      assign(field(local(localId), fileType, "format"), enumLit(format, csv ? "CSV" : "RAW")));
  return {decl, statements};
}

// ---------------------------------------------------------------- raw nodes

N ProgramBuilder::node(uint32_t opCode, NodeValue value, N left, N right) {
  AST_Node n{};
  n.op = opCode;
  n.value = value;
  n.left = left.id;
  n.right = right.id;
  impl_->nodes.push_back(n);
  impl_->lines.push_back(0);
  return N{static_cast<uint32_t>(impl_->nodes.size() - 1)};
}

N ProgramBuilder::node(uint32_t opCode, uint32_t valueWord, N left, N right) {
  NodeValue value{};
  value.id.index = valueWord;
  return node(opCode, value, left, right);
}

AST_Node& ProgramBuilder::at(N n) {
  if (n.id >= impl_->nodes.size()) fail("no such node");
  return impl_->nodes[n.id];
}

void ProgramBuilder::setLine(N n, uint32_t line) {
  at(n);
  impl_->lines[n.id] = line;
}

// ---------------------------------------------------------------- output

namespace {

template <class T>
MemArray<T> table(size_t count, const char* label) {
  return memory_allocArray<T>(count, __FILE__, "build", __LINE__, label);
}

template <class T, class U>
MemArray<T> tableFrom(const std::vector<U>& source, const char* label) {
  MemArray<T> t = table<T>(source.size(), label);
  for (size_t i = 0; i < source.size(); ++i) t[i] = static_cast<T>(source[i]);
  return t;
}

}  // namespace

std::unique_ptr<Program> ProgramBuilder::build() {
  Impl& im = *impl_;
  auto program = Program_create();
  InfoProg& info = *program->infoProg;
  Dbg& dbg = *program->dbg;
  std::memcpy(info.modelName, im.options.modelName.data(),
              std::min(im.options.modelName.size(), sizeof info.modelName));

  // Process instances, depth-first, and their static blocks.
  struct InstanceRow {
    uint32_t definition;
    uint32_t staticBase;
    uint32_t symbol;
  };
  std::vector<InstanceRow> rows;
  std::vector<uint32_t> staticTypes, staticSymbols;
  std::vector<uint64_t> staticData;
  std::vector<GlobalProcessInstanceRecord> globalRecords;
  std::vector<uint32_t> globalInstanceSymbols;
  uint32_t staticCounter = 0;
  const std::function<uint32_t(uint32_t, uint32_t)> addInstance = [&](uint32_t def, uint32_t sym) {
    const Impl::ProcessDesc& pd = im.processes[def];
    const uint32_t entries = pd.record.n_staticEntries;
    const uint32_t base = staticCounter;
    const auto row = static_cast<uint32_t>(rows.size());
    rows.push_back({def, entries > 0 ? base : NO_ID, sym});
    staticCounter += entries;
    for (const SubInstance& sub : pd.subs) {
      staticTypes.push_back(processInstanceType_);
      staticSymbols.push_back(symbol(sub.name));
      const auto cells = clearedCells(processInstanceType_);
      staticData.insert(staticData.end(), cells.begin(), cells.end());
    }
    for (const StaticVar& v : pd.statics) {
      staticTypes.push_back(v.type);
      staticSymbols.push_back(symbol(v.name));
      auto cells = v.init.empty() ? clearedCells(v.type) : v.init;
      cells.resize(type(v.type).storageSize, 0);
      staticData.insert(staticData.end(), cells.begin(), cells.end());
    }
    for (const SubInstance& sub : pd.subs) addInstance(sub.definition, symbol(sub.name));
    return row;
  };
  for (const Impl::TopInstance& top : im.instances) {
    const uint32_t row = addInstance(top.definition, top.symbol);
    globalRecords.push_back(
        {row, 0, 0, top.args, top.trigger, top.annotation, rows[row].staticBase, top.definition});
    globalInstanceSymbols.push_back(top.symbol);
  }

  // The root's definitions list, then the node space and its spare slots.
  im.nodes[0].left = list(im.definitions).id;
  info.n_AST = static_cast<uint32_t>(im.nodes.size());
  AST_createTree(program.get(), info.n_AST + kSpareNodes);
  AST_createLineIndex(program.get(), info.n_AST + kSpareNodes);
  for (size_t i = 0; i < im.nodes.size(); ++i) {
    program->RAMprogram[i] = im.nodes[i];
    dbg.nodeLine[i] = im.lines[i];
  }
  program->root = &program->RAMprogram[0];

  // Types.
  info.n_type = static_cast<uint32_t>(im.types.size());
  program->typeTable = table<TypeRecord>(info.n_type, "typeTable");
  dbg.typeSymbolId = table<uint32_t>(info.n_type, "typeSymbolId");
  for (uint32_t i = 0; i < info.n_type; ++i) {
    program->typeTable[i] = im.types[i].record;
    dbg.typeSymbolId[i] = im.types[i].symbol;
  }

  // Constant data and global constants.
  info.size_constantData = static_cast<uint32_t>(im.constantData.size());
  program->constantDataTable = table<ValueCell>(info.size_constantData, "constantDataTable");
  for (uint32_t i = 0; i < info.size_constantData; ++i) {
    program->constantDataTable[i].u64 = im.constantData[i];
  }
  info.n_globalConstants = static_cast<uint32_t>(im.constants.size());
  program->globalConstantTable = table<TaggedValue>(info.n_globalConstants, "globalConstantTable");
  dbg.globalConstantSymbolId = table<uint32_t>(info.n_globalConstants, "globalConstantSymbolId");
  for (uint32_t i = 0; i < info.n_globalConstants; ++i) {
    const Impl::ConstantDesc& c = im.constants[i];
    program->globalConstantTable[i] = {&program->constantDataTable[c.cell], c.type, NO_ID};
    dbg.globalConstantSymbolId[i] = c.symbol;
  }

  // Global variables over their initial data.
  info.n_globalVariables = static_cast<uint32_t>(im.globals.size());
  uint32_t globalCells = 0;
  for (const auto& g : im.globals) globalCells += static_cast<uint32_t>(g.init.size());
  info.size_globalVariableData = globalCells;
  program->globalVariableDataInitTable = table<ValueCell>(globalCells, "globalVariableData");
  program->globalVariableTable = table<TaggedValue>(info.n_globalVariables, "globalVariableTable");
  dbg.globalVariableSymbolId = table<uint32_t>(info.n_globalVariables, "globalVariableSymbolId");
  uint32_t cursor = 0;
  for (uint32_t i = 0; i < info.n_globalVariables; ++i) {
    const Impl::GlobalDesc& g = im.globals[i];
    ValueCell* data = program->globalVariableDataInitTable.get();
    program->globalVariableTable[i] = {data != nullptr ? data + cursor : nullptr, g.type, i};
    for (uint64_t cell : g.init) data[cursor++].u64 = cell;
    dbg.globalVariableSymbolId[i] = g.symbol;
  }

  // Static variables.
  info.n_processStaticVariables = static_cast<uint32_t>(staticTypes.size());
  info.size_processStaticVariableData = static_cast<uint32_t>(staticData.size());
  program->processStaticVariableDataInitTable =
      table<ValueCell>(staticData.size(), "processStaticVariableData");
  program->processStaticVariableTable =
      table<TaggedValue>(staticTypes.size(), "processStaticVariableTable");
  dbg.processStaticVariableSymbolId = tableFrom<uint32_t>(staticSymbols, "staticSymbols");
  cursor = 0;
  for (size_t i = 0; i < staticData.size(); ++i) {
    program->processStaticVariableDataInitTable[i].u64 = staticData[i];
  }
  for (size_t i = 0; i < staticTypes.size(); ++i) {
    ValueCell* data = program->processStaticVariableDataInitTable.get();
    program->processStaticVariableTable[i] = {data != nullptr ? data + cursor : nullptr,
                                              staticTypes[i], NO_ID};
    cursor += type(staticTypes[i]).storageSize;
  }

  // Functions, process definitions and instances.
  info.n_functions = static_cast<uint32_t>(im.functions.size());
  program->functionTable = table<FunctionRecord>(info.n_functions, "functionTable");
  dbg.functionSymbolId = table<uint32_t>(info.n_functions, "functionSymbolId");
  info.initFunctionId = NO_ID;
  for (uint32_t i = 0; i < info.n_functions; ++i) {
    program->functionTable[i] = im.functions[i].record;
    dbg.functionSymbolId[i] = im.functions[i].symbol;
    if (im.symbols[im.functions[i].symbol] == "init") info.initFunctionId = i;
  }
  info.n_processDefinitions = static_cast<uint32_t>(im.processes.size());
  program->processDefinitionTable =
      table<ProcessDefinitionRecord>(info.n_processDefinitions, "processDefinitionTable");
  dbg.processDefinitionSymbolId = table<uint32_t>(info.n_processDefinitions, "processDefSymbols");
  for (uint32_t i = 0; i < info.n_processDefinitions; ++i) {
    program->processDefinitionTable[i] = im.processes[i].record;
    dbg.processDefinitionSymbolId[i] = im.processes[i].symbol;
  }
  info.n_processInstances = static_cast<uint32_t>(rows.size());
  program->processInstanceTable = table<ProcessInstanceRecord>(rows.size(), "processInstanceTable");
  dbg.processInstanceSymbolId = table<uint32_t>(rows.size(), "processInstanceSymbolId");
  for (size_t i = 0; i < rows.size(); ++i) {
    program->processInstanceTable[i] = {rows[i].definition, rows[i].staticBase};
    dbg.processInstanceSymbolId[i] = rows[i].symbol;
  }
  info.n_globalProcessInstances = static_cast<uint32_t>(globalRecords.size());
  program->processGlobalInstanceTable =
      tableFrom<GlobalProcessInstanceRecord>(globalRecords, "processGlobalInstanceTable");
  dbg.globalProcessInstanceSymbolId = tableFrom<uint32_t>(globalInstanceSymbols, "globalInstSyms");

  // Strings and symbols, NUL-terminated and concatenated.
  const auto pack = [](const std::vector<std::string>& texts, MemArray<char>& bytes,
                       MemArray<uint32_t>& offsets, uint32_t& count, uint32_t& size) {
    std::vector<char> all;
    std::vector<uint32_t> at;
    for (const std::string& t : texts) {
      at.push_back(static_cast<uint32_t>(all.size()));
      all.insert(all.end(), t.begin(), t.end());
      all.push_back('\0');
    }
    count = static_cast<uint32_t>(texts.size());
    size = static_cast<uint32_t>(all.size());
    bytes = tableFrom<char>(all, "text");
    offsets = tableFrom<uint32_t>(at, "offsets");
  };
  pack(im.strings, program->stringTable, program->stringTableIndex, info.n_strings,
       info.stringTableSize);
  pack(im.symbols, dbg.symbolTable, dbg.symbolTableIndex, info.n_symbols, info.symbolStorageSize);
  return program;
}

int ProgramBuilder::write(const std::string& path) {
  auto program = build();
  return write_storeProgramBinary(program.get(), path.c_str());
}

}  // namespace kova_test
