#pragma once

// Front LEDs and screen power of the panel, through the LED device gfLED or,
// on processors that cannot switch the screen that way, the kernel back-light.

// Sets LED `led` (0..7) of the mask to value & 1 and sends the whole mask.
void LEDOnOff(int led, int value);
// Switches the screen on (non-zero) or off; sets the main window's
// screen-off flag.
void LCDOnOff(int on);
// The LED mask as last set (starts at 0xFF).
int ledMask();
// Back to the start-up mask (tests).
void resetLedMask();

constexpr unsigned long kLedMaskRequest = 0x5A018000UL; // + mask in the low byte
constexpr unsigned long kLcdOnRequest = 0x5A018B00UL;
constexpr unsigned long kLcdOffRequest = 0x5A018A00UL;
