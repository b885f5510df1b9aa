#include "tests/support/interp_fixture.h"

#include <cstdlib>
#include <string>

#include "interpreterLib/interp.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/operator_functions.h"
#include "parserLib/write.h"
#include "tests/support/golden.h"

namespace kova_test {

void InterpFixture::load() {
  host = std::make_unique<TestHost>(env.get());
  std::unique_ptr<Program> program = b.build();
  if (std::getenv("KOVA_SEED_DIR") != nullptr) {
    const std::string path = tempPath("fixture.ast");
    if (write_storeProgramBinary(program.get(), path.c_str()) == 0) keepAsSeed(path);
  }
  interp_load_from_program(env.get(), std::move(program));
  expr_operatorsInit(env.get());
}

TaggedValue InterpFixture::eval(N n) {
  return expr_execute(env.get(), node(n));
}

uint32_t InterpFixture::exec(N n) {
  return statement_execute(env.get(), node(n));
}

}  // namespace kova_test
