#include "include/spanmill/markers.h"

#ifdef SPANMILL_DISABLE
#define WRITER(name) name##_off
#else
#define WRITER(name) name
#endif

static int evaluated = 0;

static const char* counted(const char* name) {
  ++evaluated;
  return name;
}

int WRITER(c_forms)(void) {
  int line;
  spanmill_begin("decode");
  spanmill_begin_at("upload", "gpu/Upload.c:42");
  SPANMILL_BEGIN(counted("step"));
  line = __LINE__ - 1;
  SPANMILL_END();
  spanmill_end();
  return line;
}

#ifdef SPANMILL_DISABLE
int c_evaluated_off(void) {
  return evaluated;
}
#else
void c_begin(const char* name) {
  spanmill_begin(name);
}

const char* c_file(void) {
  return __FILE__;
}
#endif
