// What a process holds of the window system and of memory, for the soak and failure tests.
#pragma once

#include <windows.h>

#include <psapi.h>

#include <cstdint>

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

// USER objects of this process; where GetGuiResources answers 0 (Wine), its windows.
inline DWORD UserObjects() {
  if (const DWORD N = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS))
    return N;
  DWORD N = 0;
  EnumWindows(
      [](HWND Wnd, LPARAM Counter) -> BOOL {
        DWORD Pid = 0;
        GetWindowThreadProcessId(Wnd, &Pid);
        if (Pid == GetCurrentProcessId()) {
          ++*reinterpret_cast<DWORD *>(Counter);
          // EnumChildWindows already walks every descendant.
          EnumChildWindows(
              Wnd,
              [](HWND, LPARAM C) -> BOOL {
                ++*reinterpret_cast<DWORD *>(C);
                return TRUE;
              },
              Counter);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&N));
  return N;
}

inline uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX C{};
  C.cb = sizeof(C);
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&C),
                               sizeof(C)))
    return 0;
  return C.PrivateUsage;
}

struct TResources {
  DWORD Gdi = 0, User = 0;
  uint64_t Private = 0;
  static TResources Now() { return {GdiObjects(), UserObjects(), PrivateBytes()}; }
};

} // namespace testhost
