#include "tests/support/program_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ASTLib/call_codes.h"
#include "ASTLib/rENV.h"
#include "parserLib/compiler.h"
#include "parserLib/parser_error.h"
#include "parserLib/write.h"

#ifndef KOVA_SYSTEM_LIBRARY
#error "KOVA_SYSTEM_LIBRARY names the system library's source"
#endif

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

// Room for the largest test program.
constexpr uint32_t kBuilderNodes = 1u << 18;

// The system library's source, with the capacities the options ask for and
// without the file or UDP declarations when they are not wanted.
std::string librarySource(const BuilderOptions& o) {
  std::ifstream in(KOVA_SYSTEM_LIBRARY, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  const auto replace = [&](const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) fail("system library without \"" + from + "\"");
    text.replace(at, from.size(), to);
  };
  replace("next_activations[8]", "next_activations[" + std::to_string(o.activationSlots) + "]");
  replace("KOVA_MAX_FILE = 4", "KOVA_MAX_FILE = " + std::to_string(o.maxFiles));
  replace("KOVA_MAX_FILENAME = 256", "KOVA_MAX_FILENAME = " + std::to_string(o.maxFileName));
  replace("name[256]", "name[" + std::to_string(o.maxFileName) + "]");
  const size_t files = text.find("/* Files bound");
  const size_t udp = text.find("/* UDP ports bound");
  if (files == std::string::npos || udp == std::string::npos || udp < files) {
    fail("system library sections not found");
  }
  if (!o.udpTypes) text.erase(udp);
  if (!o.fileTypes) text.erase(files, udp - files);
  return text;
}

}  // namespace

struct ProgramBuilder::Impl {
  BuilderOptions options;
  std::unique_ptr<ProgramDraft> draft;
  ParserEnv* penv = nullptr;
  Program* program = nullptr;
  WholeProgram* whole = nullptr;
  bool built = false;
};

ProgramBuilder::ProgramBuilder(BuilderOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  std::string failure;
  impl_->draft = kova_startProgram(
      "system.kova", librarySource(impl_->options),
      [&failure](const ParserEnv&, const Diagnostic& d) {
        if (d.error) failure += std::string(d.message);
      },
      kBuilderNodes);
  if (impl_->draft == nullptr) fail("the system library does not compile: " + failure);
  impl_->penv = impl_->draft->penv.get();
  impl_->program = impl_->penv->program;
  impl_->whole = &impl_->draft->whole;
  // Nodes made here have no source line.
  impl_->penv->pctx.line = 0;
  processInstanceType_ = typeId("Process_Instance");
  systemType_ = typeId("System");
}

ProgramBuilder::ProgramBuilder(ProgramBuilder&&) noexcept = default;
ProgramBuilder& ProgramBuilder::operator=(ProgramBuilder&&) noexcept = default;
ProgramBuilder::~ProgramBuilder() = default;

// ---------------------------------------------------------------- names

uint32_t ProgramBuilder::symbol(std::string_view name) {
  return parser_internSymbol(impl_->penv, std::string(name).c_str());
}

uint32_t ProgramBuilder::string(std::string_view text) {
  return parser_internString(impl_->penv, std::string(text).c_str());
}

// ---------------------------------------------------------------- types

uint32_t ProgramBuilder::structType(std::string name, std::vector<Field> fields) {
  std::vector<N> fieldNodes;
  uint32_t storage = 0;
  for (const Field& f : fields) {
    fieldNodes.push_back(node(FIELD_STATEMENT, f.type, node(SYM, symbol(f.name))));
    storage += type(f.type).storageSize;
  }
  return parser_addType(impl_->penv, {TypeStructure, 0, storage, NONE_BUFFER, list(fieldNodes).id},
                        name.c_str());
}

uint32_t ProgramBuilder::enumType(std::string name, std::vector<std::string> literals) {
  std::vector<N> literalNodes;
  for (const std::string& l : literals) literalNodes.push_back(node(SYM, symbol(l)));
  return parser_addType(impl_->penv, {TypeEnum, 0, 1, NONE_BUFFER, list(literalNodes).id},
                        name.c_str());
}

