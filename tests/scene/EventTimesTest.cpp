// Guards the matching of the window system's event times to SDL's clock:
// the smallest read-minus-happened bound wins, across the 32-bit wrap, and
// no event is put after the moment it was read.
#include <gtest/gtest.h>

#include "scene/EventTimes.h"

using namespace KestorEngine;

TEST(ClockMatch, TheQuickestReadEventSetsTheOffsetAcrossTheWrap) {
  struct Row {
    uint32_t server;  // the other clock at SDL time 0
  };
  for (Row row : {Row{5000}, Row{0xFFFFFF00u}}) {
    ClockMatch clock;
    EXPECT_EQ(clock.ToSdl(row.server + 100, 400), 400u) << "unknown: the read time stands";
    // Events read 300, 40 and 90 ms after they happened.
    clock.Observe(1300, row.server + 1000);
    clock.Observe(2040, row.server + 2000);
    clock.Observe(3090, row.server + 3000);
    EXPECT_EQ(clock.ToSdl(row.server + 5000, 6000), 5040u);
    EXPECT_EQ(clock.ToSdl(row.server + 5990, 6000), 6000u) << "never after it was read";
  }
}
