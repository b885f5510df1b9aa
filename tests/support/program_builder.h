// Builds Kova programs node by node for unit tests, in a few readable lines
// (golden runs are Kova sources; this is for tests that need raw trees).
//
// A thin layer over the compiler's program assembly: a new builder holds the
// system library compiled from annotations/system/system.kova (the 36
// built-in types, Scheduling_Policy, Process_Instance, System and the global
// "system" as global variable 0, and, when asked, the file and UDP types).
// Tests add types, globals, constants, functions, process definitions and
// instances, then `build()` a Program (once) or `write()` a program file with
// the real writer; the layout of instances, statics and data is the
// compiler's.
//
// Expressions and statements are nodes (`N`); helpers take and return them.
// Operator nodes carry the operator type explicitly, as the front end would
// have stored it: `b.op(PLUS_OP, TypeUInt8, x, b.integer(1))`.
//
// Locals are addressed by their id in the running scope: in a function the
// parameters are 0.., a value-returning function's result comes last; in a
// process the parameters come first, then `self`, then the process locals,
// then the state variable while a state runs.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ASTLib/rAST.h"

namespace kova_test {

// A node of the program under construction; `none` is an absent node.
struct N {
  uint32_t id = NO_ID;
  explicit operator bool() const { return id != NO_ID; }
};
inline constexpr N none{};

struct Field {
  std::string name;
  uint32_t type;
};

enum class Dir { In, Out };

struct Param {
  Dir dir;
  uint32_t type;
  std::string name;
};

// A transition of a state: `on` a condition, or `after` a delay with an
// optional condition; `target` names a state of the same process.
struct Transition {
  bool isAfter = false;
  N condition;
  N delay;
  std::string target;
  N statement;
};
Transition on(N condition, std::string target, N statement = none);
Transition after(N delay, std::string target, N condition = none, N statement = none);

struct State {
  std::string name;
  N block;  // a block node (or none)
  std::vector<Transition> transitions;
};

struct StaticVar {
  std::string name;
  uint32_t type;
  std::vector<uint64_t> init;  // initial cells; empty: cleared
};

struct SubInstance {
  std::string name;
  uint32_t definition;  // process definition id
};

struct ProcessSpec {
  std::vector<Param> params;
  std::vector<StaticVar> statics;
  std::vector<SubInstance> subs;
  std::vector<N> locals;  // declarations (ProgramBuilder::varDecl)
  N common;
  std::vector<State> states;  // the first is the initial state
  N finally;
};

struct InstanceSpec {
  N period;  // duration expressions; none: not periodic
  N offset;
  N trigger;  // activation condition
  std::vector<N> args;
  // Set at initialisation (and before every periodic activation) by the
  // instance's timing annotation, as a program would.
  std::optional<uint8_t> priority;
};

struct BuilderOptions {
  std::string modelName = "test";
  uint32_t activationSlots = 8;  // capacity of Process_Instance.next_activations
  bool fileTypes = false;        // Kova_File, File_Access, File_Format, KOVA_MAX_*
  bool udpTypes = false;         // UDP, UDP_Group, Hw_Direction
  uint32_t maxFiles = 4;
  uint32_t maxFileName = 256;
};

class ProgramBuilder {
 public:
  explicit ProgramBuilder(BuilderOptions options = {});
  ProgramBuilder(ProgramBuilder&&) noexcept;
  ProgramBuilder& operator=(ProgramBuilder&&) noexcept;
  ~ProgramBuilder();

  // ---- names
  uint32_t symbol(std::string_view name);  // interned symbol id
  uint32_t string(std::string_view text);  // interned string-table index

  // ---- types
  uint32_t structType(std::string name, std::vector<Field> fields);
  uint32_t enumType(std::string name, std::vector<std::string> literals);
  uint32_t arrayType(uint32_t element, uint32_t size, std::string name = {});
  uint32_t queueType(uint32_t element, uint32_t capacity, std::string name = {});
  uint32_t stackType(uint32_t element, uint32_t capacity, std::string name = {});
  uint32_t iteratorType(uint32_t bufferType, std::string name = {});
  uint32_t typeId(std::string_view name) const;  // NO_ID when unknown
  const TypeRecord& type(uint32_t typeId) const;
  uint32_t enumValue(uint32_t enumTypeId, std::string_view literal) const;
  uint32_t fieldOffset(uint32_t structTypeId, std::string_view field) const;
  uint32_t fieldType(uint32_t structTypeId, std::string_view field) const;
  // The cleared contents of a value of the type (empty queues and stacks).
  std::vector<uint64_t> clearedCells(uint32_t typeId) const;

