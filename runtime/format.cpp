#include "runtime/format.h"

// Recursive: the digits come out most significant first, with no buffer,
// in the least code (krelt.exe has a size limit).
char* put_number(char* text, uint32_t value, uint32_t radix,
                 uint32_t min_digits) {
  if (value >= radix || min_digits > 1) {
    text = put_number(text, value / radix, radix,
                      min_digits > 1 ? min_digits - 1 : 1);
  }
  const uint32_t digit = value % radix;
  *text = static_cast<char>(digit < 10 ? '0' + digit : 'A' - 10 + digit);
  text[1] = 0;
  return text + 1;
}
