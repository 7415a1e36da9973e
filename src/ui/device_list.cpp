#include "device_list.h"

namespace kt::ui {

namespace {

const QString kSeparator = QStringLiteral(" — ");

} // namespace

QString deviceLine(const QString& name, const QStringList& known) {
    return known.isEmpty() ? name : name + kSeparator + known.join(QStringLiteral(", "));
}

QString portNameOfLine(const QString& line) {
    return line.section(kSeparator, 0, 0).trimmed();
}

} // namespace kt::ui
