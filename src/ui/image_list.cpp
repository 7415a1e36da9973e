#include "image_list.h"

#include <QHash>

#include <algorithm>
#include <iterator>

// The pictures live in a static library, whose resources must be
// registered by hand.
static void registerPictures() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace kt::ui {

namespace {

const char* nameOf(Picture which) {
    switch (which) {
    case Picture::Critical:
        return "critical";
    case Picture::Question:
        return "question";
    case Picture::Exclamation:
        return "exclamation";
    case Picture::Information:
        return "information";
    case Picture::Comm1:
        return "comm1";
    case Picture::Comm2:
        return "comm2";
    case Picture::CommOk:
        return "commok";
    case Picture::CommError:
        return "commerror";
    case Picture::CommOff:
        return "commoff";
    case Picture::Save:
        return "save";
    case Picture::Load:
        break;
    }
    return "load";
}

// The pixel sizes the build renders each picture in (src/ui/CMakeLists.txt).
constexpr int kRenderedSizes[] = {16, 24, 32, 48, 64, 96, 128};

} // namespace

Picture imlImage(int index) {
    return index >= 1 && index <= 8 ? Picture(index) : Picture::Critical;
}

QPixmap picture(Picture which, int logicalSize, qreal devicePixelRatio) {
    // The status panel changes picture twice a record: render each once.
    static QHash<QString, QPixmap> rendered;
    const QString cacheKey = QString::number(int(which)) + u'/' + QString::number(logicalSize) +
                             u'/' + QString::number(devicePixelRatio);
    if (const auto it = rendered.constFind(cacheKey); it != rendered.cend())
        return *it;
    const int pixels = std::max(1, qRound(logicalSize * devicePixelRatio));
    registerPictures();
    // The rendering of that size, else the next larger one scaled down.
    int source = kRenderedSizes[std::size(kRenderedSizes) - 1];
    for (const int size : kRenderedSizes)
        if (size >= pixels) {
            source = size;
            break;
        }
    QPixmap pixmap(QStringLiteral(":/icons/%1-%2.png")
                       .arg(QLatin1String(nameOf(which)), QString::number(source)));
    if (pixmap.width() != pixels)
        pixmap = pixmap.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    rendered.insert(cacheKey, pixmap);
    return pixmap;
}

QIcon icon(Picture which) {
    QIcon result;
    for (const int size : {16, 24, 32, 48})
        for (const qreal ratio : {1.0, 2.0})
            result.addPixmap(picture(which, size, ratio));
    return result;
}

} // namespace kt::ui
