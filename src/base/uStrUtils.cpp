#include "base/uStrUtils.h"

std::string TrimBlank(const std::string &S) {
  const auto IsBlank = [](char C) { return static_cast<unsigned char>(C) <= 32; };
  size_t B = 0, E = S.size();
  while (B < E && IsBlank(S[B]))
    ++B;
  while (E > B && IsBlank(S[E - 1]))
    --E;
  return S.substr(B, E - B);
}
