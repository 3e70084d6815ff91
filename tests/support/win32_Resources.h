// What a process holds of the window system and of memory, for the soak and failure tests.
#pragma once

#include <windows.h>

#include <psapi.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace testhost {

// Live GDI objects of this process. Wine leaves GetGuiResources unimplemented (it answers 0),
// so there the handle table is probed instead: a handle with a zero high word names its slot.
inline DWORD GdiObjects() {
  if (const DWORD N = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
    return N;
  DWORD N = 0;
  for (UINT_PTR I = 1; I <= 0xFFFF; ++I)
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(I)) != 0)
      ++N;
  return N;
}

// Live GDI handles by object type (OBJ_PEN .. OBJ_COLORSPACE), probed as above: tells what kind
// of object a count that grew is made of (Wine only; on Windows handles carry high bits).
inline std::array<DWORD, 16> GdiObjectsByType() {
  std::array<DWORD, 16> N{};
  for (UINT_PTR I = 1; I <= 0xFFFF; ++I) {
    const DWORD T = GetObjectType(reinterpret_cast<HGDIOBJ>(I));
    if (T != 0 && T < N.size())
      ++N[T];
  }
  return N;
}

inline BOOL CALLBACK CountChild(HWND, LPARAM Counter) {
  ++*reinterpret_cast<DWORD *>(Counter);
  return TRUE;
}

inline BOOL CALLBACK CountTopLevel(HWND Wnd, LPARAM Counter) {
  DWORD Pid = 0;
  GetWindowThreadProcessId(Wnd, &Pid);
  if (Pid == GetCurrentProcessId()) {
    ++*reinterpret_cast<DWORD *>(Counter);
    EnumChildWindows(Wnd, CountChild, Counter); // walks every descendant
  }
  return TRUE;
}

// USER objects of this process; where GetGuiResources answers 0 (Wine), its windows.
inline DWORD UserObjects() {
  if (const DWORD N = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS))
    return N;
  DWORD N = 0;
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&N));
  return N;
}

// Committed private memory of this process. Wine reports 0 as PrivateUsage; there the address
// space is walked and its committed private regions summed, which is what the figure means.
inline uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX C{};
  C.cb = sizeof(C);
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&C),
                              sizeof(C)) &&
      C.PrivateUsage != 0)
    return C.PrivateUsage;
  uint64_t Sum = 0;
  MEMORY_BASIC_INFORMATION M{};
  for (const char *P = nullptr; VirtualQuery(P, &M, sizeof M) == sizeof M;
       P = static_cast<const char *>(M.BaseAddress) + M.RegionSize) {
    if (M.State == MEM_COMMIT && M.Type == MEM_PRIVATE)
      Sum += M.RegionSize;
    if (static_cast<const char *>(M.BaseAddress) + M.RegionSize <= P)
      break; // wrapped at the top of the address space
  }
  return Sum;
}

// Under Wine, anonymous resident memory of the whole Linux process (from /proc through drive
// Z:): it also holds what the native OpenGL driver allocates, which the address space walk
// above cannot see. 0 where there is no such file (Windows).
inline uint64_t HostAnonBytes() {
  std::FILE *F = _wfopen(L"Z:\\proc\\self\\status", L"r");
  if (!F)
    return 0;
  uint64_t Kb = 0;
  char Line[256];
  while (std::fgets(Line, sizeof Line, F))
    if (std::strncmp(Line, "RssAnon:", 8) == 0) {
      unsigned long long V = 0;
      if (std::sscanf(Line + 8, "%llu", &V) == 1)
        Kb = V;
      break;
    }
  std::fclose(F);
  return Kb * 1024;
}

struct TResources {
  DWORD Gdi = 0, User = 0;
  uint64_t Private = 0;
  uint64_t HostAnon = 0;
  static TResources Now() { return {GdiObjects(), UserObjects(), PrivateBytes(), HostAnonBytes()}; }
};

} // namespace testhost
