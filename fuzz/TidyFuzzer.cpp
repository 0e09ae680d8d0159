// spanmill-tidy's rewriters on any input, and again on what they wrote:
// no crash, no undefined behaviour, no hang. (Rewriting a tidied trace
// need not give the same bytes on input that is no trace: joining the
// pieces of a cut line depends on quotes that garbage leaves open.)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/FuzzInput.h"
#include "tidy/FtraceTidy.h"
#include "tidy/StraceTidy.h"

namespace {

std::string tidy(bool strace, const std::string& text) {
  const int in = memfd_create("in", 0);
  const int out = memfd_create("out", 0);
  if (in < 0 || out < 0 || write(in, text.data(), text.size()) != ssize_t(text.size())) {
    std::abort();
  }
  lseek(in, 0, SEEK_SET);
  std::unique_ptr<orvel::Tidier> tidier;
  if (strace) {
    tidier.reset(new orvel::StraceTidy("0", false));
  } else {
    tidier.reset(new orvel::FtraceTidy());
  }
  {
    orvel::Output output(out);
    orvel::LineReader reader(in, &output);
    orvel::Warnings warnings;
    orvel::Line line;
    while (reader.next(&line)) {
      tidier->tidy(line, &output, &warnings);
    }
    tidier->finish(&output, &warnings);
    output.flush();
  }
  std::string result(static_cast<size_t>(lseek(out, 0, SEEK_END)), '\0');
  if (pread(out, &result[0], result.size(), 0) != ssize_t(result.size())) {
    std::abort();
  }
  close(in);
  close(out);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvel::fuzzing::FuzzInput input(data, size);
  const bool strace = (input.byte() & 1) != 0;
  tidy(strace, tidy(strace, input.rest()));
  return 0;
}
