// Rewrites strace output so that spanmill reads every call right: a thread
// id column, seconds as time stamps, no location on resumed lines, and at
// most 512 characters after the time stamp, in which the first '<' behind
// the call's name is its duration's. A call that needs rewriting has its
// quoted strings emptied as -s 0 prints them and its -y descriptor
// annotations removed. Lines that are not calls, and calls spanmill reads
// right already, pass unchanged.
//
// strace writing to standard error shares it with the traced program, and
// leaves the id out while it traces one process only. A call line that
// other text cut in two is joined again; a line without id gets the id of
// the one process alive, or of the first process once a "[pid N]" line
// has named it (lines are held back, a bounded amount, until then).
#ifndef ORVEL_TIDY_STRACETIDY_H
#define ORVEL_TIDY_STRACETIDY_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "tidy/Tidier.h"

namespace orvel {

// The columns in front of an strace call: the id, if any, and the time stamp.
struct StracePrefix {
  enum TimeForm { kNone, kSeconds, kClock };
  std::string_view id;   // "[pid N]" or "N" as written; empty when there is none
  std::string_view pid;  // N, in the "[pid N]" form only
  uint64_t idKey;        // the id's number, where id is not empty
  std::string_view time;
  TimeForm form;              // kSeconds: "digits[.digits]" (-ttt); kClock: "HH:MM:SS[.digits]"
  std::string_view rest;      // everything after the time stamp and its blanks
  std::string_view location;  // "[address]" of strace -i, or empty
  std::string_view call;      // the rest after the location: a call, a signal or an exit
};

class StraceTidy : public Tidier {
 public:
  // The most that spanmill reads after a line's time stamp.
  static const size_t kRestLimit = 512;
  // The most held back while the first process's id is unknown.
  static const size_t kWaitBytes = 1024 * 1024;
  // The most processes followed at once (to know when only one is left).
  static const size_t kAliveLimit = 4096;

  // Lines without a thread id get defaultId: the id in an strace -ff
  // file's name (idKnown), or where nothing better is known one fixed id.
  StraceTidy(std::string defaultId, bool idKnown)
      : defaultId(std::move(defaultId)), waited(idKnown) {}

  // The id for the lines without one from now on, for inputs merged from
  // several -ff files.
  void setDefaultId(std::string_view id) { defaultId.assign(id); }

  void tidy(const Line& line, Output* out, Warnings* warnings) override;
  void finish(Output* out, Warnings* warnings) override;

 private:
  // Rewrites one whole line; an unfinished one is held when mayHold.
  void tidyWhole(const Line& line, bool mayHold, Output* out, Warnings* warnings);
  // Rewrites the held line as it stands.
  void releaseHeld(Output* out, Warnings* warnings);
  // Writes text, a line that needs the id in front when needsId, or holds
  // it back while that id is not known yet. inPlace: text is a whole line
  // as the reader holds it, which need not be copied.
  void emit(std::string_view text, bool needsId, Output* out, bool inPlace = false);
  // Writes the lines held back, with id for those that need one.
  void release(std::string_view id, Output* out);
  // Notes a process that strace announced as attached.
  void noteAttached(std::string_view pid);
  // Notes what a "[pid N]" line tells of the processes alive.
  // key is pid as a number.
  void notePid(std::string_view pid, uint64_t key, std::string_view call, Output* out);
  std::string_view idForLine();
  // Follows each thread's unfinished call (thread: its id as a number):
  // true for a resumed call whose start the trace does not hold.
  bool startMissing(uint64_t thread, std::string_view call, bool resumed);
  // Writes a clock time "HH:MM:SS[.frac]" as seconds since the midnight
  // before the first one, counting a day on when the clock goes back.
  void putClockAsSeconds(std::string_view clock, std::string* to);
  // Counts the call as a span, or as a call without its duration.
  void count(std::string_view call, Warnings* warnings);

  std::string defaultId;
  uint64_t usable = 0;  // calls that give spanmill an event
  uint64_t days = 0;    // midnights passed since the first clock time
  uint64_t lastClock = 0;
  std::string held;      // a call line cut short, waiting for its rest
  std::string joined;    // a held line being rewritten
  std::string waiting;   // lines held back: a flag byte, the line, a line feed
  bool waited;           // the first process's id came, or the wait ended or was not needed
  std::string firstPid;  // the first process's id, once a "[pid N]" line told it
  // Announced by "strace: Process N attached", until the first process is known.
  std::unordered_set<uint64_t> attached;
  std::unordered_set<uint64_t> alive;  // processes seen in "[pid N]" lines and not ended
  std::string aliveId;                 // the one alive, written out
  // Threads seen to begin a call, and whether one is unfinished now; the
  // largest key stands for lines whose id is not known yet.
  std::unordered_map<uint64_t, bool> unfinished;
  // The line being rewritten; kept from line to line, since clearing a new
  // one for every line costs a string instruction's slow start.
  StracePrefix prefix;
  std::string call;     // the call text being rebuilt
  std::string time;     // its time stamp, in seconds
  std::string rebuilt;  // the line being rebuilt
};

// The time stamp of an strace line in seconds (of the day for -tt and -t),
// for putting the lines of several files in order; false for a line that
// has none.
bool straceLineTime(std::string_view line, double* seconds);

// The call text with every quoted string emptied as strace -s 0 prints it
// ("" for an empty string, ""... for any other) and every -y annotation
// after a descriptor number removed, appended to out.
void cleanStraceCall(std::string_view call, std::string* out);

}  // namespace orvel

#endif  // ORVEL_TIDY_STRACETIDY_H
