// Every diagnostic of the front end, written once: its name, its code (0 for
// a warning) and its exact text, a printf format.
//
// KOVA_DIAGNOSTICS(X) expands X(name, code, text) for each. It generates
// `diag::name(penv, args...)`, which reports the diagnostic through the
// environment's sink (the format checked against the arguments at compile
// time), and the table kDiagnostics.
#pragma once

#include <cstdint>

#include "parserLib/parser_error.h"

// clang-format off
#define KOVA_DIAGNOSTICS(X) \
  X(non_constant_initializer, 197, "non constant initialization expression allowed for local variables only\n") \
  X(wrong_value_type, 160, "affected value is not correct type (\"%s\" expected, but \"%s\" found)\n") \
  X(constant_out_of_range, 160, "constant value does not fit in type \"%s\"\n") \
  X(index_out_of_bounds, 155, "index value is out of array bounds (0 to %u)\n") \
  X(braces_around_initializer, 0, "braces around initializer\n") \
  X(unknown_type, 100, "type \"%s\" do not exist\n") \
  X(abstract_channel_buffer, 187, "abstract type \"channel\" not allowed for buffer declaration\n") \
  X(not_a_buffer_type, 179, "type \"%s\" is not a buffer type\n") \
  X(not_an_array_type, 150, "symbol type \"%s\" is not an array type\n") \
  X(choice_uniform_needs_enumeration, 129, "choice_uniform() function expects an enumeration type argument (\"%s\" found)\n") \
  X(push_on_in_channel, 189, "local channel \"%s\" is IN mode (\"push\" is forbidden)\n") \
  X(insert_sorted_needs_primitive, 189, "insert sorted in channel \"%s\" is only valid for primitive types\n") \
  X(uint8_print_target, 134, "first uint8.print() argument has to be a queue or an array\n") \
  X(uint8_print_target_element, 134, "first uint8.print() channel must be of type uint8 \n") \
  X(unknown_operation, 181, "unknown operation \"%s\"\n") \
  X(no_function_signature, 182, "invalid argument(s) for \"%s\" operation\n    available signatures are:\n%s") \
  X(unknown_method, 181, "unknown%s operation \"%s\" for type \"%s\"\n") \
  X(no_method_signature, 182, "invalid argument(s) for \"%s\"%s operation of type \"%s\"\n    available signatures are:\n%s") \
  X(unknown_builtin_field, 181, "unknown%s field \"%s\" for type \"%s\"\n") \
  X(time_unit_order, 0, "the time literal n°%zu in time literal expression has the same or an higher time unit (%s) than the previous one (%s)\n") \
  X(frequency_zero, 177, "a hertz frequency must be strictly greater than 0\n") \
  X(frequency_out_of_range, 183, "hertz frequency out of range (%.*e to %.*e only)\n") \
  X(not_a_variable_type, 100, "type \"%s\" cannot be the type of a variable\n") \
  X(include_not_found, 302, "include file \"%s\" not found\n") \
  X(include_cycle, 302, "include cycle: \"%s\" is already being compiled\n") \
  X(enumeration_literal_listed_twice, 100, "enumeration literal \"%s\" is listed twice\n") \
  X(type_already_defined, 100, "type \"%s\" is already defined\n") \
  X(channel_size_not_specified, 301, "channel size not specified\n") \
  X(field_declared_twice, 161, "field \"%s\" is declared twice\n") \
  X(structure_no_field, 100, "structure \"%s\" has no field\n") \
  X(duplicate_global, 303, "duplicate global \"%s\"\n") \
  X(process_instance_global, 303, "a global of type Process_Instance is declared by a process instance only\n") \
  X(parameter_declared_twice, 118, "parameter \"%s\" is declared twice\n") \
  X(builtin_function_name, 304, "\"%s\" is a built-in function\n") \
  X(init_takes_no_parameter, 304, "init() takes no parameter\n") \
  X(function_already_defined, 304, "function \"%s\" is already defined\n") \
  X(function_declarations_differ, 304, "function \"%s\" does not match its earlier declaration\n") \
  X(process_definition_already_defined, 305, "process definition \"%s\" is already defined\n") \
  X(process_declarations_differ, 305, "process definition \"%s\" does not match its earlier declaration\n") \
  X(name_declared_twice_in_process, 303, "\"%s\" is already declared in process \"%s\"\n") \
  X(transition_value_type, 160, "%s must be a %s value (\"%s\" found)\n") \
  X(state_declared_twice, 306, "state \"%s\" is declared twice\n") \
  X(unknown_state_process, 306, "unknown state \"%s\" in process \"%s\"\n") \
  X(instance_value_type, 160, "%s of \"%s\" must be a %s value (\"%s\" found)\n") \
  X(unknown_process_definition, 305, "unknown process definition \"%s\"\n") \
  X(process_definition_no_body, 305, "process definition \"%s\" has no body\n") \
  X(unknown_kova_annotation, 307, "unknown annotation \"@kova:%s\" (kova:time or kova:hardware)\n") \
  X(annotation_names_at_most_one, 307, "an annotation names at most one variable\n") \
  X(process_instance_already_timing_annotation, 307, "process instance \"%s\" already has a timing annotation\n") \
  X(system_library_not_found, 302, "system library \"%s\" not found\n") \
  X(condition_not_bool, 113, "only %s type allowed as a condition (%s found)\n") \
  X(undefined_identifier, 143, "undefined data identifier \"%s\"\n") \
  X(mixed_equality_chain, 98, "Multiple (in)equality expression must use the same operator (== or !=)\n") \
  X(integer_expected, 152, "positive integer type expected, but \"%s\" found\n") \
  X(unknown_post_symbol, 216, "unknown post symbol \"%s\"\n") \
  X(read_only_target, 153, "assignment left symbol is read-only mode\n") \
  X(whole_buffer_assignment, 159, "entire assignment on buffer forbidden\n") \
  X(wide_index_variable, 151, "64 bits integer type variables are forbidden as array index\n") \
  X(signed_index_variable, 0, "signed integer variable as array index\n") \
  X(unknown_field, 161, "Field \"%s\" do not exist in structure \"%s\"\n") \
  X(undefined_function, 156, "undefined function or local process instance call \"%s\"\n") \
  X(cast_argument_count, 156, "cast function accepts only 1 argument\n") \
  X(wrong_argument_type, 118, "wrong function \"%s\" parameter type (parameter \"%s\" expected type \"%s\", but \"%s\" found)\n") \
  X(out_argument_not_writable, 119, "OUT parameter must be a mutable data accessor\n") \
  X(wrong_argument_count, 117, "wrong function \"%s\" parameters number (%zu parameter(s) expected, but %zu found)\n") \
  X(wrong_subprocess_argument_count, 117, "wrong parameter number for subprocess instance call \"%s\"\n") \
  X(wrong_instance_argument_count, 117, "process instance \"%s\" needs %zu argument(s), but %zu are given\n") \
  X(program_too_large, 666, "program too large (more than %u nodes)\n") \
  X(statement_too_large, 666, "statement too large for the %u nodes left to the console\n") \
  X(print_argument_type, 134, "Type mismatch for parameter %d : expected %s, found %s\n") \
  X(print_argument_integer, 134, "Type mismatch for parameter %d : expected intX or uintX, found %s\n") \
  X(print_argument_string, 134, "Type mismatch for parameter %d : expected uint8 buffer or channel\n") \
  X(print_format_argument, 134, "first print() or println() argument has to be a uint8 channel or array\n") \
  X(print_trailing_percent, 134, "spurious trailing ‘%%’ in format\n") \
  X(print_unknown_conversion, 134, "unknown conversion type character '%c'\n") \
  X(print_missing_arguments, 134, "Print formats expects at least %d parameters, only %d found\n") \
  X(print_extra_arguments, 134, "too many arguments for format\n") \
  X(nested_too_deeply, 301, "statement nested too deeply (more than %d levels)\n") \
  X(syntax_error, 301, "%s before \"%s\" in this line:\n%s\n") \
  X(unclosed_bracket, 301, "expected '%s' to close '%s' at line %zu, but found \"%s\"\n") \
  X(unclosed_brace, 301, "'{' at line %zu is never closed\n") \
  X(static_not_allowed, 301, "static declaration not allowed in this scope") \
  X(constant_needs_initializer, 301, "constant \"%s\" declaration needs an initialization\n") \
  X(constant_channel, 301, "constant channel not allowed\n") \
  X(missing_semicolon_after_assignment, 301, "expect ';' after assignment\n") \
  X(missing_semicolon_after_statement, 301, "expect ';' after statement\n") \
  X(frequency_in_expression, 301, "Frequency cannot be used in conventional expression\n") \
  X(untyped_float_literal, 142, "cannot evaluate literal floating point expression type (is it %s or %s ?)\nPlease enforce float type using <float type>.as()\n") \
  X(float_literal_range, 0, "floating point literal \"%s\" exceeds %s range\n") \
  X(logical_operands_not_bool, 112, "only %s type allowed in logical comparison expression (%s and %s found)\n") \
  X(bitwise_operands, 130, "only same integer types allowed in bitwise operation (%s and %s found)\n") \
  X(shift_operands, 130, "only integer types and unsigned shift operand allowed in bitwise shift operation (%s and %s found)\n") \
  X(equality_operands, 106, "only same integer or %s or %s or %s or same enum types allowed in equality comparisons (%s and %s found)\n") \
  X(comparison_operands, 103, "only same integer or %s or %s or %s types allowed in comparisons (%s and %s found)\n") \
  X(multiplication_operands, 148, "only same integer or %s or %s type allowed in multiplications or divisions (%s and %s found)\n") \
  X(time_division, 196, "the only two possible division operations involving %s are:\n    %s / %s = %s\n    %s / %s = %s\n") \
  X(time_multiplication, 195, "a %s value can only be multiplied by a %s value\n") \
  X(addition_operands, 110, "only same integer or %s or %s or %s or %s types allowed in additions and subtractions (%s and %s found)\n") \
  X(modulo_operands, 1101, "only integer or %s types allowed in modulo operations (%s and %s found)\n") \
  X(bitwise_operand, 130, "only integer types allowed in bitwise operation (%s found)\n") \
  X(negation_operand, 120, "can not generate the opposite of this %s type value (integer or %s or %s type expected)\n") \
  X(negation_operand_not_bool, 113, "only %s type allowed in logical negation expression (%s found)\n") \
  X(deprecated_name, 0, "\"%s\" is deprecated\n") \
  X(deprecated_name_use_instead, 0, "\"%s\" is deprecated, please use \"%s\" instead\n") \
  X(variable_already_defined, 0, "variable \"%s\" already defined in this scope\n") \
  X(constant_already_defined, 0, "constant \"%s\" already defined in this scope\n") \
  X(variable_shadows_global, 0, "variable \"%s\" shadows definition of \"%s\" at global scope\n") \
  X(constant_shadows_global, 0, "constant \"%s\" shadows definition of \"%s\" at global scope\n") \
  X(descending_in_ascending_chain, 0, "'>' and '>=' should not be used in a '<' and '<=' multiple comparison expression\n") \
  X(ascending_in_descending_chain, 0, "'<' and '<=' should not be used in a '>' and '>=' multiple comparison expression\n") \
  X(unknown_token, 300, "unknown token!\n") \
  X(line_too_long, 51, "Max line length exceeded!\n") \
  X(unclosed_comment, 888, "Unclosed comment\n") \
  X(unknown_process_instance, 307, "unknown process instance \"%s\"\n") \
  X(unknown_global_variable, 307, "unknown global variable \"%s\"\n") \
  X(cannot_read_file, 302, "cannot read \"%s\"\n") \
  X(contains_itself, 305, "process definition \"%s\" contains itself through its sub-processes\n") \
  X(function_never_defined, 304, "function \"%s\" is declared but never defined\n") \
  X(process_never_defined, 305, "process definition \"%s\" is declared but never defined\n")
// clang-format on

namespace diag {

#define KOVA_DIAGNOSTIC_FUNCTION(name, code, text) \
  template <class... Args>                         \
  void name(ParserEnv* penv, Args... args) {       \
    if constexpr ((code) == 0) {                   \
      parser_warning(penv, text, args...);         \
    } else {                                       \
      parser_error(penv, (code), text, args...);   \
    }                                              \
  }
KOVA_DIAGNOSTICS(KOVA_DIAGNOSTIC_FUNCTION)
#undef KOVA_DIAGNOSTIC_FUNCTION

}  // namespace diag

struct DiagnosticEntry {
  const char* name;
  uint32_t code;
  const char* text;
};

inline constexpr DiagnosticEntry kDiagnostics[] = {
#define KOVA_DIAGNOSTIC_ENTRY(name, code, text) {#name, (code), text},
    KOVA_DIAGNOSTICS(KOVA_DIAGNOSTIC_ENTRY)
#undef KOVA_DIAGNOSTIC_ENTRY
};
