// ${NAME} expansion over any string: no crash, and a text without "${"
// comes back unchanged.
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "json/JSOM.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("A", "value", 1);
  setenv("EMPTY", "", 1);
  setenv("B", "${A}", 1);  // substituted text is not scanned again
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  orvel::JSOM document;
  document[0].setString(text);
  document[1]["k"].setString(text);
  document.expandValues();
  const std::string& expanded = document[0].stringValue(orvel::JSOM::EMPTY_STRING);
  if (text.find("${") == std::string::npos && expanded != text) {
    std::abort();
  }
  if (document[1]["k"].stringValue(orvel::JSOM::EMPTY_STRING) != expanded) {
    std::abort();
  }
  return 0;
}
