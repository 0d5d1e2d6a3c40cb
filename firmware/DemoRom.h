// DemoRom: the demo firmware built into the program, for the headless runner
// (and any front end) to use when no ROM image file is given.
#pragma once

#include <cstdint>
#include <span>

// The padded ROM image, 1,048,576 bytes, exactly as pdemu-demo.pgm.
std::span<const uint8_t> demoRomImage();
