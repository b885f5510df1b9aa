// Call execution: one switch over the call code. Calls that belong to other
// modules (buffers, iterators, random draws, numeric built-ins, printing)
// are delegated after their arguments are evaluated in the documented order.
#include "ASTLib/call_codes.h"
#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/conversion.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/iterator.h"
#include "interpreterLib/numeric_builtins.h"
#include "interpreterLib/print_format.h"
#include "interpreterLib/process.h"
#include "interpreterLib/random.h"

namespace {

// The call's pieces, read once.
struct Call {
  InterpEnv* env;
  const AST_Node* node;
  const AST_Node* index;  // the INDEX_NODE with the code and the object
  const AST_Node* args;

  const AST_Node* objectNode() const { return AST_child(env->program.get(), index->left); }
  TaggedValue object() const { return expr_execute(env, objectNode()); }
  const AST_Node* argNode(uint32_t n) const {
    return args == nullptr ? nullptr : AST_getListNth(env->program.get(), args, n);
  }
  TaggedValue arg(uint32_t n) const { return expr_execute(env, argNode(n)); }
  uint32_t resultType() const { return node->value.id.type; }
  // The type an object or argument names (a type reference evaluates to it).
  uint32_t namedType(TaggedValue typeValue) const { return typeValue.value->u32; }
};

// Codes 0 and 2: a user function whose last out parameter is the result.
TaggedValue functionValue(const Call& c) {
  InterpEnv* env = c.env;
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
  const TaggedValue* result = LocalVariable_declare(env, c.resultType());
  value_clear(env, *result);
  function_executeCallCurrying(env, AST_getCustomFuncId(env->program.get(), c.node), c.args,
                               result);
  const TaggedValue copy = interpStack_pushForcedTypeValue(env, c.resultType(), *result);
  Variable_restorePrevLocalVarCounts(env, saved);
  return copy;
}

// Codes 8 and 9: a push into a global channel is offered to the host first.
TaggedValue channelPush(const Call& c, bool sorted) {
  InterpEnv* env = c.env;
  const TaggedValue value = c.arg(0);
  const TaggedValue channel = c.object();
  if (channel.globalId != NO_ID) {
    ENV_CHECK(env, channel.globalId < env->program->infoProg->n_globalVariables,
              "channel.globalId < env->program->infoProg->n_globalVariables");
    ENV_CHECK(env, env->ctx->var_change_callback != nullptr,
              "env->ctx->var_change_callback != NULL");
    if (env->ctx->var_change_callback[channel.globalId](env, channel.globalId, kVarPush, value) !=
        0) {
      return kNoValue;
    }
  }
  if (sorted) {
    channel_insert_sorted(env, c.node, channel, value.value);
  } else {
    channel_push(env, c.node, channel, value.value);
  }
  return kNoValue;
}

// Code 23: the local clock moves back by d, and with it the scheduler's
// reference and the run's limit, so pending activations are not counted twice.
TaggedValue adjustTime(const Call& c) {
  const TaggedValue d = c.arg(0);
  Context& ctx = *c.env->ctx;
  const uint64_t delta = d.value->u64;
  // The clock may not move back past its origin.
  if (delta > c.env->ctx->get_local_time_callback(c.env)) {
    interp_failure(c.env, "Time overflow\n");
    return d;
  }
  ctx.localTimeOffset = static_cast<int64_t>(static_cast<uint64_t>(ctx.localTimeOffset) - delta);
  ctx.sched_now -= delta;
  ctx.until_time -= delta;
  return d;
}

// Code 4: the offset and the field's type come from the program file, the
// structure from whatever the object evaluated to; the field must lie inside.
TaggedValue fieldValue(const Call& c) {
  const TaggedValue object = c.object();
  return field_ofObject(c.env, object, c.resultType(),
                        AST_getCustomFldOffsetId(c.env->program.get(), c.node));
}

TaggedValue retag(TaggedValue v, uint32_t typeId) {
  v.typeId = typeId;
  return v;
}

}  // namespace

