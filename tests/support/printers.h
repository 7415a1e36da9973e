// Readable GoogleTest output for Qt byte strings and texts.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <ostream>

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"';
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            const char* hex = "0123456789ABCDEF";
            *os << "\\x" << hex[u >> 4] << hex[u & 15];
        } else {
            *os << c;
        }
    }
    *os << '"';
}

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
