#include "base/uGlobals.h"

bool GProcessDetach = false;

namespace {
// Destroyed with the library's other statics at unload, before the host could call again.
struct DetachFlagSetter {
  DetachFlagSetter() = default;
  DetachFlagSetter(const DetachFlagSetter &) = delete;
  DetachFlagSetter &operator=(const DetachFlagSetter &) = delete;
  ~DetachFlagSetter() { GProcessDetach = true; }
} GDetachFlagSetter;
} // namespace
