// A tracefs instance of the capture's own, so that its tracing clashes with
// nobody else's: made and set up for markers, switched on and off, read, and
// removed. The only code that touches tracefs.
#ifndef ORVEL_CAPTURE_TRACEINSTANCE_H
#define ORVEL_CAPTURE_TRACEINSTANCE_H

#include <cstdint>
#include <string>

namespace orvel {

class TraceInstance {
 public:
  TraceInstance() = default;
  TraceInstance(const TraceInstance&) = delete;
  TraceInstance& operator=(const TraceInstance&) = delete;
  // Removes the instance and unmounts tracefs if create() mounted it.
  ~TraceInstance() { remove(); }

  // Finds tracefs (/sys/kernel/tracing, else debugfs's tracing; mounts it on
  // /sys/kernel/tracing when neither has instances), makes the instance name
  // and sets it up: bufferKb KiB per CPU, a clock that counts seconds (mono,
  // else global, else local), the flags column on, tracing off and the
  // buffer empty. On failure returns false with *error set and leaves
  // nothing behind.
  bool create(const std::string& name, unsigned long bufferKb, std::string* error);

  // The path of one of the instance's files.
  std::string file(const char* name) const { return folder + "/" + name; }
  const std::string& clock() const { return clockName; }

  // A descriptor on tracing_on, write-only and close-on-exec, for the
  // command's process to switch tracing on just before it execs; the caller
  // closes it. -1 with *error set on failure.
  int openSwitch(std::string* error) const;
  // Switches tracing off. Returns false with *error set on failure.
  bool stop(std::string* error);
  // Events the buffer overwrote or dropped, summed over the CPUs.
  uint64_t lostEvents() const;
  // Copies the text of the instance's trace into the file path (created
  // or emptied). Returns false with *error set on failure.
  bool saveTrace(const std::string& path, std::string* error) const;
  // Removes the instance, then unmounts what create() mounted. Returns
  // false with *error set when either fails; calling it again is harmless.
  bool remove(std::string* error = nullptr);

 private:
  // Writes text into the instance's file name.
  bool put(const char* name, const std::string& text, std::string* error);

  std::string root;       // where tracefs is mounted
  std::string folder;     // the instance, "" when there is none
  std::string clockName;  // the trace_clock chosen
  bool mounted = false;   // create() mounted tracefs on root
};

}  // namespace orvel

#endif  // ORVEL_CAPTURE_TRACEINSTANCE_H
