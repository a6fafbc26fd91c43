// frmMain as drawn, shared by every front end: the texts it shows and where
// its controls stand, in twips (1/1440 inch).
#pragma once

namespace vindrel::form {

inline constexpr char16_t kTitle[] = u"Vindrel";
// Shown in txtTo on a first run. Ordinary text: left in place it is sent to.
inline constexpr char16_t kToHint[] = u"Login names seperated by semicolon (or enter * for all)";
inline constexpr char16_t kToTooltip[] = u"Person's login name";
inline constexpr char16_t kLabel1Caption[] = u"To:";
inline constexpr char16_t kLabel2Caption[] = u"Message:";
inline constexpr char16_t kSendCaption[] = u"&Send";

struct TwipRect {
    int left, top, width, height;
};

inline constexpr TwipRect kClient{0, 0, 3585, 2505};
// In tab order; the labels take no focus.
inline constexpr TwipRect kTxtTo{840, 120, 2535, 315};
inline constexpr TwipRect kTxtMessage{840, 660, 2595, 1335};
inline constexpr TwipRect kLabel1{60, 180, 240, 195};
inline constexpr TwipRect kLabel2{60, 660, 690, 195};
inline constexpr TwipRect kCmdSend{2460, 2100, 975, 315};

struct PixelRect {
    int left, top, width, height;
};

inline constexpr int kTwipsPerInch = 1440;

// Rounded to the nearest pixel, halves up; twips and dpi are never negative.
constexpr int TwipsToPixels(int twips, int dpi)
{
    return static_cast<int>((static_cast<long long>(twips) * dpi + kTwipsPerInch / 2) / kTwipsPerInch);
}

// Edges are rounded, not sizes, so neighbouring controls stay aligned at any
// resolution.
constexpr PixelRect ToPixels(const TwipRect& r, int dpi_x, int dpi_y)
{
    const int left = TwipsToPixels(r.left, dpi_x);
    const int top = TwipsToPixels(r.top, dpi_y);
    return {left, top, TwipsToPixels(r.left + r.width, dpi_x) - left,
            TwipsToPixels(r.top + r.height, dpi_y) - top};
}

static_assert(ToPixels(kClient, 96, 96).width == 239 && ToPixels(kClient, 96, 96).height == 167);

}  // namespace vindrel::form
