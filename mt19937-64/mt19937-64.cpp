#include "mt19937-64/mt19937-64.h"

#include <random>

namespace {

// Default-constructed, the engine starts from seed 5489.
std::mt19937_64& generator() {
  static std::mt19937_64 engine;
  return engine;
}

}  // namespace

void init_genrand64(uint64_t seed) {
  generator().seed(seed);
}

uint64_t genrand64_int64() {
  return generator()();
}
