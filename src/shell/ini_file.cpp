#include "ini_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kt::shell {

std::int32_t lngIniResult = 0;

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A half-open byte range [begin, end) of the file's contents.
struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
};

Span trimmed(const QByteArray& data, Span span) {
    while (span.begin < span.end && isBlank(data[span.begin]))
        ++span.begin;
    while (span.end > span.begin && isBlank(data[span.end - 1]))
        --span.end;
    return span;
}

bool sameName(const QByteArray& data, Span span, const QByteArray& name) {
    return qstrnicmp(data.constData() + span.begin, span.end - span.begin, name.constData(),
                     name.size()) == 0;
}

// Where the key stands in the file, or where it would go.
struct Location {
    bool sectionFound = false;
    bool keyFound = false;
    Span value;                  // the key's value, trimmed (keyFound)
    qsizetype insertAt = 0;      // just after the section's last entry line (sectionFound)
    bool insertNeedsEol = false; // that line is the file's last and has no line ending
    QByteArray eol = "\r\n";     // the file's first line ending
};

Location locate(const QByteArray& data, const QByteArray& section, const QByteArray& key) {
    Location found;
    bool eolSeen = false;
    bool inSection = false;
    bool inFirstSection = false;
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < data.size()) {
        qsizetype end = pos;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < data.size()) {
            next +=
                (data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n') ? 2 : 1;
            if (!eolSeen) {
                found.eol = data.mid(end, next - end);
                eolSeen = true;
            }
        }
        const Span line = trimmed(data, {pos, end});
        const bool blankOrComment = line.begin == line.end || data[line.begin] == ';';
        if (!blankOrComment && data[line.begin] == '[') {
            const qsizetype close = data.indexOf(']', line.begin);
            if (close >= 0 && close < line.end) {
                inSection = sameName(data, trimmed(data, {line.begin + 1, close}), section);
                inFirstSection = inSection && !found.sectionFound;
                if (inFirstSection) {
                    found.sectionFound = true;
                    found.insertAt = next;
                    found.insertNeedsEol = next == end;
                }
                pos = next;
                continue;
            }
        }
        if (inSection && !blankOrComment) {
            if (!found.keyFound) {
                const qsizetype equals = data.indexOf('=', line.begin);
                if (equals >= 0 && equals < line.end &&
                    sameName(data, trimmed(data, {line.begin, equals}), key)) {
                    found.keyFound = true;
                    found.value = trimmed(data, {equals + 1, line.end});
                }
            }
            // New keys go after the last entry of the first matching section.
            if (inFirstSection) {
                found.insertAt = next;
                found.insertNeedsEol = next == end;
            }
        }
        pos = next;
    }
    return found;
}

bool fitsOnOneLine(const QByteArray& text) {
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

// A name must come back unchanged when the file is read again.
bool isUsableName(const QByteArray& name, char forbidden) {
    return !name.isEmpty() && fitsOnOneLine(name) && !name.contains(forbidden) &&
           !isBlank(name.front()) && !isBlank(name.back()) && name.front() != ';' &&
           name.front() != '[';
}

// Reads the whole file. A missing file reads as empty; any other failure
// to read returns false, so that a write never replaces a file it could not
// read.
bool readWhole(const QString& file, QByteArray& data, bool& exists) {
    data.clear();
    exists = QFileInfo::exists(file);
    if (!exists)
        return true;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    data = in.readAll();
    return in.error() == QFileDevice::NoError;
}

} // namespace

QByteArray ReadIni(const QString& file, const QByteArray& section, const QByteArray& key) {
    lngIniResult = 0;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = in.readAll();
    const Location where = locate(data, section.trimmed(), key.trimmed());
    if (!where.keyFound)
        return {};
    QByteArray value = data.mid(where.value.begin, where.value.end - where.value.begin);
    lngIniResult = std::int32_t(qMin<qsizetype>(value.size(), INT32_MAX));
    return value;
}

bool WriteIni(const QString& file, const QByteArray& section, const QByteArray& key,
              const QByteArray& value) {
    lngIniResult = 0;
    const QByteArray sectionName = section.trimmed();
    const QByteArray keyName = key.trimmed();
    if (!fitsOnOneLine(value) || !isUsableName(sectionName, ']') || !isUsableName(keyName, '='))
        return false;
    if (QFileInfo(file).isDir())
        return false;

    QByteArray data;
    bool exists = false;
    if (!readWhole(file, data, exists))
        return false;

    const Location where = locate(data, sectionName, keyName);
    if (where.keyFound) {
        data.replace(where.value.begin, where.value.end - where.value.begin, value);
    } else {
        QByteArray entry = keyName + '=' + value + where.eol;
        if (where.sectionFound) {
            if (where.insertNeedsEol)
                entry.prepend(where.eol);
            data.insert(where.insertAt, entry);
        } else {
            if (!data.isEmpty() && !data.endsWith('\n') && !data.endsWith('\r'))
                data += where.eol;
            data += '[' + sectionName + ']' + where.eol + entry;
        }
    }

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(data) != data.size()) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit())
        return false;
    lngIniResult = 1;
    return true;
}

} // namespace kt::shell
