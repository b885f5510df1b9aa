// The six GPIO library calls the board layer uses, and nothing else.
//
// With the real library (KOVA_HAVE_WIRINGPI) each call forwards to it. Without
// it a simulated board answers instead: it keeps every pin's mode, driven
// level, external input level and PWM duty value in memory, so a program that
// binds pins runs unchanged on a PC. The `gpio_sim_` functions let tests look
// at and drive that simulated board; with the real library they act on the
// unused simulation only.
//
// Pin numbers are the library's own numbering; modes 0 input, 1 output;
// levels 0 low, 1 high.
#pragma once

#include <cstdint>

#if defined(KOVA_HAVE_WIRINGPI)
inline constexpr bool kGpioSimulated = false;
#else
inline constexpr bool kGpioSimulated = true;
#endif

// Prepares the library; its result is the library's (the simulation: 0).
int gpio_wiringPiSetup();
void gpio_pinMode(int pin, int mode);
void gpio_digitalWrite(int pin, int level);
// 0 for low, non-zero for high.
int gpio_digitalRead(int pin);
// Starts software PWM on the pin with the duty `initial`/`range`; 0 on success.
int gpio_softPwmCreate(int pin, int initial, int range);
// Duty value/range from now on, for a pin where software PWM runs.
void gpio_softPwmWrite(int pin, int value);

// ---- the simulated board

// Pins the simulation knows; calls on other pins do nothing (reads give 0).
inline constexpr int kGpioSimPins = 64;

enum GpioSimMode : int {
  kGpioSimUnset = -1,  // never configured since the last reset
  kGpioSimInput = 0,
  kGpioSimOutput = 1,
  kGpioSimSoftPwm = 2,
};

// Every pin unset, low, with no PWM; setup count 0; PWM creation succeeds.
void gpio_sim_reset();
// The level an outside circuit puts on the pin, seen by reads of an input.
void gpio_sim_setInput(int pin, int level);
// Makes every later softPwmCreate fail (as when its thread cannot start).
void gpio_sim_failSoftPwmCreate(bool fail);

GpioSimMode gpio_sim_mode(int pin);
// The level the board drives on an output pin (0 when it drives none).
int gpio_sim_level(int pin);
// The last duty value written to a PWM pin; -1 when PWM does not run there.
int gpio_sim_pwm(int pin);
// The PWM range given at creation; 0 when PWM does not run there.
int gpio_sim_pwmRange(int pin);
// Number of digitalWrite calls that reached the pin since the last reset.
uint32_t gpio_sim_writes(int pin);
// Number of gpio_wiringPiSetup calls since the last reset.
uint32_t gpio_sim_setupCalls();
