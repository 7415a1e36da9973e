// A trace of the line, off by default: frames sent and received, tries and
// time-outs (category kt.link), and the steps of a job (kt.job). Switch it
// on with QT_LOGGING_RULES="kt.*.debug=true".
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(ktLink)
Q_DECLARE_LOGGING_CATEGORY(ktJob)

namespace kt::link {

// The name of a control character (0 to 31): "SOH", "CR" ...
const char* controlName(unsigned char byte);

// The bytes with control characters written as <SOH>, <CR> ... and other
// bytes outside printable ASCII as \xNN, for one line of the trace.
QByteArray printable(const QByteArray& bytes);

// The bytes for a person to read, in a window or on a terminal: control
// characters by their names in guillemets (SOH as ‹SOH›, DEL as ‹DEL›,
// 0x80..0x9F as ‹x9B›), so that none of them reaches a terminal raw, and
// every other byte as Latin-1.
QString displayBytes(const QByteArray& bytes);
// The same for text already decoded: control characters by their names.
QString displayText(const QString& text);

} // namespace kt::link
