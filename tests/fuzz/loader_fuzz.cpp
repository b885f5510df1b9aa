// Fuzz target: program files, read, validated, initialised and run.
//
// Whatever bytes a program file holds, loading it must end with the file
// refused and a reason, or with a run that ends by itself, by a run-time
// failure or at its time limit: never a crash, an assertion abort, an
// out-of-bounds access or a leak. Each input is loaded as a file,
// initialised and run for 20 ms of simulated time. A run that takes more than 20 ms of real
// time (a mutated period of a few picoseconds, mostly) is asked to stop at
// the next activation; one still running a second later (a loop that never
// ends inside one activation) is cut off. Neither is a finding.
//
// The custom mutator knows the file's layout: besides libFuzzer's own
// mutations it flips bits, overwrites 32-bit words with boundary values,
// sets the counts of the information record to 0, 0xFFFFFFFF or small
// values, truncates, and splices whole sections from another input.
#include <sys/time.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ASTLib/rEnv.h"
#include "interpreterLib/files.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "interpreterLib/scheduler.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr uint64_t kRunPs = 20'000'000'000ull;  // 20 ms of simulated time
constexpr long kStopAfterUs = 20'000;
constexpr long kCutOffAfterUs = 1'000'000;

sigjmp_buf stopRun;
volatile sig_atomic_t running = 0;
volatile sig_atomic_t stopAsked = 0;

// The host's exit or a failed check: back to the harness, unwinding.
struct Stop {};

void onExit(InterpEnv*, uint32_t, uint8_t) {
  throw Stop{};
}

void onAssert(InterpEnv*, uint32_t condition, const char*, uint32_t, const char*, const char*) {
  if (condition == 0) throw Stop{};
}

// The first alarm only raises the scheduler's stop flag. The second cannot
// unwind from a signal handler: it jumps, which is safe only where no lock
// is held and no frame owns anything. Jumping at the first alarm (20 ms)
// once landed inside the allocator and left its lock taken; the second
// comes only for programs that loop inside one activation, which seldom
// allocate. The environment is owned by the harness.
void onAlarm(int) {
  if (running == 0) return;
  if (stopAsked == 0) {
    stopAsked = 1;
    scheduler_requestStop();
    return;
  }
  siglongjmp(stopRun, 1);
}

// The alarm after `us`, then every `thenUs` (0: once).
void setAlarm(long us, long thenUs) {
  itimerval timer{};
  timer.it_value.tv_usec = us % 1'000'000;
  timer.it_value.tv_sec = us / 1'000'000;
  timer.it_interval.tv_usec = thenUs % 1'000'000;
  timer.it_interval.tv_sec = thenUs / 1'000'000;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// A mutated file name could name any file of the machine: the type that
// binds variables to files is hidden from the run.
void hideFileBindings(InterpEnv* env) {
  const uint32_t fileType = interp_getTypeID(env, "Kova_File");
  if (fileType != NO_ID) {
    env->program->dbg->typeSymbolId[fileType] = env->program->dbg->typeSymbolId[TypeInt];
  }
}

void run(const uint8_t* data, size_t size) {
  std::unique_ptr<InterpEnv> env = interp_create();
  InterpEnv* e = env.get();
  env_on_exit(e, onExit);
  env_on_assert(e, onAssert);
  std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (stream == nullptr) return;
  try {
    if (sigsetjmp(stopRun, 1) == 0 && interp_load_stream(e, stream) == 0) {
      hideFileBindings(e);
      running = 1;
      setAlarm(kStopAfterUs, kCutOffAfterUs);
      interp_init(e);
      interp_run_until(e, kRunPs);
    }
  } catch (const Stop&) {
  }
  running = 0;
  setAlarm(0, 0);
  stopAsked = 0;
  scheduler_clearStop();
  std::fclose(stream);
  files_close();
  interp_set_scheduling_policy(e, 0);
}

// ------------------------------------------------------------ mutations

constexpr size_t kInfoOffset = 24 + 128;  // the counts of the information record
constexpr size_t kInfoCounts = 18;
constexpr size_t kSectionsOffset = 224;

uint32_t word(const uint8_t* data, size_t at) {
  uint32_t w;
  std::memcpy(&w, data + at, 4);
  return w;
}

void setWord(uint8_t* data, size_t at, uint32_t w) {
  std::memcpy(data + at, &w, 4);
}

constexpr uint32_t kBoundaries[] = {
    0,     1,      2,          3,          7,          8,          35,         36,   0x7F, 0xFF,
    0x100, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0x10000000, 1000, 3199, 3200};

template <class Rng>
uint32_t boundary(Rng& rng) {
  return kBoundaries[rng() % std::size(kBoundaries)];
}

// One file-aware mutation in place; returns the new size.
template <class Rng>
size_t mutateOnce(uint8_t* data, size_t size, size_t maxSize, Rng& rng) {
  switch (rng() % 6) {
    case 0: {  // bit flips
      if (size == 0) return size;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int i = 0; i < flips; ++i) data[rng() % size] ^= static_cast<uint8_t>(1u << (rng() % 8));
      return size;
    }
    case 1: {  // an aligned word of a section overwritten with a boundary value
      if (size < kSectionsOffset + 4) return size;
      const size_t words = (size - kSectionsOffset) / 4;
      setWord(data, kSectionsOffset + 4 * (rng() % words), boundary(rng));
      return size;
    }
    case 2: {  // a count of the information record: 0, all ones or small
      if (size < kSectionsOffset) return size;
      const size_t at = kInfoOffset + 4 * (rng() % kInfoCounts);
      const uint32_t old = word(data, at);
      const uint32_t choices[] = {0, 0xFFFFFFFF, old + 1, old - 1, old / 2, 1, 2, old * 2};
      setWord(data, at, choices[rng() % std::size(choices)]);
      return size;
    }
    case 3:  // truncation
      return size == 0 ? size : rng() % size;
    case 4: {  // a word anywhere, off by one
      if (size < 4) return size;
      const size_t at = (rng() % (size / 4)) * 4;
      setWord(data, at, word(data, at) + (rng() % 2 == 0 ? 1 : 0xFFFFFFFF));
      return size;
    }
    default: return LLVMFuzzerMutate(data, size, maxSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  struct sigaction action {};
  action.sa_handler = onAlarm;
  sigaction(SIGALRM, &action, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  run(data, size);
  std::fflush(stdout);
  return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
  std::minstd_rand rng(seed);
  const int rounds = 1 + static_cast<int>(rng() % 3);
  for (int i = 0; i < rounds; ++i) size = mutateOnce(data, size, maxSize, rng);
  return size;
}

// Splices: a stretch of the first input replaced by the stretch of the same
// place (often the same section) of the second.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1,
                                            const uint8_t* data2, size_t size2, uint8_t* out,
                                            size_t maxOutSize, unsigned int seed) {
  std::minstd_rand rng(seed);
  const size_t size = std::min(size1, maxOutSize);
  std::memcpy(out, data1, size);
  if (size2 == 0 || size == 0) return size;
  const size_t start = (rng() % std::min(size, size2)) & ~size_t{7};
  const size_t length = std::min({size - start, size2 - start, size_t{8} + size_t{rng() % 512}});
  std::memcpy(out + start, data2 + start, length);
  return size;
}
