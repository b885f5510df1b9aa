// The call codes: the number in a call node that names what is called.
//
// Codes 0 to 5 are user functions, user structure fields and sub-processes;
// from 6 up they name the language's built-in functions, methods and fields.
// The numbering is shared by program files, the interpreter and the console's
// statement compiler and must never change. Written once: KOVA_CALL_CODES(X)
// expands X(name, value) for every code in order.
#pragma once

#include <cstdint>

#define KOVA_CALL_CODES(X)             \
  X(kCallFunctionRightCurrying, 0)     \
  X(kCallFunctionLeftCurrying, 1)      \
  X(kCallFunctionLeftRightCurrying, 2) \
  X(kCallFunctionCustom, 3)            \
  X(kCallFieldCustom, 4)               \
  X(kCallSubProcess, 5)                \
  X(kCallArrayMaxSize, 6)              \
  X(kCallArrayChoiceUniform, 7)        \
  X(kCallChnlPush, 8)                  \
  X(kCallChnlInsertSorted, 9)          \
  X(kCallChnlPop, 10)                  \
  X(kCallChnlPeek, 11)                 \
  X(kCallChnlClear, 12)                \
  X(kCallChnlMaxSize, 13)              \
  X(kCallChnlCount, 14)                \
  X(kCallChnlIsEmpty, 15)              \
  X(kCallChnlNotEmpty, 16)             \
  X(kCallChnlIsFull, 17)               \
  X(kCallChnlNotFull, 18)              \
  X(kCallChnlLastPeek, 19)             \
  X(kCallChnlChoiceUniform, 20)        \
  X(kCallTime, 21)                     \
  X(kCallAbsoluteTime, 22)             \
  X(kCallAdjustTime, 23)               \
  X(kCallSeed, 24)                     \
  X(kCallSeedWith, 25)                 \
  X(kCallRandExponential, 26)          \
  X(kCallRandGauss, 27)                \
  X(kCallRandUniform, 28)              \
  X(kCallChoiceUniformArray, 29)       \
  X(kCallChoiceUniformChannel, 30)     \
  X(kCallChoiceUniformEnum, 31)        \
  X(kCallPrint, 32)                    \
  X(kCallPrintValues, 33)              \
  X(kCallPrintln, 34)                  \
  X(kCallPrintlnFormat, 35)            \
  X(kCallPrintlnValues, 36)            \
  X(kCallStringPrint, 37)              \
  X(kCallStringPrintValues, 38)        \
  X(kCallSleep, 39)                    \
  X(kCallExit, 40)                     \
  X(kCallAssert, 41)                   \
  X(kCallSyncIO, 42)                   \
  X(kCallBoardSpecial43, 43)           \
  X(kCallBoardSpecial44, 44)           \
  X(kCallBoardSpecial45, 45)           \
  X(kCallBoardSpecial46, 46)           \
  X(kCallIterRemoveCurrent, 47)        \
  X(kCallIterCurrent, 48)              \
  X(kCallIterIndex, 49)                \
  X(kCallIterIsLast, 50)               \
  X(kCallUInt8First, 51)               \
  X(kCallUInt8Last, 52)                \
  X(kCallSInt8First, 53)               \
  X(kCallSInt8Last, 54)                \
  X(kCallUInt16First, 55)              \
  X(kCallUInt16Last, 56)               \
  X(kCallSInt16First, 57)              \
  X(kCallSInt16Last, 58)               \
  X(kCallUInt32First, 59)              \
  X(kCallUInt32Last, 60)               \
  X(kCallSInt32First, 61)              \
  X(kCallSInt32Last, 62)               \
  X(kCallUInt64First, 63)              \
  X(kCallUInt64Last, 64)               \
  X(kCallSInt64First, 65)              \
  X(kCallSInt64Last, 66)               \
  X(kCallTime64First, 67)              \
  X(kCallTime64Last, 68)               \
  X(kCallDuration64First, 69)          \
  X(kCallDuration64Last, 70)           \
  X(kCallF32First, 71)                 \
  X(kCallF32Last, 72)                  \
  X(kCallF64First, 73)                 \
  X(kCallF64Last, 74)                  \
  X(kCallUInt8Max, 75)                 \
  X(kCallUInt8Min, 76)                 \
  X(kCallSInt8Max, 77)                 \
  X(kCallSInt8Min, 78)                 \
  X(kCallUInt8RandUniform, 79)         \
  X(kCallSInt8RandUniform, 80)         \
  X(kCallUInt16Max, 81)                \
  X(kCallUInt16Min, 82)                \
  X(kCallSInt16Max, 83)                \
  X(kCallSInt16Min, 84)                \
  X(kCallUInt16RandUniform, 85)        \
  X(kCallSInt16RandUniform, 86)        \
  X(kCallUInt32Max, 87)                \
  X(kCallUInt32Min, 88)                \
  X(kCallSInt32Max, 89)                \
  X(kCallSInt32Min, 90)                \
  X(kCallUInt32RandUniform, 91)        \
  X(kCallSInt32RandUniform, 92)        \
  X(kCallUInt64Max, 93)                \
  X(kCallUInt64Min, 94)                \
  X(kCallSInt64Max, 95)                \
  X(kCallSInt64Min, 96)                \
  X(kCallUInt64RandUniform, 97)        \
  X(kCallSInt64RandUniform, 98)        \
  X(kCallTime64Max, 99)                \
  X(kCallTime64Min, 100)               \
  X(kCallDuration64Max, 101)           \
  X(kCallDuration64Min, 102)           \
  X(kCallTime64RandUniform, 103)       \
  X(kCallDuration64RandUniform, 104)   \
  X(kCallBoolRandUniform, 105)         \
  X(kCallCast, 106)                    \
  X(kCallAs, 107)                      \
  X(kCallUInt8RandParetoF32, 108)      \
  X(kCallUInt16RandParetoF32, 109)     \
  X(kCallUInt32RandParetoF32, 110)     \
  X(kCallUInt64RandParetoF32, 111)     \
  X(kCallF32Max, 112)                  \
  X(kCallF32Min, 113)                  \
  X(kCallF32RandPareto, 114)           \
  X(kCallF32RandParetoScaled, 115)     \
  X(kCallF32Cos, 116)                  \
  X(kCallF32Sin, 117)                  \
  X(kCallF32Atan, 118)                 \
  X(kCallF32Sqrt, 119)                 \
  X(kCallF32Pow, 120)                  \
  X(kCallF32Abs, 121)                  \
  X(kCallF32Log, 122)                  \
  X(kCallF32RandUniform, 123)          \
  X(kCallUInt8RandParetoF64, 124)      \
  X(kCallUInt16RandParetoF64, 125)     \
  X(kCallUInt32RandParetoF64, 126)     \
  X(kCallUInt64RandParetoF64, 127)     \
  X(kCallF64Max, 128)                  \
  X(kCallF64Min, 129)                  \
  X(kCallF64RandPareto, 130)           \
  X(kCallF64RandParetoScaled, 131)     \
  X(kCallF64Cos, 132)                  \
  X(kCallF64Sin, 133)                  \
  X(kCallF64Atan, 134)                 \
  X(kCallF64Sqrt, 135)                 \
  X(kCallF64Pow, 136)                  \
  X(kCallF64Abs, 137)                  \
  X(kCallF64Log, 138)                  \
  X(kCallF64RandUniform, 139)          \
  X(kCallEnumChoiceUniform, 140)       \
  X(kCallUInt8Abs, 141)                \
  X(kCallUInt16Abs, 142)               \
  X(kCallUInt32Abs, 143)               \
  X(kCallUInt64Abs, 144)

enum CallCode : uint32_t {
#define KOVA_CALL_ENUM(name, value) name = value,
  KOVA_CALL_CODES(KOVA_CALL_ENUM)
#undef KOVA_CALL_ENUM
      kCallCodeCount
};

// The code's name, or null for a value that names no code.
const char* CallCode_getName(uint32_t code);
