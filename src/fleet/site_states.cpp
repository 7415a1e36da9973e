#include "site_states.h"

#include "committed_state.h"
#include "shell/text_format.h"
#include "shell/user_folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <git2.h>
#include <map>
#include <memory>

namespace kt::fleet {

namespace {

template <auto Free> struct Freer {
    template <typename T> void operator()(T* p) const { Free(p); }
};
template <typename T, auto Free> using Held = std::unique_ptr<T, Freer<Free>>;

// libgit2 for as long as one of these lives.
struct Library {
    Library() { git_libgit2_init(); }
    ~Library() { git_libgit2_shutdown(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

QString lastGitError() {
    const git_error* last = git_error_last();
    return last && last->message ? QString::fromUtf8(last->message).trimmed()
                                 : QStringLiteral("unknown error");
}

// Where a fetch puts the remote's branches in its copy.
constexpr char kFetched[] = "refs/remotes/site/";

// The ssh-agent is offered once: asking again would loop.
int agentKey(git_credential** out, const char* /*url*/, const char* user, unsigned int allowed,
             void* payload) {
    bool& offered = *static_cast<bool*>(payload);
    if (!(allowed & GIT_CREDENTIAL_SSH_KEY) || offered)
        return GIT_PASSTHROUGH;
    offered = true;
    return git_credential_ssh_key_from_agent(out, user ? user : "git");
}

// The text of `branch`'s state in the commit `ref` points at; empty with
// `why` said when it has none that may be read.
QByteArray stateBlob(git_repository* repo, const QByteArray& ref, QString* why) {
    git_oid id;
    git_commit* commitPointer = nullptr;
    if (git_reference_name_to_id(&id, repo, ref.constData()) != 0 ||
        git_commit_lookup(&commitPointer, repo, &id) != 0) {
        *why = QStringLiteral("its newest commit cannot be read: ") + lastGitError();
        return {};
    }
    const Held<git_commit, git_commit_free> commit(commitPointer);
    git_tree* treePointer = nullptr;
    if (git_commit_tree(&treePointer, commit.get()) != 0) {
        *why = QStringLiteral("its newest commit cannot be read: ") + lastGitError();
        return {};
    }
    const Held<git_tree, git_tree_free> tree(treePointer);
    const git_tree_entry* entry = git_tree_entry_byname(tree.get(), kCommittedStateFile);
    if (!entry || git_tree_entry_type(entry) != GIT_OBJECT_BLOB) {
        *why = QStringLiteral("its newest commit holds no fleet state (its fleet has not run "
                              "since it began to commit one)");
        return {};
    }
    // Its size is read before the blob, so that a huge one is never loaded.
    git_odb* odbPointer = nullptr;
    size_t size = 0;
    git_object_t type;
    if (git_repository_odb(&odbPointer, repo) != 0) {
        *why = lastGitError();
        return {};
    }
    const Held<git_odb, git_odb_free> odb(odbPointer);
    if (git_odb_read_header(&size, &type, odb.get(), git_tree_entry_id(entry)) != 0 ||
        size > size_t(kMaxCommittedStateBytes)) {
        *why =
            QStringLiteral("its fleet state is larger than %1 bytes").arg(kMaxCommittedStateBytes);
        return {};
    }
    git_blob* blobPointer = nullptr;
    if (git_blob_lookup(&blobPointer, repo, git_tree_entry_id(entry)) != 0) {
        *why = QStringLiteral("its fleet state cannot be read: ") + lastGitError();
        return {};
    }
    const Held<git_blob, git_blob_free> blob(blobPointer);
    return QByteArray(static_cast<const char*>(git_blob_rawcontent(blob.get())),
                      qsizetype(git_blob_rawsize(blob.get())));
}

// The branches of `repo` by name, with their references: a clone's
// remote-tracking ones when it has them, else its own.
std::map<QString, QByteArray> branchesOf(git_repository* repo) {
    std::map<QString, QByteArray> branches;
    const auto collect = [&](const char* glob, bool tracking) {
        git_reference_iterator* iteratorPointer = nullptr;
        if (git_reference_iterator_glob_new(&iteratorPointer, repo, glob) != 0)
            return;
        const Held<git_reference_iterator, git_reference_iterator_free> iterator(iteratorPointer);
        const char* name = nullptr;
        while (git_reference_next_name(&name, iterator.get()) == 0) {
            QString branch = QString::fromUtf8(name).mid(tracking ? 13 : 11); // refs/remotes/
            if (tracking)
                branch = branch.mid(branch.indexOf(u'/') + 1); // after the remote's name
            if (branch != QLatin1String("HEAD"))
                branches.emplace(branch, QByteArray(name));
        }
    };
    collect("refs/remotes/*", true);
    if (branches.empty())
        collect("refs/heads/*", false);
    return branches;
}

} // namespace

bool isLocalRepository(const QString& remote) {
    return QFileInfo(remote).isDir();
}

QString siteCacheOf(const RemoteAddress& remote) {
    const QByteArray name =
        QCryptographicHash::hash(remote.forGit().toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("kt560ax/remotes/") + QLatin1String(name));
}

shell::Status fetchSite(const RemoteAddress& address) {
    const Library library;
    const QString cache = siteCacheOf(address);
    const auto failed = [&](const QString& what) {
        return shell::Error{shell::ErrorCode::Unreachable,
                            address.scrubbed(what + QStringLiteral(": ") + lastGitError()), cache};
    };
    if (const shell::Status made = shell::makePrivateFolders(cache); !made)
        return made;
    git_repository* repoPointer = nullptr;
    const QByteArray path = QFile::encodeName(cache);
    if (git_repository_open_bare(&repoPointer, path.constData()) != 0 &&
        git_repository_init(&repoPointer, path.constData(), 1) != 0)
        return shell::Error{
            shell::ErrorCode::Unwritable,
            QStringLiteral("cannot make a copy of the remote in %1: %2").arg(cache, lastGitError()),
            cache};
    const Held<git_repository, git_repository_free> repo(repoPointer);
    git_remote* remotePointer = nullptr;
    if (git_remote_create_anonymous(&remotePointer, repo.get(),
                                    address.forGit().toUtf8().constData()) != 0)
        return failed(QStringLiteral("cannot use the remote"));
    const Held<git_remote, git_remote_free> remote(remotePointer);
    bool offered = false;
    git_fetch_options options;
    git_fetch_options_init(&options, GIT_FETCH_OPTIONS_VERSION);
    options.prune = GIT_FETCH_PRUNE;
    options.download_tags = GIT_REMOTE_DOWNLOAD_TAGS_NONE;
    options.callbacks.credentials = agentKey;
    options.callbacks.payload = &offered;
    const QByteArray refspec = QByteArray("+refs/heads/*:") + kFetched + '*';
    char* names[] = {const_cast<char*>(refspec.constData())};
    const git_strarray refspecs = {names, 1};
    if (git_remote_fetch(remote.get(), &refspecs, &options, nullptr) != 0)
        return failed(QStringLiteral("the fetch failed"));
    return shell::done();
}

shell::Result<QList<LoadedFleet>> readSite(const QString& folder, const QString& shownAs) {
    const Library library;
    git_repository* repoPointer = nullptr;
    if (git_repository_open_ext(&repoPointer, QFile::encodeName(folder).constData(),
                                GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr) != 0)
        return shell::Error{
            shell::ErrorCode::NotFound,
            shell::fillIn(QStringLiteral("%1 cannot be read as a git repository: %2"),
                          {shownAs, lastGitError()}),
            folder};
    const Held<git_repository, git_repository_free> repo(repoPointer);
    const std::map<QString, QByteArray> branches = branchesOf(repo.get());
    if (branches.size() > size_t(kMaxSiteBranches))
        return shell::Error{shell::ErrorCode::Invalid,
                            shell::fillIn(QStringLiteral("%1 has %2 branches; at most %3 are read"),
                                          {shownAs, QString::number(branches.size()),
                                           QString::number(kMaxSiteBranches)}),
                            folder};
    QList<LoadedFleet> fleets;
    for (const auto& [branch, ref] : branches) {
        const QString where =
            shell::fillIn(QStringLiteral("the branch %1 of %2"), {branch, shownAs});
        QString why;
        const QByteArray text = stateBlob(repo.get(), ref, &why);
        shell::Result<LoadedFleet> read =
            why.isEmpty() ? committedStateOf(text, branch, where)
                          : shell::Result<LoadedFleet>(shell::Error{
                                shell::ErrorCode::NotFound, where + QStringLiteral(": ") + why});
        if (read) {
            fleets.append(*read);
        } else {
            LoadedFleet unread;
            unread.name = branch;
            unread.stateProblem = read.error().message;
            fleets.append(unread);
        }
    }
    return fleets;
}

} // namespace kt::fleet
