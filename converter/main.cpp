// The conversion run: bim image in, Tamrisk application file out.
#include "converter/header.h"
#include "converter/size.h"
#include "runtime/replace.h"
#include "runtime/start.h"
#include "runtime/stream.h"

namespace {

const char USAGE[] =
    "usage>krelt appname.bim appname.v heap-size [mmarea-size]";
const char READ_ERROR[] = "bim file read error";
const char FORMAT_ERROR[] = "bim file format error";
const char WRITE_ERROR[] = "Tamrisk file write error";

// The whole image lives here; an image that fills it is too large.
constexpr uint32_t WORK_BUFFER_SIZE = MAX_IMAGE_SIZE + 1;

int fail(const char* message) {
  put_line(message);
  return 1;
}

}  // namespace

// Its command line is the Windows one on every platform, as documented:
// the image, the output and two sizes are read, anything after ignored.
ArgumentRules app::argument_rules() { return {true, 4}; }

int app::main(int argc, char** argv) {
  unsigned char* buffer =
      static_cast<unsigned char*>(heap_alloc(WORK_BUFFER_SIZE));
  if (argc <= 3) return fail(USAGE);
  const uint32_t heap_size = static_cast<uint32_t>(parse_size(argv[3]));
  const uint32_t mmarea_size =
      argc >= 5 ? static_cast<uint32_t>(parse_size(argv[4])) : 0;
  if (buffer == nullptr) return fail(READ_ERROR);

  Stream* input = stream_open(argv[1], "rb");
  if (input == nullptr) return fail(READ_ERROR);
  // Which file the image is, so that converting in place is recognised
  // under any name (a link, another spelling of the path); unknown, the
  // output is never written over in place.
  FileId source;
  uint64_t length = 0;
  const bool source_known = stream_file_id(input, &source, &length) == 0;
  if (source_known) heap_expect_fill(buffer, WORK_BUFFER_SIZE, length);
  const uint32_t n = stream_read(buffer, 1, WORK_BUFFER_SIZE, input);
  // A failed read may have delivered part of the image: never convert that.
  const bool read_failed = stream_error(input) != 0;
  stream_close(input);
  if (read_failed || n > MAX_IMAGE_SIZE) return fail(READ_ERROR);
  // Shorter than the header: the checks would look at bytes never read.
  if (n < HEADER_SIZE || !is_bim_header(buffer)) return fail(FORMAT_ERROR);

  rewrite_header(buffer, heap_size, mmarea_size);

  // Written only now, so every failure above leaves an existing output as
  // it was; and since the input is closed, both may name the same file.
  // Only the header differs from the image.
  if (replace_file(argv[2], buffer, n, source_known ? &source : nullptr,
                   HEADER_SIZE) != 0) {
    return fail(WRITE_ERROR);
  }
  return 0;
}
