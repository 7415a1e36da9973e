// The fleet's history: a git repository whose work tree holds, for each
// controller, the file set of its last backup whose records changed, as
// SECTION/SECTION.KT and its card files. Made and written with libgit2.
#pragma once

#include "shell/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

namespace kt::fleet {

// One version of a controller: the commit that changed its files.
struct HistoryVersion {
    int number = 0; // 1 for the oldest
    QByteArray commit;
    QDateTime when;
    QString changes; // its line of the commit message
};

class History {
  public:
    History();
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Opens the repository in `folder`, or makes it (for its owner only)
    // when `create` and it is missing. The work tree is set back to the
    // last commit, so that it holds each controller's committed version.
    shell::Status open(const QString& folder, bool create);

    // The committed main file of `section`, empty when it has none.
    QString committedFile(const QString& section) const;
    // Puts the file set of `mainFile` in the work tree as `section`'s, and
    // card files it no longer has out of it.
    shell::Status stage(const QString& section, const QString& mainFile);
    // Commits what was staged, unless it is what the last commit holds.
    // True when a commit was made.
    shell::Result<bool> commit(const QString& message);
    // Pushes the branch to `remote`, a path or a URL.
    shell::Status push(const QString& remote);

    // The versions of `section`, oldest first.
    QList<HistoryVersion> versions(const QString& section) const;
    // Writes a version's file set into `folder` as SECTION.KT and its card
    // files, for their owner only; files that are there already stay, and
    // then nothing is written. Returns the main file.
    shell::Result<QString> exportVersion(const QString& section, const HistoryVersion& version,
                                         const QString& folder) const;

  private:
    struct Git;
    std::unique_ptr<Git> git_;
    QString folder_;
};

// The branch the history keeps.
inline constexpr char kHistoryBranch[] = "main";

} // namespace kt::fleet
