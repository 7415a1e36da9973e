#include "ini_file.h"

#include "regular_file.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <list>
#include <optional>

namespace kt::shell {

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
    // Most names differ in length: that is checked first, cheaply.
    if (span.end - span.begin != name.size())
        return false;
    return qstrnicmp(data.constData() + span.begin, span.end - span.begin, name.constData(),
                     name.size()) == 0;
}

// One line of the file: [begin, end) is its text, `next` where the next
// line starts (after the line ending, if any).
struct Line {
    qsizetype begin;
    qsizetype end;
    qsizetype next;
};

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    Span name;  // section name, or key
    Span value; // value of an entry, trimmed
};

ParsedLine parseLine(const QByteArray& data, const Line& raw) {
    ParsedLine parsed;
    const Span line = trimmed(data, {raw.begin, raw.end});
    if (line.begin == line.end) {
        parsed.kind = LineKind::Blank;
    } else if (data[line.begin] == ';') {
        parsed.kind = LineKind::Comment;
    } else if (data[line.begin] == '[' && data.indexOf(']', line.begin) >= 0 &&
               data.indexOf(']', line.begin) < line.end) {
        parsed.kind = LineKind::Section;
        parsed.name = trimmed(data, {line.begin + 1, data.indexOf(']', line.begin)});
    } else if (const qsizetype equals = data.indexOf('=', line.begin);
               equals >= 0 && equals < line.end) {
        parsed.kind = LineKind::Entry;
        parsed.name = trimmed(data, {line.begin, equals});
        parsed.value = trimmed(data, {equals + 1, line.end});
    }
    return parsed;
}

// Calls `visit(line)` for every line, after a UTF-8 byte-order mark.
template <typename Visit> void forEachLine(const QByteArray& data, Visit visit) {
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < data.size()) {
        qsizetype end = pos;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < data.size())
            next +=
                (data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n') ? 2 : 1;
        visit(Line{pos, end, next});
        pos = next;
    }
}

// The value of the first entry of `key` in a section named `section`, the
// look-up's answer; nothing when there is none.
std::optional<Span> locate(const QByteArray& data, const QByteArray& section,
                           const QByteArray& key) {
    std::optional<Span> found;
    bool inSection = false;
    forEachLine(data, [&](const Line& line) {
        const ParsedLine parsed = parseLine(data, line);
        if (parsed.kind == LineKind::Section)
            inSection = sameName(data, parsed.name, section);
        else if (inSection && !found && parsed.kind == LineKind::Entry &&
                 sameName(data, parsed.name, key))
            found = parsed.value;
    });
    return found;
}

// A name must come back unchanged when the file is read again.
bool isUsableName(const QByteArray& name, char forbidden) {
    return !name.isEmpty() && iniCanHold(name) && !name.contains(forbidden) &&
           !isBlank(name.front()) && !isBlank(name.back()) && name.front() != ';' &&
           name.front() != '[';
}

// Replaces the file atomically with `data`.
Status writeWhole(const QString& file, const QByteArray& data) {
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly) && out.write(data) == data.size() && out.commit())
        return done();
    out.cancelWriting();
    return Error{ErrorCode::Unwritable, file + QStringLiteral(": ") + out.errorString(), file};
}

// The file's bytes for an edit: empty when it does not exist yet; any
// other failure to read is an error, so that a write never replaces a file
// it could not read.
Result<QByteArray> readForEdit(const QString& file) {
    if (QFileInfo(file).isDir())
        return Error{ErrorCode::NotRegular, file + QStringLiteral(" is a folder"), file};
    const Result<QByteArray> read = readRegularFile(file);
    if (!read && read.error().code == ErrorCode::NotFound)
        return QByteArray();
    return read;
}

} // namespace

