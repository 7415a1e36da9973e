// imlImage: the program's pictures, drawn in SVG and rendered by the build
// in the sizes screens ask for. Entries 1..4 are the message box icons (critical,
// question, exclamation, information), 5..8 the link states "Comm1",
// "Comm2", "CommOk", "CommError"; besides them CommOff and the buttons'
// pictures.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kt::ui {

enum class Picture {
    Critical = 1,
    Question,
    Exclamation,
    Information,
    Comm1,
    Comm2,
    CommOk,
    CommError,
    CommOff, // the port closed: grey, unlike the red of an error
    Save,
    Load,
};

// The image list entry of a 1-based index (1..8).
Picture imlImage(int index);

// The picture at the given logical size and device pixel ratio.
QPixmap picture(Picture which, int logicalSize, qreal devicePixelRatio);

// The picture as an icon with crisp renderings for common sizes.
QIcon icon(Picture which);

} // namespace kt::ui
