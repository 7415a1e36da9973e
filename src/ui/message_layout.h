// Geometry of the message box in twips (1/1440 inch), from the positions
// and sizes of its controls: which buttons show where, and the window size
// that the labels and buttons need.
#pragma once

#include "shell/message_codes.h"

namespace kt::ui {

inline constexpr double kTwipsPerInch = 1440;

// The message box controls' sizes and places, in twips.
struct MsgBoxDesign {
    static constexpr int buttonLeft = 120, okTop = 1440, cancelTop = 1920;
    static constexpr int buttonWidth = 1260, buttonHeight = 360;
    static constexpr int iconLeft = 510, iconTop = 690, iconAltLeft = 420, iconAltTop = 780;
    static constexpr int iconSize = 480;
    static constexpr int messageLeft = 1620, messageTop = 600;
    static constexpr int titleLeft = 90, titleTop = 90;
    static constexpr int shadowLeft = 105, shadowTop = 105, shadowAltLeft = 75, shadowAltTop = 75;
    static constexpr int marginRight = 330, marginBottom = 210;
    // The dark band behind the title ends this far above the message.
    static constexpr int titleBandGap = 60;
};

// The widest a message may be, in pixels: about 70 characters of `averageCharWidth`,
// and never so wide that the box passes two thirds of the screen.
int messageWidthLimit(int averageCharWidth, int screenWidth, int marginsPixels);

struct MsgBoxButtons {
    bool ok = false;
    bool cancel = false;
    shell::MsgAnswer defaultButton = shell::MsgAnswer::Ok;
    int cancelTop = MsgBoxDesign::cancelTop;
    int buttonBottom = 0; // lower edge of the lowest visible button
};

// OK and Cancel; OK only; Cancel only, moved up into the OK position;
// Restore (in OK's place) and Cancel, Cancel the default.
MsgBoxButtons msgBoxButtons(shell::MsgButtons buttons);

struct Extent {
    double left;
    double top;
    double width;
    double height;
};

// The window's width and height: right and bottom edges of the message,
// the title shadow and the buttons (rounded to whole twips, halves to
// even), plus the margins.
void msgBoxSize(const Extent& message, const Extent& titleShadow, int buttonBottom, int* width,
                int* height);

} // namespace kt::ui
