// line-floor: the least any line-based conversion does. It reads the input
// in 64 KiB blocks, as spanmill does, and finds every line feed with memchr;
// bench/run.sh measures spanmill against it, since the two move with the
// same parts of a machine (the kernel's copy, the memory and the core).
//
//   line-floor [FILE]     (standard input without one)
//
// Prints the number of line feeds, so that the search cannot be left out.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

char block[64 * 1024];

}  // namespace

int main(int argc, char** argv) {
  const int fd = argc > 1 ? open(argv[1], O_RDONLY | O_CLOEXEC) : 0;
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  unsigned long long lines = 0;
  for (;;) {
    const ssize_t got = read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      std::perror("line-floor: read");
      return 1;
    }
    if (got == 0) {
      break;
    }
    const char* const end = block + got;
    for (const char* p = block;
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) !=
         nullptr;
         ++p) {
      ++lines;
    }
  }
  std::printf("%llu\n", lines);
  return 0;
}
