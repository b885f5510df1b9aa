// The driver's source of random words: the 64-bit Mersenne Twister
// (MT19937-64), one state for the whole process.
//
// std::mt19937_64 is that very generator (same tables, constants, tempering
// and seeding), so a run reproduces the reference generator's numbers. Until
// it is seeded, it draws the sequence of seed 5489. Not thread-safe: the
// interpreter draws from one thread.
#pragma once

#include <cstdint>

// Re-seeds the state; the following outputs are the sequence of `seed`.
void init_genrand64(uint64_t seed);

// The next 64-bit output.
uint64_t genrand64_int64();