  // ---- globals and constants
  uint32_t global(std::string name, uint32_t type, std::vector<uint64_t> init = {});
  uint32_t constant(std::string name, uint32_t type, std::vector<uint64_t> cells);
  uint32_t constData(const std::vector<uint64_t>& cells);  // index of the first cell
  uint32_t globalId(std::string_view name) const;          // NO_ID when unknown

  // ---- expressions
  N integer(int64_t v);  // INTEGER_OP, tagged Natural
  N boolean(bool v);
  N f32(float v);
  N f64(double v);
  N str(std::string_view text);         // STRING_OP over a uint8 string in constant data
  N time(uint32_t unitOp, uint64_t v);  // a time literal: S_OP, MS_OP, NS_OP, PS_OP...
  N ms(uint64_t v) { return time(MS_OP, v); }
  N gvar(uint32_t globalId);
  N gvar(std::string_view name) { return gvar(globalId(name)); }
  N local(uint32_t localId);
  N op(uint32_t opCode, uint32_t opType, N left, N right = none);
  N assign(N target, N value);
  N index(N array, N idx);
  N cast(uint32_t type, N operand);
  N typeRef(uint32_t type);
  N enumLit(uint32_t enumTypeId, std::string_view literal);
  // A call node: code, result type, object (or none), arguments, custom id.
  N call(uint32_t code, uint32_t resultType, N object, std::vector<N> args = {},
         uint32_t customId = NO_ID);
  N callFunction(uint32_t functionId, std::vector<N> args);                            // code 3
  N callFunctionValue(uint32_t functionId, uint32_t resultType, std::vector<N> args);  // code 0
  N field(N object, uint32_t structTypeId, std::string_view field);                    // code 4
  N print(std::string_view format, std::vector<N> values = {});    // code 32 / 33
  N println(std::string_view format, std::vector<N> values = {});  // code 35 / 36
  N assertThat(N condition, std::string_view file, uint32_t line, std::string_view text);

  // ---- statements and declarations
  N block(std::vector<N> statements, std::vector<N> declarations = {});
  N if_(N condition, N thenStmt, N elseStmt = none);
  N while_(N condition, N body);
  N loopOver(uint32_t iteratorType, std::string iteratorName, N buffer, N body);
  N namedBlock(std::string name, N block);
  N varDecl(uint32_t type, std::string name, N init = none);
  N constDecl(uint32_t type, std::string name, const std::vector<uint64_t>& cells);
  N list(const std::vector<N>& elements);

  // ---- functions and processes
  uint32_t function(std::string name, std::vector<Param> params, N body);
  uint32_t process(std::string name, ProcessSpec shape);
  // A top-level instance; also declares its Process_Instance global variable.
  uint32_t instance(std::string name, uint32_t definition, InstanceSpec options = {});
  // A hardware annotation of a global variable whose block declares
  // `declarations` and runs `statements`.
  void hardwareAnnotation(uint32_t globalId, std::vector<N> declarations,
                          std::vector<N> statements);
  // ---- raw nodes
  N node(uint32_t op, NodeValue value, N left = none, N right = none);
  N node(uint32_t op, uint32_t valueWord, N left = none, N right = none);
  AST_Node& at(N n);
  void setLine(N n, uint32_t line);

  // ---- output
  std::unique_ptr<Program> build();
  // Builds and writes a program file; returns the writer's result.
  int write(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  N parameters(const std::vector<Param>& params);
  AST_Node* ptr(N n);
  uint32_t bufferType(uint32_t kind, uint32_t element, uint32_t size, std::string name,
                      uint32_t storage);
  uint32_t processInstanceType_ = NO_ID;
  uint32_t systemType_ = NO_ID;
};

}  // namespace kova_test
