#include "tidy/TidyCommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "io/LinuxDescriptor.h"
#include "tidy/FtraceTidy.h"
#include "tidy/LineReader.h"
#include "tidy/Output.h"
#include "tidy/StraceTidy.h"
#include "tidy/Text.h"

namespace orvel {

namespace {

const char kUsage[] =
    "Usage: spanmill-tidy [-t TYPE] [-i FILE] [-o FILE]\n"
    "\n"
    "Rewrites a trace captured in another form into the forms spanmill reads,\n"
    "leaving every event that spanmill reads right as it is. Reads FILE or\n"
    "standard input, writes FILE or standard output. What cannot be fixed is\n"
    "told on standard error, once per kind.\n"
    "\n"
    "  -t ftrace_marker  ftrace text (the default): task names holding '-', no\n"
    "                    flags column, trace-cmd report lines, \"E|pid\" ends\n"
    "  -t strace         strace output: no thread id column (strace without -f,\n"
    "                    or -ff files, whose name gives the id), -i on resumed\n"
    "                    lines, -y annotations, quoted strings (emptied as -s 0),\n"
    "                    lines over 512 characters, -tt and -t clock times\n"
    "  -i FILE           input (standard input); strace -ff files may be given\n"
    "                    one -i each, and are merged in time order\n"
    "  -o FILE           output (standard output)\n";

int usageError(const char* format, const char* detail) {
  std::fputs("spanmill-tidy: ", stderr);
  std::fprintf(stderr, format, detail);
  std::fputs("\n", stderr);
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

std::string idOfStraceFile(const char* path) {
  const std::string_view name = path;
  const size_t point = name.rfind('.');
  if (point != std::string_view::npos && name.find('/', point) == std::string_view::npos &&
      allDigits(name.substr(point + 1)) && name.size() - point - 1 <= 9) {
    return std::string(name.substr(point + 1));
  }
  return "0";
}

namespace {

// One input: its file, its reader and the line it holds.
struct Input {
  const char* path;  // null: standard input
  int fd;
  std::unique_ptr<LineReader> reader;
  std::string id;  // for its lines without one
  Line line;
  bool holds;   // line is the next to write
  double time;  // line's time stamp; -inf for a line without
};

// Reads the input's next line and its time stamp.
void advance(Input* input) {
  input->holds = input->reader->next(&input->line);
  if (input->holds && (input->line.cut() || !straceLineTime(input->line.head, &input->time))) {
    input->time = -HUGE_VAL;  // with its file's lines around it
  }
}

void tidyAll(Tidier* tidier, LineReader* reader, Output* out, Warnings* warnings) {
  Line line;
  while (reader->next(&line)) {
    tidier->tidy(line, out, warnings);
  }
  tidier->finish(out, warnings);
}

}  // namespace

int runTidyCommand(int argc, char* argv[]) {
  const char* type = "ftrace_marker";
  std::vector<Input> inputs;
  const char* outputPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const bool takesValue = std::strcmp(option, "-t") == 0 || std::strcmp(option, "-i") == 0 ||
                            std::strcmp(option, "-o") == 0;
    if (!takesValue) {
      return usageError("unknown argument '%s'", option);
    }
    if (i + 1 == argc) {
      return usageError("%s needs a value", option);
    }
    const char* value = argv[++i];
    if (option[1] == 't') {
      type = value;
    } else if (option[1] == 'i') {
      inputs.push_back(Input{value, -1, nullptr, std::string(), Line(), false, 0.0});
    } else {
      outputPath = value;
    }
  }
  const bool strace = std::strcmp(type, "strace") == 0;
  if (!strace && std::strcmp(type, "ftrace_marker") != 0) {
    return usageError("unknown trace type '%s' (ftrace_marker or strace)", type);
  }
  if (inputs.size() > 1 && !strace) {
    return usageError("%s", "several inputs are for strace -ff files");
  }
  if (inputs.empty()) {
    inputs.push_back(Input{nullptr, 0, nullptr, std::string(), Line(), false, 0.0});
  }

  for (Input& input : inputs) {
    if (input.path != nullptr) {
      input.fd = open(input.path, O_RDONLY | O_CLOEXEC);
      if (input.fd < 0) {
        std::fprintf(stderr, "spanmill-tidy: cannot open '%s' for reading: %s\n", input.path,
                     std::strerror(errno));
        return 1;
      }
    }
    input.id = idOfStraceFile(input.path != nullptr ? input.path : "");
  }
  int output = 1;
  if (outputPath != nullptr) {
    for (const Input& input : inputs) {
      if (linuxio::sameRegularFile(input.fd, outputPath)) {
        std::fprintf(stderr, "spanmill-tidy: '%s' is an input; the output must be another file\n",
                     outputPath);
        return 1;
      }
    }
    output = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (output < 0) {
      std::fprintf(stderr, "spanmill-tidy: cannot open '%s' for writing: %s\n", outputPath,
                   std::strerror(errno));
      return 1;
    }
  }

  Output out(output);
  for (Input& input : inputs) {
    // strace's lines are asked where their first '<' is, which tells whether
    // spanmill finds the duration where it looks.
    input.reader.reset(new LineReader(input.fd, &out, strace ? '<' : '\0'));
  }
  Warnings warnings;
  if (strace) {
    // The ids in -ff files' names are known; a single file without one
    // waits for its first process's id.
    const bool idKnown = inputs.size() > 1 || inputs[0].id != "0";
    StraceTidy tidier(inputs[0].id, idKnown);
    if (inputs.size() == 1) {
      tidyAll(&tidier, inputs[0].reader.get(), &out, &warnings);
    } else {
      for (Input& input : inputs) {
        advance(&input);
      }
      // Each file's lines are in time order: the earliest of all goes next.
      for (;;) {
        Input* next = nullptr;
        for (Input& input : inputs) {
          if (input.holds && (next == nullptr || input.time < next->time)) {
            next = &input;
          }
        }
        if (next == nullptr) {
          break;
        }
        tidier.setDefaultId(next->id);
        tidier.tidy(next->line, &out, &warnings);
        advance(next);
      }
      tidier.finish(&out, &warnings);
    }
  } else {
    FtraceTidy tidier;
    tidyAll(&tidier, inputs[0].reader.get(), &out, &warnings);
  }
  const int writeError = out.flush();
  for (const Input& input : inputs) {
    if (input.reader->error() != 0) {
      std::fprintf(stderr, "spanmill-tidy: cannot read '%s': %s\n",
                   input.path != nullptr ? input.path : "standard input",
                   std::strerror(input.reader->error()));
      return 1;
    }
  }
  if (writeError != 0 || (output != 1 && close(output) != 0)) {
    std::fprintf(stderr, "spanmill-tidy: cannot write '%s': %s\n",
                 outputPath != nullptr ? outputPath : "standard output",
                 std::strerror(writeError != 0 ? writeError : errno));
    return 1;
  }
  warnings.print(stderr, type);
  return 0;
}

}  // namespace orvel
