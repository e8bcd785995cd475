// The safe floor: the least any program must do to replace OUT with an
// image of IN safely, the yardstick krelt is timed against. One read of the
// whole input, an exclusive create of a file beside the output, one write,
// close, rename over the output. No header rewrite, no checks beyond
// correctness; exit 1 on any failure. Linked as krelt is (statically,
// against the same C library), so both pay the same start-up.
//
//   krelt_floor IN OUT [ignored...]
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

char buffer[4 << 20];  // images are smaller than 4 MiB

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const int in = open(argv[1], O_RDONLY);
  if (in < 0) return 1;
  const ssize_t size = read(in, buffer, sizeof buffer);
  close(in);
  if (size < 0 || size == static_cast<ssize_t>(sizeof buffer)) return 1;

  char temp[4096];
  const int length = snprintf(temp, sizeof temp, "%s.tmp-%ld", argv[2],
                              static_cast<long>(getpid()));
  if (length < 0 || length >= static_cast<int>(sizeof temp)) return 1;
  const int out = open(temp, O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (out < 0) return 1;
  const bool written = write(out, buffer, size) == size;
  if (close(out) != 0 || !written || rename(temp, argv[2]) != 0) {
    unlink(temp);
    return 1;
  }
  return 0;
}
