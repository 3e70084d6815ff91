// The keys the viewer claims for itself. Every other key typed into the viewer belongs to the
// host (its next/previous-file keys, mode keys and shortcuts) and is passed on to its window.
// Key codes use the Win32 virtual-key numbering (letters and digits are their upper-case ASCII
// codes), so the Win32 side passes its codes straight through and other window systems map
// theirs onto it. Portable: never includes <windows.h>.
#pragma once

#include <cstdint>
#include <span>

// Named key codes (Win32 virtual-key values).
inline constexpr uint32_t KEY_ESCAPE = 0x1B;
inline constexpr uint32_t KEY_SPACE = 0x20;
inline constexpr uint32_t KEY_HOME = 0x24;
inline constexpr uint32_t KEY_LEFT = 0x25;
inline constexpr uint32_t KEY_RIGHT = 0x27;
inline constexpr uint32_t KEY_F1 = 0x70;
inline constexpr uint32_t KEY_F24 = 0x87;
inline constexpr uint32_t KEY_ADD = 0x6B;       // keypad +
inline constexpr uint32_t KEY_SUBTRACT = 0x6D;  // keypad -
inline constexpr uint32_t KEY_OEM_PLUS = 0xBB;  // "=+" on US layouts, "+" elsewhere
inline constexpr uint32_t KEY_OEM_MINUS = 0xBD; // "-"

// Modifier bits.
inline constexpr uint8_t KMOD_NONE = 0;
inline constexpr uint8_t KMOD_SHIFT = 1;
inline constexpr uint8_t KMOD_CTRL = 2;
inline constexpr uint8_t KMOD_ALT = 4;

// What a claimed key does; the platform forwards the action to the core.
enum class TViewerAction : uint8_t {
  None,
  ShowInfo, // the information box: where rate and centre came from
  ZoomIn,       // narrow the band around its middle
  ZoomOut,      // widen it
  ZoomReset,    // the whole band
  PanLeft,      // move the band down by a quarter of its width
  PanRight,     // up by a quarter
  MarkerToPeak, // first marker to the strongest bin in view
  ClearMarkers,
  AutoLevels, // level range from the levels in view
  PeakHold,   // peak-hold trace on and off
  Help,       // key overlay on and off
  Overview,   // overview strip of the whole recording on and off
  Export,     // save the frame as PNG
};

struct TViewerKey {
  uint32_t Key; // virtual-key code
  uint8_t Mods; // KMOD_* bits that must be down (exactly)
  TViewerAction Action;
  const char *KeyText;     // as the guide and the help overlay name it, e.g. "Ctrl+S"
  const char *Description; // what it does
};

// The viewer's keys, in the order the help lists them.
std::span<const TViewerKey> ViewerKeys();
// The claimed key for Key with exactly the modifiers Mods; nullptr: the key belongs to the host.
const TViewerKey *FindViewerKey(uint32_t Key, uint8_t Mods);
// True for the keys the host's lister uses itself (letters N P A S V W F Q, digits 1-7,
// function keys, Ctrl+A/C/P/F, Escape); the viewer never claims one of them.
bool IsHostListerKey(uint32_t Key, uint8_t Mods);
