// The JSON text parser: the buffer and stream forms must agree on the
// result, the tree and the message, and neither may crash.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "json/JSONData.h"

namespace {

int messages[2] = {-1, -1};  // a pipe that takes standard error's lines
int savedError = -1;

std::string drainMessages() {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(messages[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

struct Outcome {
  bool ok;
  std::string tree;
  std::string message;
};

template <class Parse>
Outcome run(Parse parse) {
  orvel::JSONData* root = new orvel::JSONData();
  orvel::JSONData::retain(root);
  dup2(messages[1], 2);
  bool ok = parse(*root);
  dup2(savedError, 2);
  Outcome outcome{ok, "", drainMessages()};
  root->toJsonString(outcome.tree, false, 6);
  orvel::JSONData::release(root);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (pipe2(messages, O_NONBLOCK | O_CLOEXEC) != 0) {
    std::abort();
  }
  savedError = dup(2);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The buffer form ends at a zero byte: both forms get the text up to it.
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  Outcome buffer = run([&](orvel::JSONData& node) { return node.setFromJsonStlString(text); });
  Outcome stream = run([&](orvel::JSONData& node) {
    std::istringstream in(text);
    return node.setFromStream(in);
  });
  const std::string bufferPrefix = "JSONData::setFromJsonString(): ";
  const std::string streamPrefix = "JSONData::setFromStream(): ";
  std::string bufferMessage =
      buffer.message.empty() ? "" : buffer.message.substr(bufferPrefix.size());
  std::string streamMessage =
      stream.message.empty() ? "" : stream.message.substr(streamPrefix.size());
  if (buffer.ok != stream.ok || buffer.tree != stream.tree || bufferMessage != streamMessage) {
    std::abort();
  }
  return 0;
}