// A buffer type, named after its element when no name is given.
uint32_t ProgramBuilder::bufferType(uint32_t kind, uint32_t element, uint32_t size,
                                    std::string name, uint32_t storage) {
  if (name.empty()) {
    const char* word = kind == ARRAY_BUFFER ? "array" : kind == QUEUE_BUFFER ? "queue" : "stack";
    name = std::string(word) + "<" + Type_getName(impl_->program, element) + ">[" +
           std::to_string(size) + "]";
  }
  return parser_addType(impl_->penv, {element, size, storage, kind, 0}, name.c_str());
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
  if (name.empty())
    name = "iterator<" + std::string(Type_getName(impl_->program, bufferType)) + ">";
  // index, next index, buffer reference
  return parser_addType(impl_->penv, {bufferType, 0, 3, NONE_BUFFER, 0}, name.c_str());
}

uint32_t ProgramBuilder::typeId(std::string_view name) const {
  const Program* p = impl_->program;
  for (uint32_t i = 0; i < p->infoProg->n_type; ++i) {
    if (Type_getName(p, i) == name) return i;
  }
  return NO_ID;
}

const TypeRecord& ProgramBuilder::type(uint32_t id) const {
  if (id >= impl_->program->infoProg->n_type) fail("unknown type id " + std::to_string(id));
  return impl_->program->typeTable[id];
}

namespace {

// The elements of a structure's field list or an enumeration's literal list.
std::vector<const AST_Node*> members(const Program* p, uint32_t typeId) {
  std::vector<const AST_Node*> out;
  for (const AST_Node* cell = AST_fromId(p, Type_getFields(p, typeId));
       cell != nullptr && cell->op == LIST; cell = AST_right(p, cell)) {
    out.push_back(AST_left(p, cell));
  }
  return out;
}

}  // namespace

uint32_t ProgramBuilder::enumValue(uint32_t enumTypeId, std::string_view literal) const {
  const Program* p = impl_->program;
  for (const AST_Node* l : members(p, enumTypeId)) {
    if (Symbol_getName(p, l->value.id.index) == literal) return l->value.id.index;
  }
  fail("no literal " + std::string(literal));
}

uint32_t ProgramBuilder::fieldOffset(uint32_t structTypeId, std::string_view field) const {
  const Program* p = impl_->program;
  uint32_t offset = 0;
  for (const AST_Node* f : members(p, structTypeId)) {
    if (Symbol_getName(p, AST_getStructFieldSymId(p, f)) == field) return offset;
    offset += type(AST_getStructFieldTypeId(p, f)).storageSize;
  }
  fail("no field " + std::string(field));
}

uint32_t ProgramBuilder::fieldType(uint32_t structTypeId, std::string_view field) const {
  const Program* p = impl_->program;
  for (const AST_Node* f : members(p, structTypeId)) {
    if (Symbol_getName(p, AST_getStructFieldSymId(p, f)) == field) {
      return AST_getStructFieldTypeId(p, f);
    }
  }
  fail("no field " + std::string(field));
}

std::vector<uint64_t> ProgramBuilder::clearedCells(uint32_t typeId) const {
  type(typeId);
  std::vector<uint64_t> cells;
  for (const ValueCell& c : assembly_clearedCells(impl_->program, typeId)) cells.push_back(c.u64);
  return cells;
}

// ---------------------------------------------------------------- globals

namespace {
std::vector<ValueCell> toCells(const std::vector<uint64_t>& words) {
  std::vector<ValueCell> cells(words.size());
  for (size_t i = 0; i < words.size(); ++i) cells[i].u64 = words[i];
  return cells;
}
}  // namespace

uint32_t ProgramBuilder::global(std::string name, uint32_t typeId, std::vector<uint64_t> init) {
  const uint32_t storage = type(typeId).storageSize;
  if (init.size() > storage) fail("initial value of " + name + " is too large");
  if (!init.empty()) init.resize(storage, 0);
  return assembly_addGlobal(impl_->penv, *impl_->whole, symbol(name), typeId, toCells(init));
}

uint32_t ProgramBuilder::constant(std::string name, uint32_t typeId, std::vector<uint64_t> cells) {
  cells.resize(std::max<size_t>(cells.size(), type(typeId).storageSize), 0);
  return assembly_addConstant(impl_->penv, symbol(name), typeId, toCells(cells));
}

