// The fleet's history: a git repository whose work tree holds, for each
// controller, the file set of its last backup whose records changed, as
// SECTION/SECTION.KT and its card files. Made and written with libgit2.
#pragma once

#include "remote_address.h"
#include "shell/file_lock.h"
#include "shell/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <map>
#include <memory>

namespace kt::fleet {

// One version of a controller: the commit that changed its files.
struct HistoryVersion {
    int number = 0; // 1 for the oldest
    QByteArray commit;
    QDateTime when;
    QString changes;         // its line of the commit message
    bool suspicious = false; // the line said its backup was suspicious
    int cards = -1;          // from the commit's counts; -1: not given
    int records = -1;
};

class History {
  public:
    History();
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    enum class Mode {
        Read,  // versions and exports only; nothing is written
        Write, // made when missing, locked against other runs, set back to
               // the last commit so that it holds each committed version
    };
    // Opens the history in `folder`. For writing, a missing or empty folder
    // becomes a new history, for its owner only (it holds every card
    // record); it is locked until this object goes (another run that writes
    // gets an InUse error), and git's lock files that a killed run left are
    // removed. A folder that is neither empty nor a history this program
    // made is refused and left as it was, so that nothing of another
    // repository is taken over or mixed in.
    shell::Status open(const QString& folder, Mode mode);

    // The committed main file of `section`, empty when it has none.
    QString committedFile(const QString& section) const;
    // Puts the file set of `mainFile` in the work tree as `section`'s, and
    // card files it no longer has out of it. A symbolic link where the
    // section's folder or files go is refused.
    shell::Status stage(const QString& section, const QString& mainFile);
    // Commits what was staged, unless it is what the last commit holds.
    // True when a commit was made.
    shell::Result<bool> commit(const QString& message);
    // Pushes the history to `branch` of `remote`: a bare repository by its
    // path, or a URL (https with credentials in the URL or a helper-free
    // token, ssh through the user's ssh-agent). Only a branch that the
    // history extends is updated: the branch of another fleet never is. An
    // error never holds the remote's credentials.
    shell::Status push(const RemoteAddress& remote, const QString& branch);

    // The versions of `section`, oldest first.
    QList<HistoryVersion> versions(const QString& section) const;
    // The versions of every section, read in one walk of the history.
    std::map<QString, QList<HistoryVersion>> allVersions() const;
    // Writes a version's file set into `folder` as SECTION.KT and its card
    // files, for their owner only; files that are there already stay, and
    // then nothing is written. Returns the main file.
    shell::Result<QString> exportVersion(const QString& section, const HistoryVersion& version,
                                         const QString& folder) const;

  private:
    shell::Status lock();
    void heal() const;
    QString lockPath() const;

    // Declared first, so that it is let go after the repository is closed.
    shell::FileLock lock_;
    struct Git;
    std::unique_ptr<Git> git_;
    QString folder_;
};

// The branch the history keeps.
inline constexpr char kHistoryBranch[] = "main";

} // namespace kt::fleet
