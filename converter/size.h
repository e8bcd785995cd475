// Size arguments: decimal, 0x hex, 0o or leading-0 octal, 0b binary, an
// optional leading '-', and one optional K, M or G suffix. Never fails:
// text without a number yields 0; values wrap at 32 bits.
#pragma once

#include <stdint.h>

int32_t parse_size(const char* text);

// Whether text is a size as the tools around krelt take it: parse_size's
// syntax with nothing else, that is an optional '-', a radix prefix (0x,
// 0o, 0b, or a bare 0 for octal), at least one digit of that radix (a bare
// 0 is itself the digit), an optional K, M or G in any case, and the end.
// krelt itself never refuses a size; the layers around it refuse text
// that parse_size would quietly read as another number ("1.5m" as 1).
bool is_size_text(const char* text);
