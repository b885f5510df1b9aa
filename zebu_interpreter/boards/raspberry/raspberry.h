// The Raspberry Pi board: binds global variables to hardware, moves their
// values at every synchronisation point, and gives real time its clock and
// its sleep.
//
// Binding is by name: a global whose name contains pinN_in or pinN_out
// (N from 0 to 29, the GPIO library's numbering) is bound to that pin; a bool
// is a digital pin, a uint32 output a software PWM of range 100. Names of the
// I2C, serial and CAN forms and the UDP descriptors of hardware annotations
// are recognised here and handed to their bus modules, which the board
// initialises, synchronises and closes with the pins.
//
// The board owns no copy of a value: synchronisation reads and writes the
// variables' cells directly, so the board's writes are no assignments (no
// trace line, no change callback). A binding error prints its message on
// standard output and ends the process (statuses 1, 2 and 4).
//
// Order of use by the driver: board_init before loading; board_variable_setup
// after the callbacks are installed and before the environment's
// initialisation (variables are still zero-filled then); board_syncio and
// board_syncio_input as the synchronisation callbacks; board_gettime and
// board_delay in real-time mode; board_exit on the way out.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "ASTLib/rENV.h"

inline constexpr int kBoardPinCount = 30;

// Global variable index bound to each pin, -1 when unbound.
extern std::array<int32_t, kBoardPinCount> output_pins_varID;
extern std::array<int32_t, kBoardPinCount> input_pins_varID;

// Sets every entry of a pin table to -1.
void tabpins_init(std::span<int32_t, kBoardPinCount> table);

// Prepares the GPIO library (its result is ignored) and clears the pin tables.
void board_init(InterpEnv* env);
// Binds hardware annotations, then every global variable by its name.
void board_variable_setup(InterpEnv* env);

// Bound input pins into their bool variables: 1 when the pin reads high.
void raspberry_sync_input(InterpEnv* env);
// Bound output variables onto their pins: a bool drives the level, a uint32
// sets the PWM duty to its value modulo 100.
void raspberry_sync_output(InterpEnv* env);
// The synchronisation callback: pin inputs, pin outputs, I2C, files, serial,
// CAN, UDP.
void board_syncio(InterpEnv* env);
// The input synchronisation callback: files only.
void board_syncio_input(InterpEnv* env);

// The monotonic clock in picoseconds.
uint64_t board_gettime(InterpEnv* env);
// Sleeps duration_ps (truncated to nanoseconds) on the monotonic clock, on
// through signals unless the run was asked to stop; flushes standard output
// first. Below 1 ns it returns at once. A refused sleep is reported through
// the assert callback.
void board_delay(InterpEnv* env, uint64_t duration_ps);
// `result` of regcomp or regexec as it is, except that REG_ESPACE (no memory)
// ends the process with "Memory error" and status 10: a name must never go
// unbound because the library could not allocate.
int regexMemoryCheck(int result);

// Called once on every exit path: closes the I2C, serial, CAN and UDP ports;
// pins keep their last state.
void board_exit(InterpEnv* env, uint32_t line, uint8_t code);
