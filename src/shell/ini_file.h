// Reading and writing keys of INI-structured files (Language.ini and the
// backup files), compatible with the files the Windows private-profile
// service reads and writes:
// - section and key names match case-insensitively (ASCII letters);
// - blanks and tabs around names and values are ignored;
// - lines whose first non-blank character is ';' are comments;
// - the first of duplicate keys wins;
// - LF, CRLF and CR-only files are read; a UTF-8 byte-order mark is skipped.
// Values are bytes and are returned whole: no length limit, no quote
// stripping. Nothing is cached: every call reads the file afresh.
//
// A write replaces the key's value in place and leaves every other byte of
// the file as it was; a missing key is added at the end of its section, a
// missing section at the end of the file, a missing file is created. New
// lines use the file's own line ending (CRLF for a new file). The file is
// replaced atomically, so an interrupted write never leaves a torn file.
#pragma once

#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <utility>

namespace kt::shell {

// The value of `key` in `section` of `file`. Errors: NotFound when the
// file, the section or the key does not exist; what readRegularFile says of
// a file that cannot be read.
Result<QByteArray> ReadIniValue(const QString& file, const QByteArray& section,
                                const QByteArray& key);
// The same, with an empty text for a value that cannot be had.
QByteArray ReadIni(const QString& file, const QByteArray& section, const QByteArray& key);
// ReadIni on a file's bytes in memory, for many values of one read.
QByteArray iniValueIn(const QByteArray& data, const QByteArray& section, const QByteArray& key);

// One value to write: `key` = `value` in `section`.
struct IniValue {
    QByteArray section;
    QByteArray key;
    QByteArray value;
};

// Writes every value into `file` in one atomic replacement, or none of
// them. Errors: NotRegular for a folder or device; what readRegularFile
// says of a file that cannot be read; Invalid when a value holds CR, LF or
// NUL, or a name could not be read back as written; Unwritable when the
// file cannot be replaced.
Status WriteIniValues(const QString& file, const QList<IniValue>& values);
// The same for one value.
Status WriteIni(const QString& file, const QByteArray& section, const QByteArray& key,
                const QByteArray& value);

// Every key of `section` (in every section of that name) with its value,
// in file order; of duplicate keys (any letter case) only the first. An
// empty list when the file or the section does not exist.
QList<std::pair<QByteArray, QByteArray>> ReadIniSection(const QString& file,
                                                        const QByteArray& section);

// Whether a value can stand on one line of an INI file (no CR, LF or NUL).
bool iniCanHold(const QByteArray& value);

// Removes every line of `key` in `section` of `file`, leaving every other
// byte as it was. A missing file or key needs no change. Errors as
// WriteIniValues gives them.
Status RemoveIni(const QString& file, const QByteArray& section, const QByteArray& key);

// The edits of WriteIni and RemoveIni on a file's bytes in memory, so that
// many can be made before one write. setIniValue is false, and changes
// nothing, when the names or the value cannot stand in an INI file;
// removeIniValue is true when a line went.
bool setIniValue(QByteArray& data, const QByteArray& section, const QByteArray& key,
                 const QByteArray& value);
bool removeIniValue(QByteArray& data, const QByteArray& section, const QByteArray& key);

// Many edits of one section of a file's bytes, each as setIniValue or
// removeIniValue would make it, at a cost that does not grow with the file:
// the file is read into lines once, with an index of the section's keys.
class IniSectionEditor {
  public:
    IniSectionEditor(const QByteArray& data, const QByteArray& section);
    ~IniSectionEditor();
    IniSectionEditor(const IniSectionEditor&) = delete;
    IniSectionEditor& operator=(const IniSectionEditor&) = delete;

    bool set(const QByteArray& key, const QByteArray& value);
    bool remove(const QByteArray& key);
    QByteArray data() const;

  private:
    struct Lines;
    std::unique_ptr<Lines> lines_;
};

// Makes the replacements of files in the directory of `file` durable (the
// contents of a backup file are synced by every write already): once after
// a batch of them, before anything that relies on them.
void SyncIniDirectory(const QString& file);

} // namespace kt::shell
