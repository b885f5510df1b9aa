// Built-in call prototypes: which call code a call of a built-in function,
// method or field gets, what it yields, and how it is checked.
//
// Three constant tables list every built-in: `functionTable` (free
// functions), `methodTable` (object.name(args), the object being a value or a
// type name) and `fieldTable` (object.name). Look-up takes the first entry of
// the called name whose object category matches, never a later one; the
// overload is the entry's first signature whose arguments match. Type ids in
// a signature may be markers (counted down from 0xFFFFFFFF) that stand for
// the object's type, its element type, or the first argument's type; they
// are resolved against the call when it is built. Names are compared by
// text, so the tables carry no per-program state.
//
// The make functions report what is wrong with the front end's diagnostics
// and yield null; they never trust the shape of the nodes they are given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "parserLib/parser_data.h"

// Markers, below every real type id (the front end refuses a program whose
// type count reaches kProtoReserved).
inline constexpr uint32_t kProtoVariadic = 0xFFFFFFFFu - 1;      // ends a list: more of the last
inline constexpr uint32_t kProtoObjType = 0xFFFFFFFFu - 2;       // the object's (named) type
inline constexpr uint32_t kProtoObjBaseType = 0xFFFFFFFFu - 3;   // its element type
inline constexpr uint32_t kProtoArg1Type = 0xFFFFFFFFu - 4;      // result only
inline constexpr uint32_t kProtoArg1BaseType = 0xFFFFFFFFu - 5;  // result only
inline constexpr uint32_t kProtoReserved = 0xFFFFFFFFu - 6;

// Access right of a field that is the right of the buffer an iterator walks.
inline constexpr uint32_t kAccessInherited = 4;

// Runs on a call node right after it is built; false when the call is refused
// (the diagnostic is reported).
using ProtoMakeCallback = bool (*)(ParserEnv* penv, AST_Node* call);
// Runs on every call node of the signature during the check pass.
using ProtoCheckCallback = void (*)(ParserEnv* penv, AST_Node* call);

inline constexpr size_t kMaxProtoArgs = 5;  // room for the longest list and its end
inline constexpr size_t kMaxSntrs = 3;

// One overload. `args` ends with TypeVoid or kProtoVariadic.
struct sntr {
  uint32_t code;
  uint32_t retTypeId;
  std::array<uint32_t, kMaxProtoArgs> args;
  ProtoMakeCallback make;
  ProtoCheckCallback check;
};

struct SntrList {
  uint32_t n;
  std::array<sntr, kMaxSntrs> list;
};

// What an entry applies to: a category (Type, <input/output>, Array, Channel,
// <sized channel>, <unsized channel>, Iterator, <sized array>, <unsized
// array>) and, for Type, the type the operation belongs to (else TypeVoid).
struct ObjType {
  uint32_t category;
  uint32_t typeId;
};

struct FunctionProto {
  const char* name;
  const char* deprecated;  // the replacement to suggest; null when current
  bool isConst;
  SntrList sntrs;
};

struct MethodProto {
  ObjType objType;
  const char* name;
  const char* deprecated;
  bool isConst;
  SntrList sntrs;
};

struct FieldProto {
  ObjType objType;
  const char* name;
  const char* deprecated;
  bool isConst;
  uint32_t code;
  uint32_t retTypeId;
  uint32_t accessRights;  // kAccessRead, kAccessReadWrite or kAccessInherited
  ProtoMakeCallback make;
  ProtoCheckCallback check;
};

extern const std::span<const FunctionProto> functionTable;
extern const std::span<const MethodProto> methodTable;
extern const std::span<const FieldProto> fieldTable;

// Asserts that no type id can be taken for a marker, then interns every
// built-in name in the program's symbol table.
void parser_initBuiltinCalls(ParserEnv* penv);

// ---- look-up (first entry of the name that fits; null when none)

