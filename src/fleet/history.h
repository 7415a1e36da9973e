// The fleet's history: a git repository whose work tree holds, for each
// controller, the file set of its last backup whose records changed, as
// SECTION/SECTION.KT and its card files. Made and written with libgit2.
#pragma once

#include "age_file.h"
#include "history_pack.h"
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

    // Whether new versions are encrypted, to `recipients`, or kept in clear
    // (none): it must be what the history holds already. A history with
    // versions in clear is refused for encryption until reencrypt() has
    // rewritten it, and one with encrypted versions needs recipients; an
    // empty one takes either. For a history opened to write, before stage().
    shell::Status encryptTo(const QList<AgeRecipient>& recipients);
    bool encrypts() const { return !recipients_.isEmpty(); }

    // The committed main file of `section`, empty when it has none; an age
    // file when the history is encrypted.
    QString committedFile(const QString& section) const;
    // The git tree of `section`'s folder in the last commit, as hex; empty
    // when it has none. It changes with each new version of the section.
    QByteArray sectionTree(const QString& section) const;
    // Puts the file set of `mainFile` in the work tree as `section`'s (each
    // file encrypted when the history encrypts), and card files it no longer
    // has out of it. A symbolic link where the section's folder or files go
    // is refused.
    shell::Status stage(const QString& section, const QString& mainFile);
    // Puts the fleet's state in the work tree as kCommittedStateFile, in
    // clear also when the history encrypts: it holds no record.
    shell::Status stageState(const QByteArray& text);
    // Commits what was staged, unless it is what the last commit holds.
    // True when a commit was made.
    shell::Result<bool> commit(const QString& message);
    // Once more objects lie loose than `looseLimit`, packs them, and every
    // version into one pack once there would be more than `packLimit`
    // packs (packLooseObjects). For a history opened to write, after
    // commit(). Two nights of 200 controllers changed make a pack; 16 packs
    // keep the files under .git/objects few and the whole packings rare.
    static constexpr int kLooseLimit = 512;
    static constexpr int kPackLimit = 16;
    shell::Result<HistoryPack> pack(int looseLimit = kLooseLimit, int packLimit = kPackLimit);
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
    // files, for their owner only, opening age files with `identities`;
    // files that are there already stay. Every file is read and opened
    // before the first is written: on any error nothing is written. Returns
    // the main file.
    shell::Result<QString> exportVersion(const QString& section, const HistoryVersion& version,
                                         const QString& folder,
                                         const QList<AgeIdentity>& identities = {}) const;

    // What reencrypt() did.
    struct Reencrypted {
        int commits = 0; // rewritten
        int files = 0;   // file contents encrypted
        int packed = 0;  // of those in clear, the ones in a pack of git's, which stay until pruned
    };
    // Rewrites every commit of the branch, oldest first, with each file that
    // is not an age file encrypted to `recipients`: the same messages,
    // authors and times, and a file that stays the same across commits stays
    // one object, so that versions read as before. The branch then points at
    // the new last commit, the work tree follows, and the files in clear
    // leave the history's objects. The history encrypts from then on. For a
    // history opened to write.
    shell::Result<Reencrypted> reencrypt(const QList<AgeRecipient>& recipients);

  private:
    shell::Status lock();
    void heal() const;
    QString lockPath() const;

    // Declared first, so that it is let go after the repository is closed.
    shell::FileLock lock_;
    struct Git;
    std::unique_ptr<Git> git_;
    QString folder_;
    QList<AgeRecipient> recipients_;
};

// The branch the history keeps.
inline constexpr char kHistoryBranch[] = "main";

} // namespace kt::fleet
