// The viewer's key table: no claimed key is one of the host's lister keys, and no key is
// claimed twice.
#include "viewer/uViewerKeys.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

TEST(ViewerKeys, ClaimsNoHostKeyAndNoKeyTwice) {
  std::set<std::pair<uint32_t, uint8_t>> Seen;
  for (const TViewerKey &K : ViewerKeys()) {
    EXPECT_FALSE(IsHostListerKey(K.Key, K.Mods)) << K.KeyText;
    EXPECT_TRUE(Seen.insert({K.Key, K.Mods}).second) << K.KeyText;
    EXPECT_EQ(FindViewerKey(K.Key, K.Mods), &K) << K.KeyText;
  }
  // "+" with or without Shift (layouts differ), but not with Ctrl; a shifted letter is not the letter.
  EXPECT_EQ(FindViewerKey(KEY_OEM_PLUS, KMOD_SHIFT), FindViewerKey(KEY_OEM_PLUS, KMOD_NONE));
  EXPECT_EQ(FindViewerKey(KEY_OEM_PLUS, KMOD_CTRL), nullptr);
  EXPECT_EQ(FindViewerKey('M', KMOD_SHIFT), nullptr);
}

TEST(ViewerKeys, HostListerKeys) {
  struct TCase {
    uint32_t Key;
    uint8_t Mods;
    bool Host;
  } const Cases[] = {
      {'N', KMOD_NONE, true},  {'P', KMOD_NONE, true},        {'Q', KMOD_NONE, true},
      {'7', KMOD_NONE, true},  {'8', KMOD_NONE, false},       {KEY_F1 + 2, KMOD_NONE, true},
      {'C', KMOD_CTRL, true},  {'S', KMOD_CTRL, false},       {KEY_ESCAPE, KMOD_NONE, true},
      {'I', KMOD_NONE, false}, {KEY_SPACE, KMOD_NONE, false},
  };
  for (const TCase &C : Cases)
    EXPECT_EQ(IsHostListerKey(C.Key, C.Mods), C.Host) << C.Key << "/" << int(C.Mods);
}
