#include "message_layout.h"

#include <algorithm>
#include <cmath>

namespace kt::ui {

MsgBoxButtons msgBoxButtons(shell::MsgButtons buttons) {
    using D = MsgBoxDesign;
    MsgBoxButtons b;
    switch (buttons) {
    case shell::MsgButtons::OkCancel:
        b.ok = b.cancel = true;
        b.buttonBottom = D::cancelTop + D::buttonHeight;
        break;
    case shell::MsgButtons::RestoreCancel:
    case shell::MsgButtons::ReplaceCancel:
    case shell::MsgButtons::StopGoOn:
    case shell::MsgButtons::StopJobGoOn:
        // A restore overwrites the controller, a Save a complete backup, a
        // stopped restore leaves a controller part-written: Enter must not
        // do any of them.
        b.ok = b.cancel = true;
        b.defaultButton = shell::MsgAnswer::Cancel;
        b.buttonBottom = D::cancelTop + D::buttonHeight;
        break;
    case shell::MsgButtons::Ok:
        b.ok = true;
        b.buttonBottom = D::okTop + D::buttonHeight;
        break;
    case shell::MsgButtons::Cancel:
        b.cancel = true;
        b.defaultButton = shell::MsgAnswer::Cancel;
        b.cancelTop = D::okTop;
        b.buttonBottom = D::okTop + D::buttonHeight;
        break;
    }
    return b;
}

int messageWidthLimit(int averageCharWidth, int screenWidth, int marginsPixels) {
    constexpr int kReadableCharacters = 70;
    return std::max(
        1, std::min(kReadableCharacters * averageCharWidth, screenWidth * 2 / 3 - marginsPixels));
}

void msgBoxSize(const Extent& message, const Extent& titleShadow, int buttonBottom, int* width,
                int* height) {
    const double right =
        std::max(message.left + message.width, titleShadow.left + titleShadow.width);
    const double bottom = std::max(message.top + message.height, double(buttonBottom));
    *width = int(std::nearbyint(right)) + MsgBoxDesign::marginRight;
    *height = int(std::nearbyint(bottom)) + MsgBoxDesign::marginBottom;
}

} // namespace kt::ui
