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

} // namespace kt::link
