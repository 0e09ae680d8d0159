// A rewriter of one trace type's lines into the forms spanmill reads.
#ifndef ORVEL_TIDY_TIDIER_H
#define ORVEL_TIDY_TIDIER_H

#include "tidy/LineReader.h"
#include "tidy/Output.h"
#include "tidy/Warnings.h"

namespace orvel {

class Tidier {
 public:
  virtual ~Tidier() = default;
  // Writes line, rewritten where spanmill would misread it and otherwise
  // as it came, and a line feed to out; counts what cannot be fixed.
  virtual void tidy(const Line& line, Output* out, Warnings* warnings) = 0;
  // Writes what is still held after the last line, and counts what the
  // whole input lacks.
  virtual void finish(Output* out, Warnings* warnings) = 0;
};

}  // namespace orvel

#endif  // ORVEL_TIDY_TIDIER_H
