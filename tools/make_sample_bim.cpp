// Writes a small, well-formed bim image: the sample shipped in examples/,
// and images of any size for tests and benchmarks.
//
//   make_sample_bim OUT [SIZE]
//
// Without SIZE the image is just header, code and message; with SIZE it is
// padded with a repeating pattern to exactly SIZE bytes (at least the
// unpadded length).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

void put_word(std::vector<unsigned char>& image, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[offset + i] = (v >> (8 * i)) & 0xFF;
}

std::vector<unsigned char> sample_image(size_t size) {
  std::vector<unsigned char> image(36, 0);
  // Entry at 0x24: return 42 to whoever calls it.
  const unsigned char code[] = {
      0xB8, 0x2A, 0x00, 0x00, 0x00,  // mov eax, 42
      0xC3,                          // ret
  };
  image.insert(image.end(), code, code + sizeof code);
  const char message[] = "hello from a krelt sample image";
  image.insert(image.end(), message, message + sizeof message);
  const size_t natural = image.size();
  for (size_t i = natural; i < size; ++i) image.push_back((i * 7 + 3) & 0xFF);

  put_word(image, 0x00, 0x4D494221);  // "!BIM", never read
  put_word(image, 0x04, 36);
  put_word(image, 0x08, 36);
  put_word(image, 0x0C, 0x00001000);
  put_word(image, 0x10, static_cast<uint32_t>(image.size()));
  put_word(image, 0x14, static_cast<uint32_t>(natural));
  put_word(image, 0x18, 0x24);  // entry
  put_word(image, 0x1C, 0x00000208);
  put_word(image, 0x20, 0);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_sample_bim OUT [SIZE]\n");
    return 2;
  }
  const size_t size = argc == 3 ? std::strtoull(argv[2], nullptr, 0) : 0;
  const std::vector<unsigned char> image = sample_image(size);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  if (!out.flush()) {
    std::fprintf(stderr, "make_sample_bim: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
