#include "zebu_interpreter/boards/raspberry/gpio.h"

#include <algorithm>
#include <array>

#if defined(KOVA_HAVE_WIRINGPI)
#include <softPwm.h>
#include <wiringPi.h>
#endif

namespace {

struct SimPin {
  GpioSimMode mode = kGpioSimUnset;
  int driven = 0;    // level driven as an output
  int external = 0;  // level an outside circuit applies
  int pwm = -1;
  int pwmRange = 0;
  uint32_t writes = 0;
};

struct SimBoard {
  std::array<SimPin, kGpioSimPins> pins{};
  uint32_t setupCalls = 0;
  bool failPwm = false;
};

SimBoard& sim() {
  static SimBoard board;
  return board;
}

SimPin* simPin(int pin) {
  if (pin < 0 || pin >= kGpioSimPins) return nullptr;
  return &sim().pins[static_cast<size_t>(pin)];
}

#if !defined(KOVA_HAVE_WIRINGPI)

int simSetup() {
  ++sim().setupCalls;
  return 0;
}

void simPinMode(int pin, int mode) {
  SimPin* p = simPin(pin);
  if (p == nullptr) return;
  // A new direction ends software PWM on the pin.
  p->mode = mode == 0 ? kGpioSimInput : kGpioSimOutput;
  p->pwm = -1;
  p->pwmRange = 0;
}

void simDigitalWrite(int pin, int level) {
  SimPin* p = simPin(pin);
  if (p == nullptr) return;
  ++p->writes;
  // Writing to a pin that is not an output only sets a latch nobody sees.
  if (p->mode == kGpioSimOutput) p->driven = level != 0 ? 1 : 0;
}

int simDigitalRead(int pin) {
  const SimPin* p = simPin(pin);
  if (p == nullptr) return 0;
  if (p->mode == kGpioSimOutput) return p->driven;
  if (p->mode == kGpioSimSoftPwm) return 0;
  return p->external;
}

int simSoftPwmCreate(int pin, int initial, int range) {
  SimPin* p = simPin(pin);
  if (p == nullptr || sim().failPwm || range <= 0) return -1;
  p->mode = kGpioSimSoftPwm;
  p->driven = 0;
  p->pwmRange = range;
  p->pwm = std::clamp(initial, 0, range);
  return 0;
}

void simSoftPwmWrite(int pin, int value) {
  SimPin* p = simPin(pin);
  // Without a PWM generator on the pin the value goes nowhere.
  if (p == nullptr || p->mode != kGpioSimSoftPwm) return;
  p->pwm = std::clamp(value, 0, p->pwmRange);
}

#endif

}  // namespace

#if defined(KOVA_HAVE_WIRINGPI)

int gpio_wiringPiSetup() {
  return wiringPiSetup();
}
void gpio_pinMode(int pin, int mode) {
  pinMode(pin, mode);
}
void gpio_digitalWrite(int pin, int level) {
  digitalWrite(pin, level);
}
int gpio_digitalRead(int pin) {
  return digitalRead(pin);
}
int gpio_softPwmCreate(int pin, int initial, int range) {
  return softPwmCreate(pin, initial, range);
}
void gpio_softPwmWrite(int pin, int value) {
  softPwmWrite(pin, value);
}

#else

int gpio_wiringPiSetup() {
  return simSetup();
}
void gpio_pinMode(int pin, int mode) {
  simPinMode(pin, mode);
}
void gpio_digitalWrite(int pin, int level) {
  simDigitalWrite(pin, level);
}
int gpio_digitalRead(int pin) {
  return simDigitalRead(pin);
}
int gpio_softPwmCreate(int pin, int initial, int range) {
  return simSoftPwmCreate(pin, initial, range);
}
void gpio_softPwmWrite(int pin, int value) {
  simSoftPwmWrite(pin, value);
}

#endif

// ---------------------------------------------------------------- inspection

void gpio_sim_reset() {
  sim() = SimBoard{};
}

void gpio_sim_setInput(int pin, int level) {
  if (SimPin* p = simPin(pin)) p->external = level != 0 ? 1 : 0;
}

void gpio_sim_failSoftPwmCreate(bool fail) {
  sim().failPwm = fail;
}

GpioSimMode gpio_sim_mode(int pin) {
  const SimPin* p = simPin(pin);
  return p != nullptr ? p->mode : kGpioSimUnset;
}

int gpio_sim_level(int pin) {
  const SimPin* p = simPin(pin);
  return p != nullptr && p->mode == kGpioSimOutput ? p->driven : 0;
}

int gpio_sim_pwm(int pin) {
  const SimPin* p = simPin(pin);
  return p != nullptr ? p->pwm : -1;
}

int gpio_sim_pwmRange(int pin) {
  const SimPin* p = simPin(pin);
  return p != nullptr ? p->pwmRange : 0;
}

uint32_t gpio_sim_writes(int pin) {
  const SimPin* p = simPin(pin);
  return p != nullptr ? p->writes : 0;
}

uint32_t gpio_sim_setupCalls() {
  return sim().setupCalls;
}
