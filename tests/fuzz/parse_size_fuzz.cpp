// parse_size against the model, on any text.
#include <cstdlib>
#include <string>

#include "converter/size.h"
#include "models.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  if (parse_size(text.c_str()) != model::parse_size(text)) std::abort();
  return 0;
}