uint32_t ProgramBuilder::constData(const std::vector<uint64_t>& cells) {
  const std::vector<ValueCell> data = toCells(cells);
  return parser_addConstantData(impl_->penv, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t ProgramBuilder::globalId(std::string_view name) const {
  const Program* p = impl_->program;
  for (uint32_t i = 0; i < p->infoProg->n_globalVariables; ++i) {
    if (GlobalVariable_getName(p, i) == name) return i;
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

N ProgramBuilder::time(uint32_t unitOp, uint64_t v) {
  NodeValue value{};
  value.u64 = v;
  return node(unitOp, value);
}

N ProgramBuilder::gvar(uint32_t id) {
  if (id >= impl_->program->infoProg->n_globalVariables) fail("unknown global variable");
  return node(GLOBAL_VARIABLE_OP, impl_->program->globalVariableTable[id].typeId,
              node(INDEX_NODE, id));
}

N ProgramBuilder::local(uint32_t id) {
  return node(LOCAL_VAR, 0u, node(INDEX_NODE, id));
}

N ProgramBuilder::op(uint32_t opCode, uint32_t opType, N left, N right) {
  return node(opCode, opType, left, right);
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

N ProgramBuilder::loopOver(uint32_t iterType, std::string iteratorName, N buffer, N body) {
  N decl = node(ITERATOR_DECL_OP, iterType, node(SYM, symbol(iteratorName)), buffer);
  return node(LOOPOVER_OP, 0u, list({decl}), body);
}

N ProgramBuilder::namedBlock(std::string name, N blk) {
  return node(NAMED_BLOCK_OP, 0u, list({varDecl(TypeNamedBlock, std::move(name))}), list({blk}));
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
  N init = node(INITIALIZER_OP, constData(cells));
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

AST_Node* ProgramBuilder::ptr(N n) {
  return n ? &at(n) : nullptr;
}

uint32_t ProgramBuilder::function(std::string name, std::vector<Param> params, N body) {
  N paramList = parameters(params);
  WholeProgram& whole = *impl_->whole;
  const uint32_t id = assembly_addFunction(impl_->penv, symbol(name), ptr(paramList), ptr(body));
  whole.functionHasBody.push_back(true);
  whole.functionAt.emplace_back();
  assembly_appendDefinition(impl_->penv, whole,
                            ptr(node(FUNCTION_DECLARATION, 0u, paramList, body)));
  return id;
}

uint32_t ProgramBuilder::process(std::string name, ProcessSpec shape) {
  ParserEnv* penv = impl_->penv;
  WholeProgram& whole = *impl_->whole;
  const auto defId = static_cast<uint32_t>(whole.processes.size());
  ProcessDraft draft;
  draft.symbol = symbol(name);
  draft.hasBody = true;
  std::vector<N> staticNodes;
  for (const StaticVar& v : shape.statics) {
    staticNodes.push_back(node(STATIC_VARIABLE_DECL_OP, v.type, node(SYM, symbol(v.name))));
    std::vector<uint64_t> init = v.init;
    if (!init.empty()) init.resize(type(v.type).storageSize, 0);
    draft.statics.push_back({symbol(v.name), v.type, toCells(init)});
  }
  std::vector<N> subNodes;
  for (const SubInstance& sub : shape.subs) {
    if (sub.definition >= defId) fail("sub-process definitions must come first");
    const uint32_t defSymbol = whole.processes[sub.definition].symbol;
    subNodes.push_back(
        N{AST_id(impl_->program,
                 assembly_makeSubProcess(penv, sub.definition, defSymbol, symbol(sub.name)))});
    draft.subs.push_back({symbol(sub.name), sub.definition});
  }

  // States, then the transitions' reached states by name.
  std::vector<std::pair<std::string, N>> states;
  std::vector<std::pair<N, std::string>> targets;
  for (const State& st : shape.states) {
    std::vector<N> transitions;
    for (const Transition& t : st.transitions) {
      AST_Node* made =
          t.isAfter
              ? assembly_makeTransition(penv, ptr(t.condition), ptr(t.delay), ptr(t.statement))
              : assembly_makeTransition(penv, ptr(t.condition), nullptr, ptr(t.statement));
      transitions.push_back(N{AST_id(impl_->program, made)});
      targets.emplace_back(transitions.back(), t.target);
    }
    const uint32_t stateSymbol = symbol(st.name);
    AST_Node* named =
        assembly_makeState(penv, stateSymbol, assembly_makeStateVariable(penv, stateSymbol),
                           ptr(st.block), ptr(list(transitions)));
    states.emplace_back(st.name, N{AST_id(impl_->program, named)});
  }
  for (const auto& t : targets) {
    const auto it = std::find_if(states.begin(), states.end(),
                                 [&](const auto& s) { return s.first == t.second; });
    if (it == states.end()) fail("unknown state " + t.second);
    assembly_setTransitionTarget(&at(t.first), penv, &at(it->second));
  }
  std::vector<N> stateNodes;
  for (const auto& s : states) stateNodes.push_back(s.second);

  ProcessParts parts;
  parts.params = ptr(parameters(shape.params));
  parts.statics = ptr(list(staticNodes));
  parts.subProcesses = ptr(list(subNodes));
  parts.locals = ptr(list(shape.locals));
  parts.common = ptr(shape.common);
  parts.states = ptr(list(stateNodes));
  parts.finallyBlock = ptr(shape.finally);
  parts.n_subProcesses = static_cast<uint32_t>(shape.subs.size());
  parts.n_staticEntries = static_cast<uint32_t>(shape.subs.size() + shape.statics.size());
  ProcessDefinitionRecord record{};
  AST_Node* declaration = assembly_makeProcessDeclaration(penv, parts, &record);
  assembly_addProcessDefinition(penv, draft.symbol, record);
  whole.processes.push_back(std::move(draft));
  assembly_appendDefinition(penv, whole, declaration);
  return defId;
}

uint32_t ProgramBuilder::instance(std::string name, uint32_t definition, InstanceSpec options) {
  WholeProgram& whole = *impl_->whole;
  if (definition >= whole.processes.size()) fail("unknown process definition");
  const uint32_t var = global(name, processInstanceType_);

  N args = list(options.args);
  InstanceDecl decl{};
  decl.symbol = symbol(name);
  decl.definitionSymbol = whole.processes[definition].symbol;
  decl.definition = definition;
  decl.globalId = var;
  decl.node = assembly_makeInstance(impl_->penv, definition, decl.definitionSymbol, ptr(args),
                                    ptr(options.period), ptr(options.offset), ptr(options.trigger));
  decl.args = ptr(args);
  decl.trigger = ptr(options.trigger);
  assembly_appendDefinition(impl_->penv, whole, decl.node);

  std::vector<N> settings;
  const auto set = [&](std::string_view f, N value) {
    settings.push_back(assign(field(gvar(var), processInstanceType_, f), value));
  };
  if (options.priority) set("priority", integer(*options.priority));
  if (!settings.empty()) {
    decl.annotation = ptr(node(PROCESS_ANNOTATION, var, block(settings)));
    assembly_appendDefinition(impl_->penv, whole, decl.annotation);
  }
  whole.instances.push_back(decl);
  return static_cast<uint32_t>(whole.instances.size() - 1);
}

void ProgramBuilder::hardwareAnnotation(uint32_t globalId, std::vector<N> declarations,
                                        std::vector<N> statements) {
  N scope = node(BLOCK_OP, 0u, list(declarations), list(statements));
  assembly_appendDefinition(impl_->penv, *impl_->whole,
                            ptr(node(HARDWARE_ANNOTATION, globalId, scope)));
}

// ---------------------------------------------------------------- raw nodes

N ProgramBuilder::node(uint32_t opCode, NodeValue value, N left, N right) {
  if (impl_->built) fail("the program is already built");
  AST_Node* made = parser_makeNode(impl_->penv, opCode, value, ptr(left), ptr(right));
  if (made == nullptr) fail("node space exhausted");
  return N{AST_id(impl_->program, made)};
}

N ProgramBuilder::node(uint32_t opCode, uint32_t valueWord, N left, N right) {
  NodeValue value{};
  value.id.index = valueWord;
  return node(opCode, value, left, right);
}

AST_Node& ProgramBuilder::at(N n) {
  if (n.id >= impl_->program->infoProg->n_AST) fail("no such node");
  return impl_->program->RAMprogram[n.id];
}

void ProgramBuilder::setLine(N n, uint32_t line) {
  at(n);
  impl_->program->dbg->nodeLine[n.id] = line;
}

// ---------------------------------------------------------------- output

std::unique_ptr<Program> ProgramBuilder::build() {
  if (impl_->built) fail("the program is already built");
  impl_->built = true;
  std::string failure;
  impl_->penv->pctx.sink = [&failure](const ParserEnv&, const Diagnostic& d) {
    if (d.error) failure += std::string(d.message);
  };
  std::unique_ptr<Program> program = kova_finishProgram(*impl_->draft, impl_->options.modelName);
  if (program == nullptr) fail("the program does not assemble: " + failure);
  return program;
}

int ProgramBuilder::write(const std::string& path) {
  auto program = build();
  return write_storeProgramBinary(program.get(), path.c_str());
}

}  // namespace kova_test
