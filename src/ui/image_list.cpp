#include "image_list.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

// The pictures live in a static library, whose resources must be
// registered by hand.
static void registerPictures() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace kt::ui {

namespace {

const char* resourceOf(Picture which) {
    switch (which) {
    case Picture::Critical:
        return ":/icons/critical.svg";
    case Picture::Question:
        return ":/icons/question.svg";
    case Picture::Exclamation:
        return ":/icons/exclamation.svg";
    case Picture::Information:
        return ":/icons/information.svg";
    case Picture::Comm1:
        return ":/icons/comm1.svg";
    case Picture::Comm2:
        return ":/icons/comm2.svg";
    case Picture::CommOk:
        return ":/icons/commok.svg";
    case Picture::CommError:
        return ":/icons/commerror.svg";
    case Picture::CommOff:
        return ":/icons/commoff.svg";
    case Picture::Save:
        return ":/icons/save.svg";
    case Picture::Load:
        break;
    }
    return ":/icons/load.svg";
}

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
    const int pixels = qRound(logicalSize * devicePixelRatio);
    registerPictures();
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QString::fromLatin1(resourceOf(which)));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
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
