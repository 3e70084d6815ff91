// An installed CUDA toolkit's libraries (which EnsureCudaEngine opens on a machine that has
// them) allocate in their own initialisers and never free it, e.g. a statically linked C++
// runtime's exception pool. Those are not ours; every other leak still fails.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libcudart.so\nleak:libcufft.so\n";
}