TaggedValue field_ofObject(InterpEnv* env, TaggedValue object, uint32_t fieldTypeId,
                           uint32_t offset) {
  const Program* program = env->program.get();
  const uint32_t nType = program->infoProg->n_type;
  if (object.typeId >= nType || fieldTypeId >= nType ||
      uint64_t{offset} + program->typeTable[fieldTypeId].storageSize >
          program->typeTable[object.typeId].storageSize) [[unlikely]] {
    interp_failure(env, "Field at cell %u outside its structure\n", offset);
    return kEmptyValue;
  }
  return field_get(env, object, fieldTypeId, offset);
}

TaggedValue interp_executeCall(InterpEnv* env, const AST_Node* node) {
  const Program* program = env->program.get();
  const AST_Node* index = AST_child(program, node->left);
  const Call c{env, node, index, AST_child(program, node->right)};
  switch (static_cast<CallCode>(index->value.id.index)) {
    case kCallFunctionRightCurrying:
    case kCallFunctionLeftRightCurrying: return functionValue(c);
    case kCallFunctionLeftCurrying:
      function_executeCall(env, AST_getCustomFuncId(program, node), c.args);
      return c.arg(0);
    case kCallFunctionCustom:
      function_executeCall(env, AST_getCustomFuncId(program, node), c.args);
      return kNoValue;
    case kCallFieldCustom: return fieldValue(c);
    case kCallSubProcess:
      return process_subProcessCall(env, AST_getCallSubProcId(program, node), c.args);

    case kCallArrayMaxSize:
      return interpStack_pushSize(env, Type_getSize(program, c.object().typeId));
    case kCallArrayChoiceUniform: return array_choiceUniform(env, c.objectNode());
    case kCallChoiceUniformArray: return array_choiceUniform(env, c.argNode(0));
    case kCallChnlPush: return channelPush(c, false);
    case kCallChnlInsertSorted: return channelPush(c, true);
    case kCallChnlPop: return channel_pop(env, node, c.object());
    case kCallChnlPeek: return channel_peek(env, node, c.object());
    case kCallChnlLastPeek: return channel_lastpeek(env, node, c.object());
    case kCallChnlClear: channel_clear(env, c.object()); return kNoValue;
    case kCallChnlMaxSize: return channel_size(env, c.object());
    case kCallChnlCount: return interpStack_pushSize(env, channel_count(env, c.object()));
    case kCallChnlIsEmpty: return channel_isEmpty(env, c.object());
    case kCallChnlIsFull: return channel_isFull(env, c.object());
    case kCallChnlNotEmpty: return interpStack_pushBoolean(env, !is_channel_empty(env, c.object()));
    case kCallChnlNotFull: return interpStack_pushBoolean(env, !is_channel_full(env, c.object()));
    case kCallChnlChoiceUniform: return channel_choiceUniform(env, c.objectNode());
    case kCallChoiceUniformChannel: return channel_choiceUniform(env, c.argNode(0));

    case kCallTime:
      ENV_CHECK(env, c.args == nullptr, "((void *)0) == args");
      return time_currentUInt64(env);
    case kCallAbsoluteTime:
      ENV_CHECK(env, c.args == nullptr, "((void *)0) == args");
      return time_absoluteUInt64(env);
    case kCallAdjustTime: return adjustTime(c);

    case kCallSeed: return random_seedTime(env);
    case kCallSeedWith: {
      const TaggedValue seed = c.arg(0);
      random_seed(env, TaggedValue_asUInt64(seed, CONV_VALUE_KEPT));
      return seed;
    }
    case kCallRandExponential: return random_exponential_f32(env, c.arg(0));
    case kCallRandGauss: {
      const TaggedValue mean = c.arg(0);
      return random_gauss_f32(env, mean, c.arg(1));
    }
#define KOVA_UNIFORM(code, fn)      \
  case code: {                      \
    const TaggedValue a = c.arg(0); \
    return fn(env, a, c.arg(1));    \
  }
      KOVA_UNIFORM(kCallRandUniform, uInt32_randomUniform)
      KOVA_UNIFORM(kCallUInt8RandUniform, uInt8_randomUniform)
      KOVA_UNIFORM(kCallSInt8RandUniform, sInt8_randomUniform)
      KOVA_UNIFORM(kCallUInt16RandUniform, uInt16_randomUniform)
      KOVA_UNIFORM(kCallSInt16RandUniform, sInt16_randomUniform)
      KOVA_UNIFORM(kCallUInt32RandUniform, uInt32_randomUniform)
      KOVA_UNIFORM(kCallSInt32RandUniform, sInt32_randomUniform)
      KOVA_UNIFORM(kCallUInt64RandUniform, uInt64_randomUniform)
      KOVA_UNIFORM(kCallSInt64RandUniform, sInt64_randomUniform)
      KOVA_UNIFORM(kCallF32RandUniform, random_uniform_f32)
      KOVA_UNIFORM(kCallF64RandUniform, random_uniform_f64)
#undef KOVA_UNIFORM
    case kCallTime64RandUniform: {
      const TaggedValue a = c.arg(0);
      return retag(uInt64_randomUniform(env, a, c.arg(1)), TypeTime64);
    }
    case kCallDuration64RandUniform: {
      const TaggedValue a = c.arg(0);
      return retag(sInt64_randomUniform(env, a, c.arg(1)), TypeDuration64);
    }
    case kCallBoolRandUniform: return bool_randomUniform(env);
    case kCallF32RandPareto:
    case kCallF32RandParetoScaled: return random_pareto_f32(env, c.args);
    case kCallF64RandPareto:
    case kCallF64RandParetoScaled: return random_pareto_f64(env, c.args);
    case kCallUInt8RandParetoF32: return uInt8_random_pareto_f32(env, c.args);
    case kCallUInt16RandParetoF32: return uInt16_random_pareto_f32(env, c.args);
    case kCallUInt32RandParetoF32: return uInt32_random_pareto_f32(env, c.args);
    case kCallUInt64RandParetoF32: return uInt64_random_pareto_f32(env, c.args);
    case kCallUInt8RandParetoF64: return uInt8_random_pareto_f64(env, c.args);
    case kCallUInt16RandParetoF64: return uInt16_random_pareto_f64(env, c.args);
    case kCallUInt32RandParetoF64: return uInt32_random_pareto_f64(env, c.args);
    case kCallUInt64RandParetoF64: return uInt64_random_pareto_f64(env, c.args);
    case kCallChoiceUniformEnum: return random_choiceUniformEnum(env, c.namedType(c.arg(0)));
    case kCallEnumChoiceUniform:
      ENV_CHECK(env, c.args == nullptr, "args == ((void *)0)");
      return random_choiceUniformEnum(env, c.namedType(c.object()));

    case kCallPrint:
    case kCallPrintValues: print_format(env, c.args); return kNoValue;
    case kCallPrintln:
    case kCallPrintlnFormat:
    case kCallPrintlnValues: print_formatLine(env, c.args); return kNoValue;
    case kCallStringPrint:
    case kCallStringPrintValues: string_print_format(env, c.args); return kNoValue;
    case kCallSleep: {
      ENV_CHECK(env, env->ctx->delay_callback != nullptr, "env->ctx->delay_callback != NULL");
      env->ctx->delay_callback(env, TaggedValue_asUInt64(c.arg(0), CONV_VALUE_KEPT));
      return kNoValue;
    }
    case kCallExit: interp_exit(env, c.argNode(1)->value.id.index, c.argNode(0)); return kNoValue;
    case kCallAssert:
      interp_assert(env, c.argNode(2)->value.id.index, c.argNode(0), c.argNode(1), c.argNode(3));
      return kNoValue;
    case kCallSyncIO:
      env->ctx->syncio_callback_input(env);
      env->ctx->syncio_callback(env);
      return kNoValue;
    case kCallBoardSpecial43:
    case kCallBoardSpecial44:
    case kCallBoardSpecial45:
    case kCallBoardSpecial46:
      interp_failure(env,
                     "Forbidden use of special FRDMK64F function (IO.measure_c10_c11, "
                     "IO.pulse_out_c10, IO.pulse_in_c11, etc) methods in off-line context.");
      return kNoValue;

    case kCallIterRemoveCurrent: iterator_remove(env, c.object()); return kNoValue;
    case kCallIterCurrent: return iterator_current(env, c.object());
    case kCallIterIndex: return iterator_index(env, c.object());
    case kCallIterIsLast: return iterator_isLast(env, c.object());

    case kCallUInt8First:
    case kCallUInt8Last:
    case kCallSInt8First:
    case kCallSInt8Last:
    case kCallUInt16First:
    case kCallUInt16Last:
    case kCallSInt16First:
    case kCallSInt16Last:
    case kCallUInt32First:
    case kCallUInt32Last:
    case kCallSInt32First:
    case kCallSInt32Last:
    case kCallUInt64First:
    case kCallUInt64Last:
    case kCallSInt64First:
    case kCallSInt64Last:
    case kCallTime64First:
    case kCallTime64Last:
    case kCallDuration64First:
    case kCallDuration64Last:
    case kCallF32First:
    case kCallF32Last:
    case kCallF64First:
    case kCallF64Last: return type_constant(env, index->value.id.index);

    case kCallUInt8Max: return uInt8_max(env, c.args);
    case kCallUInt8Min: return uInt8_min(env, c.args);
    case kCallSInt8Max: return sInt8_max(env, c.args);
    case kCallSInt8Min: return sInt8_min(env, c.args);
    case kCallUInt16Max: return uInt16_max(env, c.args);
    case kCallUInt16Min: return uInt16_min(env, c.args);
    case kCallSInt16Max: return sInt16_max(env, c.args);
    case kCallSInt16Min: return sInt16_min(env, c.args);
    case kCallUInt32Max: return uInt32_max(env, c.args);
    case kCallUInt32Min: return uInt32_min(env, c.args);
    case kCallSInt32Max: return sInt32_max(env, c.args);
    case kCallSInt32Min: return sInt32_min(env, c.args);
    case kCallUInt64Max: return uInt64_max(env, c.args);
    case kCallUInt64Min: return uInt64_min(env, c.args);
    case kCallSInt64Max: return sInt64_max(env, c.args);
    case kCallSInt64Min: return sInt64_min(env, c.args);
    case kCallTime64Max: return retag(uInt64_max(env, c.args), TypeTime64);
    case kCallTime64Min: return retag(uInt64_min(env, c.args), TypeTime64);
    case kCallDuration64Max: return retag(sInt64_max(env, c.args), TypeDuration64);
    case kCallDuration64Min: return retag(sInt64_min(env, c.args), TypeDuration64);
    case kCallF32Max: return f32_max(env, c.args);
    case kCallF32Min: return f32_min(env, c.args);
    case kCallF64Max: return f64_max(env, c.args);
    case kCallF64Min: return f64_min(env, c.args);

    case kCallCast: return interpStack_pushForcedTypeValue(env, c.namedType(c.object()), c.arg(0));
    case kCallAs: {
      const uint32_t target = c.namedType(c.object());
      return expr_conversion(env, target, c.arg(0));
    }

    case kCallF32Cos: return f32_cos(env, c.args);
    case kCallF32Sin: return f32_sin(env, c.args);
    case kCallF32Atan: return f32_atan(env, c.args);
    case kCallF32Sqrt: return f32_sqrt(env, c.args);
    case kCallF32Pow: return f32_pow(env, c.args);
    case kCallF32Abs: return f32_abs(env, c.args);
    case kCallF32Log: return f32_log(env, c.args);
    case kCallF64Cos: return f64_cos(env, c.args);
    case kCallF64Sin: return f64_sin(env, c.args);
    case kCallF64Atan: return f64_atan(env, c.args);
    case kCallF64Sqrt: return f64_sqrt(env, c.args);
    case kCallF64Pow: return f64_pow(env, c.args);
    case kCallF64Abs: return f64_abs(env, c.args);
    case kCallF64Log: return f64_log(env, c.args);
    case kCallUInt8Abs: return uInt8_abs(env, c.args);
    case kCallUInt16Abs: return uInt16_abs(env, c.args);
    case kCallUInt32Abs: return uInt32_abs(env, c.args);
    case kCallUInt64Abs: return uInt64_abs(env, c.args);

    case kCallCodeCount: break;
  }
  return kNoValue;  // a code outside the table does nothing
}
