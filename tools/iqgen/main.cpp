// iqgen: writes synthetic demo recordings (placeholder until the generator lands).
#include <cstdio>

int main() {
  std::fprintf(stderr, "iqgen: not implemented yet\n");
  return 1;
}
