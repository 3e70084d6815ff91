// Mesa's offscreen library keeps a few per-thread allocations alive until exit; they are not
// ours, so leak reports from inside it are suppressed while every other leak still fails.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libOSMesa.so\n";
}
