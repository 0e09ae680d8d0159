#include "capture/TraceInstance.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "io/WholeFile.h"

namespace orvel {

namespace {

const char kTracefs[] = "/sys/kernel/tracing";
const char kDebugfsTracing[] = "/sys/kernel/debug/tracing";

// "what 'path': the system's text for errno".
std::string failure(const char* what, const std::string& path) {
  return std::string(what) + " '" + path + "': " + std::strerror(errno);
}

bool hasInstances(const std::string& root) {
  struct stat folder;
  return stat((root + "/instances").c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
}

// Writes all of length bytes of data to fd; false with errno set on failure.
bool writeAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t wrote = write(fd, data, length);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return false;
    }
    data += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return true;
}

// The number after "label: " in a per-CPU stats text, 0 when absent.
uint64_t statsCount(const std::string& stats, const char* label) {
  const size_t at = stats.find(label);
  return at == std::string::npos
             ? 0
             : std::strtoull(stats.c_str() + at + std::strlen(label), nullptr, 10);
}

}  // namespace

bool TraceInstance::create(const std::string& name, unsigned long bufferKb, std::string* error) {
  root = hasInstances(kTracefs) ? kTracefs : hasInstances(kDebugfsTracing) ? kDebugfsTracing : "";
  if (root.empty()) {
    root = kTracefs;
    if (mount("nodev", kTracefs, "tracefs", 0, nullptr) != 0) {
      *error = failure("cannot mount tracefs on", root);
      return false;
    }
    mounted = true;
  }
  const std::string path = root + "/instances/" + name;
  if (mkdir(path.c_str(), 0700) != 0) {
    *error = failure("cannot make the trace instance", path);
    remove();
    return false;
  }
  folder = path;
  // The clocks offered, the one in use in brackets: "[local] global ... mono ...".
  std::string clocks;
  bool opened = false;
  readWholeFile(file("trace_clock").c_str(), &clocks, &opened);
  std::istringstream words(clocks);
  std::string offered = " ";
  for (std::string word; words >> word;) {
    offered += (word[0] == '[' ? word.substr(1, word.size() - 2) : word) + " ";
  }
  for (const char* clock : {"mono", "global", "local"}) {
    if (clockName.empty() && offered.find(std::string(" ") + clock + " ") != std::string::npos) {
      clockName = clock;
    }
  }
  if (clockName.empty()) {
    *error = "no clock that counts seconds in '" + file("trace_clock") + "': " + clocks;
    remove();
    return false;
  }
  // Instances begin with tracing on.
  if (!put("tracing_on", "0", error) || !put("buffer_size_kb", std::to_string(bufferKb), error) ||
      !put("trace_clock", clockName, error) || !put("options/irq-info", "1", error) ||
      !put("trace", "", error)) {
    remove();
    return false;
  }
  return true;
}

bool TraceInstance::put(const char* name, const std::string& text, std::string* error) {
  const std::string path = file(name);
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const bool wrote = fd >= 0 && writeAll(fd, text.data(), text.size());
  if (!wrote) {
    *error = failure("cannot write", path);
  }
  if (fd >= 0) {
    close(fd);
  }
  return wrote;
}

int TraceInstance::openSwitch(std::string* error) const {
  const int fd = open(file("tracing_on").c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = failure("cannot open", file("tracing_on"));
  }
  return fd;
}

bool TraceInstance::stop(std::string* error) {
  return put("tracing_on", "0", error);
}

uint64_t TraceInstance::lostEvents() const {
  uint64_t lost = 0;
  DIR* cpus = opendir(file("per_cpu").c_str());
  for (dirent* cpu; cpus != nullptr && (cpu = readdir(cpus)) != nullptr;) {
    std::string stats;
    bool opened = false;
    if (std::strncmp(cpu->d_name, "cpu", 3) == 0 &&
        readWholeFile((file("per_cpu/") + cpu->d_name + "/stats").c_str(), &stats, &opened) == 0) {
      lost += statsCount(stats, "\noverrun: ") + statsCount(stats, "\ndropped events: ");
    }
  }
  if (cpus != nullptr) {
    closedir(cpus);
  }
  return lost;
}

bool TraceInstance::saveTrace(const std::string& path, std::string* error) const {
  const int in = open(file("trace").c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = failure("cannot read", file("trace"));
    return false;
  }
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    *error = failure("cannot write", path);
    close(in);
    return false;
  }
  char block[1 << 16];
  ssize_t got;
  bool wrote = true;
  while (wrote && ((got = read(in, block, sizeof block)) > 0 || (got < 0 && errno == EINTR))) {
    wrote = got < 0 || writeAll(out, block, static_cast<size_t>(got));
  }
  if (!wrote || got < 0) {
    *error = wrote ? failure("cannot read", file("trace")) : failure("cannot write", path);
  }
  close(in);
  if (close(out) != 0 && wrote && got == 0) {
    *error = failure("cannot write", path);
    wrote = false;
  }
  return wrote && got == 0;
}

bool TraceInstance::remove(std::string* error) {
  std::string what;
  // A process that still has one of the instance's files open keeps it
  // busy: a child of the command holding trace_marker, for a while.
  int tries = 0;
  while (!folder.empty() && rmdir(folder.c_str()) != 0) {
    if (errno != EBUSY || ++tries == 20) {
      what = failure("cannot remove the trace instance", folder);
      break;
    }
    usleep(100 * 1000);
  }
  folder.clear();
  if (mounted && umount(root.c_str()) != 0 && what.empty()) {
    what = failure("cannot unmount tracefs from", root);
  }
  mounted = false;
  if (error != nullptr && !what.empty()) {
    *error = what;
  }
  return what.empty();
}

}  // namespace orvel
