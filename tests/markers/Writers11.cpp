#include "include/spanmill/markers.h"

#ifdef SPANMILL_DISABLE
#define WRITER(name) name##_off
#else
#define WRITER(name) name
#endif

int WRITER(scopes)() {
  SPANMILL_SCOPE("outer");
  const int line = __LINE__ - 1;
  { SPANMILL_SCOPE("inner"); }
  return line;
}
