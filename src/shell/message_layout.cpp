#include "message_layout.h"

#include <algorithm>
#include <cmath>

namespace kt::shell {

MsgBoxButtons msgBoxButtons(int buttonCode, int previousButtonBottom) {
    using D = MsgBoxDesign;
    MsgBoxButtons b;
    b.buttonBottom = previousButtonBottom;
    switch (buttonCode) {
    case 0:
        b.ok = b.cancel = true;
        b.defaultButton = 1;
        b.buttonBottom = D::cancelTop + D::buttonHeight;
        break;
    case 1:
        b.ok = true;
        b.defaultButton = 1;
        b.buttonBottom = D::okTop + D::buttonHeight;
        break;
    case 2:
        b.cancel = true;
        b.defaultButton = 2;
        b.cancelTop = D::okTop;
        b.buttonBottom = D::okTop + D::buttonHeight;
        break;
    default:
        break;
    }
    return b;
}

void msgBoxSize(const Extent& message, const Extent& titleShadow, int buttonBottom, int* width,
                int* height) {
    const double right =
        std::max(message.left + message.width, titleShadow.left + titleShadow.width);
    const double bottom = std::max(message.top + message.height, double(buttonBottom));
    *width = int(std::nearbyint(right)) + MsgBoxDesign::marginRight;
    *height = int(std::nearbyint(bottom)) + MsgBoxDesign::marginBottom;
}

} // namespace kt::shell
