// The safe floor: the least any program must do to replace OUT with an
// image of IN safely, the yardstick krelt is timed against. One read of the
// whole input, an exclusive create of a file beside the output, one write,
// close, rename over the output; huge pages for an image that fills them,
// as a careful program would take. No header rewrite, no checks beyond
// correctness; exit 1 on any failure. Linked as krelt is (statically,
// against the same C library), so both pay the same start-up.
//
//   krelt_floor IN OUT [ignored...]
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t BUFFER = 4 << 20;  // images are smaller than 4 MiB
constexpr size_t HUGE_PAGE = 2 << 20;
char small_buffer[BUFFER];

// The buffer an image of this length is read into: the static one, or
// for an image of a quarter of a huge page or more, memory aligned for
// huge pages and asking for them.
char* buffer_for(off_t length) {
  if (length < static_cast<off_t>(HUGE_PAGE / 4)) return small_buffer;
  char* raw = static_cast<char*>(mmap(nullptr, BUFFER + HUGE_PAGE,
                                      PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (raw == MAP_FAILED) return small_buffer;
  char* aligned = reinterpret_cast<char*>(
      (reinterpret_cast<uintptr_t>(raw) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
  madvise(aligned, BUFFER, MADV_HUGEPAGE);
  return aligned;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const int in = open(argv[1], O_RDONLY);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) return 1;
  char* buffer = buffer_for(st.st_size);
  const ssize_t size = read(in, buffer, BUFFER);
  close(in);
  if (size < 0 || size == static_cast<ssize_t>(BUFFER)) return 1;

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
