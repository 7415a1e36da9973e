#include "text_format.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kt::shell {

QByteArray trimBlanks(const QByteArray& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.mid(begin, end - begin);
}

QByteArray formatDigits(long long value, int digits) {
    QByteArray magnitude = QByteArray::number(value < 0 ? -value : value);
    if (magnitude.size() < digits)
        magnitude.prepend(QByteArray(digits - magnitude.size(), '0'));
    return value < 0 ? "-" + magnitude : magnitude;
}

QByteArray numberWithSign(long long value) {
    QByteArray text = QByteArray::number(value);
    return value < 0 ? text : " " + text;
}

QByteArray shortestDecimal(float value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QByteArray(buffer, result.ptr - buffer);
}

double leadingNumber(const QByteArray& text) {
    const QByteArray trimmed = trimBlanks(text);
    qsizetype pos = 0;
    bool negative = false;
    if (pos < trimmed.size() && (trimmed[pos] == '+' || trimmed[pos] == '-')) {
        negative = trimmed[pos] == '-';
        ++pos;
    }
    const qsizetype numberBegin = pos;
    while (pos < trimmed.size() && trimmed[pos] >= '0' && trimmed[pos] <= '9')
        ++pos;
    if (pos < trimmed.size() && trimmed[pos] == '.') {
        ++pos;
        while (pos < trimmed.size() && trimmed[pos] >= '0' && trimmed[pos] <= '9')
            ++pos;
    }
    double value = 0;
    const auto result =
        std::from_chars(trimmed.constData() + numberBegin, trimmed.constData() + pos, value);
    if (result.ec != std::errc())
        return 0;
    return negative ? -value : value;
}

int roundToInt(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (rounded <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(rounded);
}

QString fillIn(const QString& text, const QStringList& values) {
    QString filled;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = i + 1 < text.size() ? text[i + 1].digitValue() : -1;
        if (text[i] == u'%' && n >= 1 && n <= values.size()) {
            filled += values[n - 1];
            ++i;
        } else {
            filled += text[i];
        }
    }
    return filled;
}

} // namespace kt::shell
