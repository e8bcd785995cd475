// Text on standard output, and numbers as both printers write them.
#pragma once

#include <stdint.h>

void out(const char* text);
void end_line();

// high:low in decimal.
void out_decimal(uint32_t high, uint32_t low);

// "0x" and hex digits (8, or 16 for a value past 32 bits), then the value
// in decimal in brackets: 0x00012000 (73728).
void out_number(uint32_t high, uint32_t low);
