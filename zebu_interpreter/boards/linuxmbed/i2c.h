// I2C buses 0 to 2 through the Linux I2C character devices /dev/i2c-N.
//
// A program talks to a slave through up to three globals per bus, bound by
// name (i2c_N_cmd, i2c_N_out, i2c_N_in, anywhere in the name): a command
// structure {address: uint8, size: uint8}, an out channel of the bytes to
// send and an in channel that receives the answer. At each synchronisation
// an open bus whose command names a slave (address not 0) selects it, writes
// the queued bytes (at most 5; more wait for the next request) in one
// transaction, reads the answer in pieces of at most 5 bytes until `size`
// bytes have come, plus the read of 0 bytes that ends the loop, and clears
// the command. A failed slave selection clears only the size, so the request
// is tried again at the next synchronisation without reading.
//
// A bus opens with its first variable and stays open until i2c_ports_close.
// Once every variable is bound, a bus without a usable command or out
// variable (or with an in variable that is not a byte channel) is closed with
// a message and never exchanges anything.
#pragma once

#include <regex.h>

#include <array>
#include <cstdint>
#include <span>

#include "ASTLib/rENV.h"

inline constexpr int kI2cBusCount = 3;
// The most bytes one write or one read moves.
inline constexpr uint32_t kI2cChunk = 5;
// The ioctl that selects the slave address of the following transfers.
inline constexpr unsigned long kI2cSlave = 0x0703;

struct I2cPort {
  int32_t fd;  // 0 while the bus is not open
  uint32_t cmdVar;
  uint32_t outVar;
  uint32_t inVar;
};
extern std::array<I2cPort, kI2cBusCount> i2c_ports;

// Every bus closed and unbound.
void i2c_ports_init();
// Binds a global whose name matched "i2c_([0-2])_((cmd)|(out)|(in))" with
// these sub-matches; opens the bus at its first variable.
void init_port_i2c(std::span<const regmatch_t> matches, const char* name, uint32_t varIndex);
// After all names are bound: closes, with a message, every open bus that
// cannot exchange.
void i2c_ports_check(InterpEnv* env);
// One exchange on every open bus.
void sync_i2c(InterpEnv* env);
void sync_i2c_port(InterpEnv* env, int32_t fd, uint32_t cmdVar, uint32_t outVar, uint32_t inVar);
// Closes the open buses and unbinds their variables.
void i2c_ports_close();
