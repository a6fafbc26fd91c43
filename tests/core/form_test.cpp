// frmMain's layout in pixels at the resolutions people use.
#include <gtest/gtest.h>

#include "app/form.h"

namespace vindrel::form {
namespace {

bool operator==(const PixelRect& a, const PixelRect& b)
{
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

TEST(FormLayout, PixelsAtCommonResolutions)
{
    struct Row {
        int dpi;
        TwipRect twips;
        PixelRect pixels;
    };
    const Row rows[] = {
        {96, kClient, {0, 0, 239, 167}},
        {96, kTxtTo, {56, 8, 169, 21}},
        {96, kTxtMessage, {56, 44, 173, 89}},
        {96, kCmdSend, {164, 140, 65, 21}},
        {120, kClient, {0, 0, 299, 209}},     // 298.75 x 208.75
        {144, kClient, {0, 0, 359, 251}},     // halves round up: 358.5 x 250.5
        {144, kLabel1, {6, 18, 24, 20}},      // edges 6..30 and 18..37.5
        {120, kTxtMessage, {70, 55, 216, 111}},  // edges 70..286.25 and 55..166.25
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(ToPixels(row.twips, row.dpi, row.dpi) == row.pixels) << row.dpi << " dpi";
    }
}

TEST(FormLayout, NeighboursStayAlignedAtAnyResolution)
{
    // txtTo and txtMessage share a left edge; the Send button's right edge
    // lines up with txtMessage's. Rounding edges, not sizes, keeps both.
    for (int dpi = 72; dpi <= 288; ++dpi) {
        const PixelRect to = ToPixels(kTxtTo, dpi, dpi);
        const PixelRect message = ToPixels(kTxtMessage, dpi, dpi);
        const PixelRect send = ToPixels(kCmdSend, dpi, dpi);
        EXPECT_EQ(to.left, message.left) << dpi;
        EXPECT_EQ(send.left + send.width, message.left + message.width) << dpi;
    }
}

}  // namespace
}  // namespace vindrel::form
