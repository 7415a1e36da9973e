// A file that grows by whole records, such as a journal: each record is one
// write of the system's, so that once it returns the record outlives the
// program, and a sync makes it outlive the machine.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace kt::shell {

class AppendFile {
  public:
    explicit AppendFile(QString path);
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();

    // Adds `bytes` at the end in one write, opening the file at the first
    // (made for its owner only, never through a link). False on a failure.
    bool append(const QByteArray& bytes);
    // Puts what was written on the disk. False on a failure.
    bool sync();
    // Empties the file, which stays open for the next record.
    bool empty();

  private:
    QString path_;
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// Whether `file` is a regular file (not a link) of the owner of `like` (or
// of this user, when `like` is missing), that no one else may write.
bool isOwnersFile(const QString& file, const QString& like);
// The same for a folder (not a link to one).
bool isOwnersFolder(const QString& folder, const QString& like);
// Whether the mode of `file` lets its group or others read it.
bool othersMayRead(const QString& file);

} // namespace kt::shell
