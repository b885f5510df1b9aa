#include "tests/support/interp_fixture.h"

#include "interpreterLib/interp.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/operator_functions.h"

namespace kova_test {

void InterpFixture::load() {
  host = std::make_unique<TestHost>(env.get());
  interp_load_from_program(env.get(), b.build());
  expr_operatorsInit(env.get());
}

TaggedValue InterpFixture::eval(N n) {
  return expr_execute(env.get(), node(n));
}

uint32_t InterpFixture::exec(N n) {
  return statement_execute(env.get(), node(n));
}

}  // namespace kova_test