const FunctionProto* lookupFunctionProtos(ParserEnv* penv, uint32_t nameSymbol);
const MethodProto* lookupMethodProtos(ParserEnv* penv, AST_Node* object, uint32_t nameSymbol);
const FieldProto* lookupFieldProto(ParserEnv* penv, AST_Node* object, uint32_t nameSymbol);
// Whether the object expression belongs to the category (and, for a type
// name, names the entry's type or one derived from it).
bool isObjMatchingType(ParserEnv* penv, AST_Node* object, ObjType objType);

// The type that markers kProtoObjType and kProtoObjBaseType stand for: the
// object's type, or the type it names when it is a type name; NO_ID for no
// object.
uint32_t protoObjectType(ParserEnv* penv, AST_Node* object);

// ---- overloads

// Whether the argument list (null: none) fits the signature; `objType` and
// `category` resolve the object markers.
bool areArgsMatchingSntr(ParserEnv* penv, const sntr& s, uint32_t objType, uint32_t category,
                         AST_Node* args);
const sntr* searchMatchingFunction(ParserEnv* penv, const FunctionProto& entry, AST_Node* args);
const sntr* searchMatchingMethod(ParserEnv* penv, const MethodProto& entry, AST_Node* object,
                                 AST_Node* args);
// A signature's result type with its marker resolved; NO_ID when it cannot be.
uint32_t getRealRetType(ParserEnv* penv, uint32_t retTypeId, uint32_t objType, uint32_t category,
                        AST_Node* args);

// ---- building calls (null on error, reported)

// nameSymbol: a SYM node holding the symbol id; args: the argument LIST or null.
AST_Node* builtinFunc_makeCall(ParserEnv* penv, AST_Node* nameSymbol, AST_Node* args);
// When no built-in method fits but the name is a user function, the call is
// that function's with the object as first argument.
AST_Node* builtinMtd_makeCall(ParserEnv* penv, AST_Node* object, AST_Node* nameSymbol,
                              AST_Node* args);
AST_Node* builtinFld_makeCall(ParserEnv* penv, AST_Node* object, AST_Node* nameSymbol);

// ---- properties of built calls

enum class ProtoTable { None, Field, Function, Method };

struct CallProto {
  ProtoTable table = ProtoTable::None;
  const FieldProto* field = nullptr;
  const FunctionProto* function = nullptr;
  const MethodProto* method = nullptr;
  uint32_t idx = 0;  // signature index for functions and methods
};

// The entry a call of code 6 or more was built from (table None otherwise).
// A call without arguments that fits both a field and a method is the
// field's, unless the field is deprecated and the method is not.
CallProto retrieveCallProto(ParserEnv* penv, const AST_Node* call);
bool defCall_isConst(ParserEnv* penv, const AST_Node* call);
uint32_t defCall_getAccessRights(ParserEnv* penv, const AST_Node* call);
// Whether `call` is a call of that code; customId NO_ID accepts any custom id.
bool defCall_is(const Program* program, const AST_Node* call, uint32_t code, uint32_t customId);

// ---- check pass

// Runs the check-callbacks of every built-in call below the global definitions.
void parser_checkBuiltinCalls(ParserEnv* penv);
// Runs the check-callback of one call (no-op for anything else).
void parser_checkBuiltinCall(ParserEnv* penv, AST_Node* call);
// Runs the check-callbacks of every built-in call in a subtree, children first.
void parser_checkBuiltinTree(ParserEnv* penv, AST_Node* root);

// Checks a format and its values (the argument list of print and println);
// false when a diagnostic was reported.
bool defFunc_checkPrintCall(ParserEnv* penv, AST_Node* args);

// ---- descriptions for diagnostics

// "result(arg, arg...)" with markers resolved against objType.
std::string allocSntrDesc(const Program* program, const sntr& s, uint32_t objType,
                          uint32_t category);
// Every signature's description, each followed by a newline.
std::string allocAllSntrDesc(const Program* program, const SntrList& sntrs, uint32_t objType,
                             uint32_t category);
