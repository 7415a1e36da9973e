// Fuzz target for the INI module: the input is a file. Every lookup must
// agree with a small reference model of the format; a write must read back
// as written and leave every other lookup as it was.
#include "shell/ini_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray trimmed(const QByteArray& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

struct Entry {
    QByteArray section;
    QByteArray key;
    QByteArray value;
};

// The format as plainly as it can be said: lines end at CR, LF or CRLF; a
// trimmed line "[name]..." is a section; ";" starts a comment; otherwise a
// line with "=" is key=value; blanks around names and values do not count.
std::vector<Entry> model(QByteArray data) {
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    data.replace("\r\n", "\n");
    data.replace('\r', '\n');
    std::vector<Entry> entries;
    QByteArray section;
    bool inSection = false;
    for (const QByteArray& raw : data.split('\n')) {
        const QByteArray line = trimmed(raw);
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.contains(']')) {
            section = trimmed(line.mid(1, line.indexOf(']') - 1));
            inSection = true;
        } else if (inSection && line.contains('=')) {
            entries.push_back({section, trimmed(line.left(line.indexOf('='))),
                               trimmed(line.mid(line.indexOf('=') + 1))});
        }
    }
    return entries;
}

// The first entry of that section and key, case-insensitively.
QByteArray lookup(const std::vector<Entry>& entries, const QByteArray& section,
                  const QByteArray& key) {
    for (const Entry& e : entries)
        if (e.section.compare(section, Qt::CaseInsensitive) == 0 &&
            e.key.compare(key, Qt::CaseInsensitive) == 0)
            return e.value;
    return {};
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool usable(const QByteArray& name, char forbidden) {
    return !name.isEmpty() && name == trimmed(name) && name == name.trimmed() &&
           !name.contains('\r') && !name.contains('\n') && !name.contains('\0') &&
           !name.contains(forbidden) && !name.startsWith(';') && !name.startsWith('[');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath("fuzz.KT");
    const QByteArray data(reinterpret_cast<const char*>(bytes), qsizetype(size));
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(data) == data.size());
    }
    const std::vector<Entry> entries = model(data);
    for (const Entry& e : entries)
        if (usable(e.section, ']') && usable(e.key, '='))
            check(kt::shell::ReadIni(path, e.section, e.key) == lookup(entries, e.section, e.key));

    // Write to a key of the file, or to a new one, a value made from the input.
    QByteArray section = "Data";
    QByteArray key = "NEWKEY";
    if (!entries.empty() && size % 2 == 0) {
        const Entry& chosen = entries[size % entries.size()];
        section = chosen.section;
        key = chosen.key;
    }
    if (!usable(section, ']') || !usable(key, '='))
        return 0;
    QByteArray value = trimmed(data.right(12));
    const bool writable = !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
    check(kt::shell::WriteIni(path, section, key, value).ok() == writable);
    if (!writable)
        return 0;
    check(kt::shell::ReadIni(path, section, key) == trimmed(value));
    for (const Entry& e : entries) {
        if (!usable(e.section, ']') || !usable(e.key, '='))
            continue;
        if (e.section.compare(section, Qt::CaseInsensitive) == 0 &&
            e.key.compare(key, Qt::CaseInsensitive) == 0)
            continue;
        check(kt::shell::ReadIni(path, e.section, e.key) == lookup(entries, e.section, e.key));
    }
    return 0;
}
