#include "trace.h"

Q_LOGGING_CATEGORY(ktLink, "kt.link", QtWarningMsg)
Q_LOGGING_CATEGORY(ktJob, "kt.job", QtWarningMsg)

namespace kt::link {

const char* controlName(unsigned char byte) {
    static const char* const names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                          "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                          "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                          "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    return byte < 32 ? names[byte] : "";
}

QByteArray printable(const QByteArray& bytes) {
    QByteArray text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32)
            text += QByteArray("<") + controlName(byte) + '>';
        else if (byte < 127)
            text += c;
        else
            text += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
    }
    return text;
}

QString displayText(const QString& text) {
    // Names in guillemets stay readable in any font, where the control
    // picture characters often show as empty boxes.
    const auto named = [](const QString& name) { return QChar(0x2039) + name + QChar(0x203A); };
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20)
            shown += named(QLatin1String(controlName(static_cast<unsigned char>(code))));
        else if (code == 0x7F)
            shown += named(QStringLiteral("DEL"));
        else if (code >= 0x80 && code <= 0x9F)
            shown +=
                named(QStringLiteral("x%1").arg(int(code), 2, 16).toUpper().replace(u'X', u'x'));
        else
            shown += c;
    }
    return shown;
}

QString displayBytes(const QByteArray& bytes) {
    return displayText(QString::fromLatin1(bytes));
}

} // namespace kt::link
