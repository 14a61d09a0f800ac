// Where the main window opens, and lengths of the 96-DPI design at other
// DPIs: the rules the window follows, natively.
#include "ui/placement.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

TEST(Placement, AWindowThatFitsStaysWhereItWasWanted) {
    Box window = {248, 99, 248 + 527, 99 + 612};
    PlaceInside({0, 0, 1024, 738}, &window);
    EXPECT_EQ(248, window.left);
    EXPECT_EQ(99, window.top);
    EXPECT_EQ(527, window.Width());
    EXPECT_EQ(612, window.Height());
}

// 150 % on a 1080-line screen with the task bar below: the window moves up
// until its bottom, and the exit button, clear the task bar.
TEST(Placement, AWindowRunningPastTheWorkAreaMovesBackIntoIt) {
    Box window = {372, 149, 372 + 790, 149 + 915};
    PlaceInside({0, 0, 1920, 1040}, &window);
    EXPECT_EQ(372, window.left);
    EXPECT_EQ(1040 - 915, window.top);
    EXPECT_EQ(1040, window.bottom);
    EXPECT_EQ(915, window.Height());

    Box right = {1700, 10, 1700 + 400, 10 + 300};
    PlaceInside({1920, 0, 3840, 1040}, &right);  // a second monitor, to the right
    EXPECT_EQ(1920, right.left);
}

// A window larger than the work area keeps its caption in sight: its top
// and left at the area's.
TEST(Placement, AWindowLargerThanTheWorkAreaStaysAtItsCorner) {
    Box window = {372, 149, 372 + 790, 149 + 915};
    PlaceInside({0, 30, 700, 600}, &window);
    EXPECT_EQ(0, window.left);
    EXPECT_EQ(30, window.top);
    EXPECT_EQ(790, window.Width());
    EXPECT_EQ(915, window.Height());
}

TEST(Placement, LengthsScaleAndRoundAsMulDiv) {
    EXPECT_EQ(521, ScaleForDpi(521, 96));
    EXPECT_EQ(651, ScaleForDpi(521, 120));  // 651.25
    EXPECT_EQ(782, ScaleForDpi(521, 144));  // 781.5 rounds up
    EXPECT_EQ(113, ScaleForDpi(90, 120));   // 112.5 rounds up
    EXPECT_EQ(-5, ScaleForDpi(-4, 120));  // the left column, at -4
    EXPECT_EQ(-5, ScaleForDpi(-3, 144));  // -4.5: halves away from zero
    EXPECT_EQ(1172, ScaleForDpi(586, 192));
}

}  // namespace
}  // namespace kestro