bool iniCanHold(const QByteArray& value) {
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

Result<QByteArray> ReadIniValue(const QString& file, const QByteArray& section,
                                const QByteArray& key) {
    const Result<QByteArray> read = readRegularFile(file);
    if (!read)
        return read.error();
    const QByteArray& data = *read;
    const std::optional<Span> value = locate(data, section.trimmed(), key.trimmed());
    if (!value)
        return Error{ErrorCode::NotFound,
                     QStringLiteral("%1: no key %2 in section %3")
                         .arg(file, QString::fromLatin1(key), QString::fromLatin1(section))};
    return data.mid(value->begin, value->end - value->begin);
}

QByteArray ReadIni(const QString& file, const QByteArray& section, const QByteArray& key) {
    return ReadIniValue(file, section, key).valueOr({});
}

QByteArray iniValueIn(const QByteArray& data, const QByteArray& section, const QByteArray& key) {
    const std::optional<Span> value = locate(data, section.trimmed(), key.trimmed());
    return value ? data.mid(value->begin, value->end - value->begin) : QByteArray();
}

QList<std::pair<QByteArray, QByteArray>> ReadIniSection(const QString& file,
                                                        const QByteArray& section) {
    QList<std::pair<QByteArray, QByteArray>> entries;
    const QByteArray data = readRegularFile(file).valueOr({});
    const QByteArray wanted = section.trimmed();
    QSet<QByteArray> seen;
    bool inSection = false;
    forEachLine(data, [&](const Line& line) {
        const ParsedLine parsed = parseLine(data, line);
        if (parsed.kind == LineKind::Section) {
            inSection = sameName(data, parsed.name, wanted);
            return;
        }
        if (!inSection || parsed.kind != LineKind::Entry)
            return;
        const QByteArray key = data.mid(parsed.name.begin, parsed.name.end - parsed.name.begin);
        const qsizetype before = seen.size();
        seen.insert(key.toUpper());
        if (seen.size() == before)
            return; // the first of duplicates counts
        entries.append({key, data.mid(parsed.value.begin, parsed.value.end - parsed.value.begin)});
    });
    return entries;
}

bool setIniValue(QByteArray& data, const QByteArray& section, const QByteArray& key,
                 const QByteArray& value) {
    IniSectionEditor editor(data, section);
    if (!editor.set(key, value))
        return false;
    data = editor.data();
    return true;
}

bool removeIniValue(QByteArray& data, const QByteArray& section, const QByteArray& key) {
    IniSectionEditor editor(data, section);
    if (!editor.remove(key))
        return false;
    data = editor.data();
    return true;
}

// The file as lines, and the entries of the matching sections by key. An
// unchanged line is a span of the original bytes; only a changed or new
// line holds its own text, so that one edit of a large file costs one pass
// and few allocations. New keys go after the last line of the first
// matching section that is neither blank nor a comment.
struct IniSectionEditor::Lines {
    struct Line {
        qsizetype begin = 0; // the line's text in `original`, unless `owned`
        qsizetype end = 0;
        qsizetype next = 0;    // where the original line ending ends
        QByteArray text{};     // the changed or new line's text, when `owned`
        bool owned = false;    // `text` holds the line
        bool fileEol = false;  // ends with the file's line ending, not its own
        bool content = false;  // in the first matching section, not blank or comment
        qsizetype nameAt = -1; // an entry of a matching section: its key in the text
        qsizetype nameSize = 0;
    };
    using Iterator = std::list<Line>::iterator;

    QByteArray original;
    QByteArray bom;
    QByteArray section;
    QByteArray eol = "\r\n";
    std::list<Line> lines;
    // The entries' lines by key (upper case), in file order; made at the
    // second look-up, as a single edit is cheaper with a scan.
    QHash<QByteArray, QList<Iterator>> keys;
    bool indexed = false;
    bool scanned = false;
    bool sectionFound = false;
    Iterator lastContent;

    QByteArrayView textOf(const Line& line) const {
        return line.owned
                   ? QByteArrayView(line.text)
                   : QByteArrayView(original.constData() + line.begin, line.end - line.begin);
    }
    QByteArrayView eolOf(const Line& line) const {
        return line.fileEol ? QByteArrayView(eol)
                            : QByteArrayView(original.constData() + line.end, line.next - line.end);
    }
    QByteArrayView nameOf(const Line& line) const {
        return line.nameAt < 0 ? QByteArrayView() : textOf(line).sliced(line.nameAt, line.nameSize);
    }

    // Every line of `key` (trimmed), in file order.
    QList<Iterator> find(const QByteArray& key) {
        if (!indexed && !scanned) {
            scanned = true;
            QList<Iterator> found;
            for (auto it = lines.begin(); it != lines.end(); ++it) {
                const QByteArrayView name = nameOf(*it);
                if (it->nameAt >= 0 &&
                    qstrnicmp(name.data(), name.size(), key.constData(), key.size()) == 0)
                    found.append(it);
            }
            return found;
        }
        if (!indexed) {
            indexed = true;
            for (auto it = lines.begin(); it != lines.end(); ++it)
                if (it->nameAt >= 0)
                    keys[nameOf(*it).toByteArray().toUpper()].append(it);
        }
        return keys.value(key.toUpper());
    }

    // The last content line before `from` (exclusive) of the first section.
    void findLastContent(Iterator from) {
        while (from != lines.begin()) {
            --from;
            if (from->content) {
                lastContent = from;
                return;
            }
        }
    }
};

IniSectionEditor::IniSectionEditor(const QByteArray& data, const QByteArray& section)
    : lines_(std::make_unique<Lines>()) {
    Lines& l = *lines_;
    l.original = data;
    l.section = section.trimmed();
    if (data.startsWith("\xEF\xBB\xBF"))
        l.bom = data.left(3);
    bool eolSeen = false;
    bool inSection = false;
    bool inFirst = false;
    forEachLine(data, [&](const Line& raw) {
        Lines::Line line{.begin = raw.begin, .end = raw.end, .next = raw.next};
        if (!eolSeen && raw.next > raw.end) {
            l.eol = data.mid(raw.end, raw.next - raw.end);
            eolSeen = true;
        }
        const ParsedLine parsed = parseLine(data, raw);
        if (parsed.kind == LineKind::Section) {
            inSection = sameName(data, parsed.name, l.section);
            inFirst = inSection && !l.sectionFound;
        }
        line.content = inFirst && inSection && parsed.kind != LineKind::Blank &&
                       parsed.kind != LineKind::Comment;
        if (inSection && parsed.kind == LineKind::Entry) {
            line.nameAt = parsed.name.begin - raw.begin;
            line.nameSize = parsed.name.end - parsed.name.begin;
        }
        l.lines.push_back(line);
        if (line.content) {
            l.sectionFound = true;
            l.lastContent = std::prev(l.lines.end());
        }
    });
}

IniSectionEditor::~IniSectionEditor() = default;

bool IniSectionEditor::set(const QByteArray& key, const QByteArray& value) {
    Lines& l = *lines_;
    const QByteArray keyName = key.trimmed();
    if (!iniCanHold(value) || !isUsableName(l.section, ']') || !isUsableName(keyName, '='))
        return false;
    if (const QList<Lines::Iterator> known = l.find(keyName); !known.isEmpty()) {
        // The first line of the key keeps its name and layout; its value
        // (without the blanks around it) is replaced.
        Lines::Line& line = *known.first();
        if (!line.owned) {
            line.text = l.textOf(line).toByteArray();
            line.owned = true;
        }
        const ParsedLine parsed = parseLine(line.text, {0, line.text.size(), line.text.size()});
        line.text.replace(parsed.value.begin, parsed.value.end - parsed.value.begin, value);
        return true;
    }
    const Lines::Line header{.owned = true, .fileEol = true, .content = true};
    if (!l.sectionFound) {
        if (!l.lines.empty() && l.eolOf(l.lines.back()).isEmpty())
            l.lines.back().fileEol = true;
        else if (l.lines.empty() && !l.bom.isEmpty())
            l.lines.push_back({.owned = true, .fileEol = true}); // a file of nothing but its mark
        l.lines.push_back(header);
        l.lines.back().text = '[' + l.section + ']';
        l.sectionFound = true;
        l.lastContent = std::prev(l.lines.end());
    }
    if (l.eolOf(*l.lastContent).isEmpty())
        l.lastContent->fileEol = true; // it was the file's last line
    Lines::Line entry = header;
    entry.text = keyName + '=' + value;
    entry.nameAt = 0;
    entry.nameSize = keyName.size();
    l.lastContent = l.lines.insert(std::next(l.lastContent), entry);
    if (l.indexed)
        l.keys[keyName.toUpper()] = {l.lastContent};
    return true;
}

bool IniSectionEditor::remove(const QByteArray& key) {
    Lines& l = *lines_;
    const QByteArray keyName = key.trimmed();
    const QList<Lines::Iterator> known = l.find(keyName);
    if (known.isEmpty())
        return false;
    // From the last line up, so that a new last content line is never one
    // that goes too.
    for (auto line = known.crbegin(); line != known.crend(); ++line) {
        if (*line == l.lastContent)
            l.findLastContent(*line); // the header stays: one is found
        l.lines.erase(*line);
    }
    if (l.indexed)
        l.keys.remove(keyName.toUpper());
    return true;
}

QByteArray IniSectionEditor::data() const {
    const Lines& l = *lines_;
    QByteArray data;
    data.reserve(l.original.size() + 64);
    data += l.bom;
    for (const Lines::Line& line : l.lines) {
        data += l.textOf(line);
        data += l.eolOf(line);
    }
    return data;
}

Status WriteIniValues(const QString& file, const QList<IniValue>& values) {
    const Result<QByteArray> read = readForEdit(file);
    if (!read)
        return read.error();
    QByteArray data = *read;
    for (const IniValue& v : values) {
        if (!setIniValue(data, v.section, v.key, v.value))
            return Error{ErrorCode::Invalid,
                         file + QStringLiteral(": [%1] %2 cannot hold that value")
                                    .arg(QString::fromUtf8(v.section), QString::fromUtf8(v.key)),
                         file};
    }
    return writeWhole(file, data);
}

Status WriteIni(const QString& file, const QByteArray& section, const QByteArray& key,
                const QByteArray& value) {
    return WriteIniValues(file, {{section, key, value}});
}

Status RemoveIni(const QString& file, const QByteArray& section, const QByteArray& key) {
    if (!QFileInfo::exists(file))
        return done();
    const Result<QByteArray> read = readForEdit(file);
    if (!read)
        return read.error();
    QByteArray data = *read;
    return removeIniValue(data, section, key) ? writeWhole(file, data) : done();
}

void SyncIniDirectory(const QString& file) {
    syncFolderOf(file);
}

} // namespace kt::shell
