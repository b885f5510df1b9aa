// Writes the bundled example program, a traffic light, as a program file.
//
// Two periodic processes: `light` cycles red -> green -> yellow -> red, held
// in red by an `after` delay and released from green by an `on` condition
// when enough cars wait; it drives the GPIO output pin17_out (green lamp).
// `sensor` counts the cars that arrive and prints them.
#include <cstdio>

#include "tests/support/program_builder.h"

using namespace kova_test;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.ast>\n", argv[0]);
    return 2;
  }
  ProgramBuilder b({.modelName = "traffic_light"});
  const uint32_t lamp = b.global("pin17_out", TypeBoolean);
  const uint32_t cars = b.global("cars", TypeUInt32);

  const auto setLamp = [&](bool on) { return b.assign(b.gvar(lamp), b.boolean(on)); };
  const uint32_t light =
      b.process("Traffic_Light",
                {.states = {{"red", b.block({setLamp(false)}), {after(b.ms(300), "green")}},
                            {"green",
                             b.block({setLamp(true)}),
                             {on(b.op(CGE_OP, TypeUInt32, b.gvar(cars), b.integer(3)), "yellow",
                                 b.assign(b.gvar(cars), b.integer(0)))}},
                            {"yellow", b.block({setLamp(false)}), {after(b.ms(100), "red")}}}});
  const uint32_t sensor = b.process(
      "Car_Sensor",
      {.states = {{"counting", b.block({b.assign(b.gvar(cars), b.op(PLUS_OP, TypeUInt32,
                                                                    b.gvar(cars), b.integer(1))),
                                        b.println("%u car(s) waiting", {b.gvar(cars)})})}}});
  b.instance("light", light, {.period = b.ms(100)});
  b.instance("sensor", sensor, {.period = b.ms(150), .offset = b.ms(50)});
  return b.write(argv[1]) == 0 ? 0 : 1;
}
