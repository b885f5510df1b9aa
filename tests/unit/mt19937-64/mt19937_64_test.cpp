// The 64-bit Mersenne Twister: its never-seeded state and reseeding. How the
// interpreter maps its words onto values is checked with scripted words.
#include <gtest/gtest.h>

#include <vector>

#include "mt19937-64/mt19937-64.h"

namespace {

std::vector<uint64_t> draw(size_t n) {
  std::vector<uint64_t> words(n);
  for (uint64_t& w : words) w = genrand64_int64();
  return words;
}

// Must run first in this executable: it observes the never-seeded state.
TEST(Mt19937_64, UnseededStartsFromSeed5489AndReseedingRepeats) {
  const std::vector<uint64_t> unseeded = draw(10000);
  EXPECT_EQ(unseeded.back(), 9981545732273789042u);
  init_genrand64(5489);
  EXPECT_EQ(draw(10000), unseeded);
  init_genrand64(42);
  EXPECT_NE(draw(10000), unseeded);
}

}  // namespace
