#include "history.h"

#include "committed_state.h"
#include "engine/backup_file.h"
#include "record_changes.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"
#include "shell/user_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QTimeZone>
#include <cerrno>
#include <cstring>
#include <git2.h>
#include <list>
#include <vector>

namespace kt::fleet {

namespace {

template <typename T, void (*Free)(T*)> struct Owned {
    T* p = nullptr;
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Free(p); }
    T** out() { return &p; }
    T* operator->() const { return p; }
    operator T*() const { return p; }
};
using Repository = Owned<git_repository, git_repository_free>;
using Index = Owned<git_index, git_index_free>;
using Tree = Owned<git_tree, git_tree_free>;
using TreeEntry = Owned<git_tree_entry, git_tree_entry_free>;
using Commit = Owned<git_commit, git_commit_free>;
using Signature = Owned<git_signature, git_signature_free>;
using Remote = Owned<git_remote, git_remote_free>;
using RevWalk = Owned<git_revwalk, git_revwalk_free>;
using Blob = Owned<git_blob, git_blob_free>;
using TreeBuilder = Owned<git_treebuilder, git_treebuilder_free>;

// The last libgit2 failure, with the kind a caller can act on.
shell::Error gitError(const QString& what) {
    const git_error* last = git_error_last();
    shell::ErrorCode code = shell::ErrorCode::Unwritable;
    if (last) {
        switch (last->klass) {
        case GIT_ERROR_NET:
        case GIT_ERROR_SSH:
        case GIT_ERROR_HTTP:
        case GIT_ERROR_SSL:
            code = shell::ErrorCode::Unreachable;
            break;
        default:
            break;
        }
    }
    return {code, what + QStringLiteral(": ") +
                      (last && last->message ? QString::fromUtf8(last->message).trimmed()
                                             : QStringLiteral("unknown error"))};
}

QString refName() {
    return QStringLiteral("refs/heads/") + QLatin1String(kHistoryBranch);
}

// The work tree's names of a section's file set.
QStringList sectionFiles(const QString& section) {
    return engine::backupFileSet(section + QStringLiteral(".KT"));
}

// Whether `name` is one of a section's file names.
bool isSectionFile(const QString& section, const QString& name) {
    return sectionFiles(section).contains(name);
}

} // namespace

struct History::Git {
    Git() { git_libgit2_init(); }
    ~Git() {
        git_repository_free(repo);
        git_libgit2_shutdown();
    }
    // The last commit, or false when there is none yet.
    bool head(Commit& commit) const {
        git_oid oid;
        return git_reference_name_to_id(&oid, repo, refName().toUtf8().constData()) == 0 &&
               git_commit_lookup(commit.out(), repo, &oid) == 0;
    }
    git_repository* repo = nullptr;
};

History::History() : git_(std::make_unique<Git>()) {}

History::~History() = default;

namespace {

// The mark of a history this program made, and of one whose versions are
// encrypted, in the repository's config.
constexpr char kMark[] = "kt560ax.history";
constexpr char kEncryptedMark[] = "kt560ax.encrypted";

bool flag(git_repository* repo, const char* name) {
    git_config* config = nullptr;
    int value = 0;
    const bool found = git_repository_config_snapshot(&config, repo) == 0 &&
                       git_config_get_bool(&value, config, name) == 0 && value;
    git_config_free(config);
    return found;
}

bool setFlag(git_repository* repo, const char* name, bool value) {
    git_config* config = nullptr;
    const bool done = git_repository_config(&config, repo) == 0 &&
                      git_config_set_bool(config, name, value ? 1 : 0) == 0;
    git_config_free(config);
    return done;
}

bool marked(git_repository* repo) {
    return flag(repo, kMark);
}

bool mark(git_repository* repo) {
    return setFlag(repo, kMark, true);
}

// A folder that holds nothing: it may become a history.
bool isEmptyFolder(const QString& folder) {
    return QDir(folder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .isEmpty();
}

} // namespace

shell::Status History::open(const QString& folder, Mode mode) {
    folder_ = QDir(folder).absolutePath();
    const QByteArray path = QFile::encodeName(folder_);
    const bool write = mode == Mode::Write;
    const auto refuse = [&](const QString& why) {
        return shell::Error{shell::ErrorCode::Invalid,
                            why + QStringLiteral(": give History a folder of its own; nothing "
                                                 "in it was changed"),
                            folder_};
    };
    if (git_repository_open_ext(&git_->repo, path.constData(), GIT_REPOSITORY_OPEN_NO_SEARCH,
                                nullptr) != 0) {
        const QFileInfo info(folder_);
        if (!write)
            return shell::Error{shell::ErrorCode::NotFound,
                                folder_ + QStringLiteral(" holds no history"), folder_};
        if ((info.exists() || info.isSymLink()) && !(info.isDir() && isEmptyFolder(folder_)))
            return refuse(folder_ + QStringLiteral(" is not an empty folder nor a history"));
        // The files hold every card record and the PIN.
        if (const shell::Status made = shell::makePrivateFolders(folder_); !made)
            return made;
        if (!QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return shell::Error{shell::ErrorCode::Unwritable,
                                QStringLiteral("cannot make the folder ") + folder_ +
                                    QStringLiteral(" private"),
                                folder_};
        git_repository_init_options options;
        git_repository_init_options_init(&options, GIT_REPOSITORY_INIT_OPTIONS_VERSION);
        const QByteArray head = refName().toUtf8();
        options.initial_head = head.constData();
        options.flags = GIT_REPOSITORY_INIT_MKPATH;
        if (git_repository_init_ext(&git_->repo, path.constData(), &options) != 0 ||
            !mark(git_->repo))
            return gitError(QStringLiteral("cannot make a history in ") + folder_);
    }
    if (git_repository_is_bare(git_->repo))
        return refuse(folder_ + QStringLiteral(" is a bare repository"));
    git_reference* head = nullptr;
    QByteArray headName;
    if (git_reference_lookup(&head, git_->repo, "HEAD") == 0) {
        if (git_reference_type(head) == GIT_REFERENCE_SYMBOLIC)
            headName = git_reference_symbolic_target(head);
        git_reference_free(head);
    }
    if (headName != refName().toUtf8())
        return refuse(shell::fillIn(QStringLiteral("%1 is a repository on another branch than %2"),
                                    {folder_, QLatin1String(kHistoryBranch)}));
    // Histories made before the mark are known by the lock file every run
    // left in them.
    const bool madeHere = marked(git_->repo) || QFileInfo::exists(lockPath());
    if (!madeHere)
        return refuse(folder_ + QStringLiteral(" is a git repository that kt560ax did not make"));
    if (!write)
        return shell::done();
    if (const shell::Status locked = lock(); !locked)
        return locked;
    if (!marked(git_->repo) && !mark(git_->repo))
        return gitError(QStringLiteral("cannot mark ") + folder_);
    heal();
    Commit last;
    if (git_->head(last)) {
        git_checkout_options checkout;
        git_checkout_options_init(&checkout, GIT_CHECKOUT_OPTIONS_VERSION);
        checkout.checkout_strategy = GIT_CHECKOUT_FORCE;
        if (git_checkout_head(git_->repo, &checkout) != 0)
            return gitError(QStringLiteral("cannot set %1 back to its last commit").arg(folder_));
    }
    return shell::done();
}

void History::heal() const {
    // Git's own lock files, left by a run that was killed between taking
    // one and renaming it into place: no writer of this history is left,
    // since this run holds the history's lock.
    for (const char* name : {"index.lock", "HEAD.lock", "config.lock", "packed-refs.lock"})
        QFile::remove(QDir(folder_).filePath(QStringLiteral(".git/") + QLatin1String(name)));
    QFile::remove(
        QDir(folder_).filePath(QStringLiteral(".git/") + refName() + QStringLiteral(".lock")));
}

QString History::lockPath() const {
    return QDir(folder_).filePath(QStringLiteral(".git/kt560ax.lock"));
}

shell::Status History::lock() {
    switch (lock_.take(lockPath(), shell::FileLock::Mode::Exclusive)) {
    case shell::FileLock::Outcome::Held:
        return shell::done();
    case shell::FileLock::Outcome::Busy:
        return shell::Error{shell::ErrorCode::InUse,
                            QStringLiteral("%1 is in use by another run").arg(folder_), folder_};
    case shell::FileLock::Outcome::Unopenable:
        break;
    }
    return shell::Error{shell::ErrorCode::Unwritable, QStringLiteral("cannot lock %1").arg(folder_),
                        folder_};
}

shell::Status History::encryptTo(const QList<AgeRecipient>& recipients) {
    const bool wanted = !recipients.isEmpty();
    const bool encrypted = flag(git_->repo, kEncryptedMark);
    Commit last;
    if (git_->head(last) && encrypted != wanted)
        return shell::Error{
            shell::ErrorCode::Invalid,
            (wanted ? QStringLiteral("%1 holds versions in clear, and Encrypt= in [fleet] is "
                                     "used only on a history that holds none: kt560ax run "
                                     "FLEET.ini --reencrypt rewrites it once, every version "
                                     "encrypted")
                    : QStringLiteral("%1 holds encrypted versions: keep Encrypt= in [fleet], so "
                                     "that no version is added in clear"))
                .arg(folder_),
            folder_};
    if (encrypted != wanted && !setFlag(git_->repo, kEncryptedMark, wanted))
        return gitError(QStringLiteral("cannot mark %1").arg(folder_));
    recipients_ = recipients;
    return shell::done();
}

QString History::committedFile(const QString& section) const {
    const QString file = QDir(folder_).filePath(section + '/' + section + QStringLiteral(".KT"));
    const QFileInfo info(file);
    return info.exists() && !info.isSymLink() && !QFileInfo(info.absolutePath()).isSymLink()
               ? file
               : QString();
}

QByteArray History::sectionTree(const QString& section) const {
    Commit last;
    Tree root;
    TreeEntry entry;
    if (!git_->head(last) || git_commit_tree(root.out(), last) != 0 ||
        git_tree_entry_bypath(entry.out(), root, section.toUtf8().constData()) != 0 ||
        git_tree_entry_type(entry) != GIT_OBJECT_TREE)
        return {};
    return QByteArray(git_oid_tostr_s(git_tree_entry_id(entry)));
}

shell::Status History::stage(const QString& section, const QString& mainFile) {
    const QString target = QDir(folder_).filePath(section);
    // A link in the history would put a backup somewhere else.
    const auto isLink = [](const QString& path) { return QFileInfo(path).isSymLink(); };
    if (isLink(target))
        return shell::Error{shell::ErrorCode::NotRegular,
                            target + QStringLiteral(" is a symbolic link: nothing was written"),
                            target};
    for (const QString& name : sectionFiles(section))
        if (isLink(QDir(target).filePath(name)))
            return shell::Error{shell::ErrorCode::NotRegular,
                                QDir(target).filePath(name) +
                                    QStringLiteral(" is a symbolic link: nothing was written"),
                                target};
    if (const shell::Status made = shell::makePrivateFolders(target); !made)
        return made;
    Index index;
    if (git_repository_index(index.out(), git_->repo) != 0)
        return gitError(QStringLiteral("cannot read the index of %1").arg(folder_));
    const QStringList sources = engine::backupFileSet(mainFile);
    const QStringList names = sectionFiles(section);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString inTree = section + '/' + names[i];
        const QByteArray treePath = inTree.toUtf8();
        if (!QFileInfo::exists(sources[i])) {
            QFile::remove(QDir(folder_).filePath(inTree));
            git_index_remove_bypath(index, treePath.constData());
            continue;
        }
        shell::Result<QByteArray> contents = shell::readRegularFile(sources[i]);
        if (contents && encrypts())
            contents = ageEncrypt(*contents, recipients_);
        if (!contents)
            return contents.error();
        if (const shell::Status written =
                shell::replacePrivateFile(QDir(folder_).filePath(inTree), *contents);
            !written)
            return written.error();
        if (git_index_add_bypath(index, treePath.constData()) != 0)
            return gitError(QStringLiteral("cannot add %1").arg(inTree));
    }
    if (git_index_write(index) != 0)
        return gitError(QStringLiteral("cannot write the index of %1").arg(folder_));
    return shell::done();
}

shell::Status History::stageState(const QByteArray& text) {
    const QString path = QDir(folder_).filePath(QLatin1String(kCommittedStateFile));
    if (QFileInfo(path).isSymLink())
        return shell::Error{shell::ErrorCode::NotRegular,
                            path + QStringLiteral(" is a symbolic link: nothing was written"),
                            path};
    Index index;
    if (const shell::Status written = shell::replacePrivateFile(path, text); !written)
        return written;
    if (git_repository_index(index.out(), git_->repo) != 0 ||
        git_index_add_bypath(index, kCommittedStateFile) != 0 || git_index_write(index) != 0)
        return gitError(QStringLiteral("cannot add the fleet's state to %1").arg(folder_));
    return shell::done();
}

namespace {

// Why the branch of the history in `folder`, read afresh from the disk,
// does not hold commit `id` of tree `tree`; empty when it does.
QString unconfirmed(const QString& folder, const git_oid& id, const git_oid& tree) {
    Repository repo;
    git_oid head;
    Commit commit;
    Tree files;
    if (git_repository_open_ext(repo.out(), QFile::encodeName(folder).constData(),
                                GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr) != 0)
        return QStringLiteral("the history cannot be opened again");
    if (git_reference_name_to_id(&head, repo, refName().toUtf8().constData()) != 0 ||
        !git_oid_equal(&head, &id))
        return shell::fillIn(QStringLiteral("the branch %1 did not move to the new commit"),
                             {QLatin1String(kHistoryBranch)});
    if (git_commit_lookup(commit.out(), repo, &id) != 0 ||
        git_commit_tree(files.out(), commit) != 0 || !git_oid_equal(git_tree_id(files), &tree))
        return QStringLiteral("the new commit cannot be read back");
    return {};
}

} // namespace

shell::Result<bool> History::commit(const QString& message) {
    Index index;
    git_oid treeId;
    Tree tree;
    if (git_repository_index(index.out(), git_->repo) != 0 ||
        git_index_write_tree(&treeId, index) != 0 ||
        git_tree_lookup(tree.out(), git_->repo, &treeId))
        return gitError(QStringLiteral("cannot write a tree in %1").arg(folder_));
    Commit parent;
    const bool hasParent = git_->head(parent);
    if (hasParent && git_oid_equal(git_commit_tree_id(parent), &treeId))
        return false;
    Signature author;
    if (git_signature_now(author.out(), "kt560ax", "kt560ax@localhost") != 0)
        return gitError(QStringLiteral("cannot sign a commit"));
    const git_commit* parents[] = {parent};
    git_oid commitId;
    git_error_clear();
    errno = 0;
    if (git_commit_create(&commitId, git_->repo, refName().toUtf8().constData(), author, author,
                          "UTF-8", message.toUtf8().constData(), tree, hasParent ? 1 : 0,
                          parents) != 0)
        return gitError(QStringLiteral("cannot commit in %1").arg(folder_));
    // On a full disk git has reported a commit made that never reached the
    // branch. What it said, or the system, on the way gives the reason.
    const int systemError = errno;
    const git_error* said = git_error_last();
    const QString saidText =
        said && said->message ? QString::fromUtf8(said->message).trimmed() : QString();
    if (const QString lost = unconfirmed(folder_, commitId, treeId); !lost.isEmpty())
        return shell::Error{
            shell::ErrorCode::Unwritable,
            shell::fillIn(QStringLiteral("cannot commit in %1: %2 (%3)"),
                          {folder_, lost,
                           !saidText.isEmpty() ? saidText
                           : systemError != 0  ? QString::fromLocal8Bit(std::strerror(systemError))
                                               : QStringLiteral("no reason given")}),
            folder_};
    return true;
}

shell::Result<HistoryPack> History::pack(int looseLimit, int packLimit) {
    const shell::Result<HistoryPack> packed =
        packLooseObjects(git_->repo, refName().toUtf8().constData(), looseLimit, packLimit);
    if (!packed)
        return shell::Error{packed.error().code,
                            QStringLiteral("%1: %2").arg(folder_, packed.error().message), folder_};
    return packed;
}

namespace {

// What a push learns on its way: a refusal, and how often it was asked for
// credentials (the ssh-agent is offered once; asking again would loop).
struct PushState {
    QString rejected;
    int credentialTries = 0;
};

int credentials(git_credential** out, const char* /*url*/, const char* user, unsigned int allowed,
                void* payload) {
    auto* state = static_cast<PushState*>(payload);
    if (!(allowed & GIT_CREDENTIAL_SSH_KEY) || state->credentialTries++ > 0)
        return GIT_PASSTHROUGH;
    return git_credential_ssh_key_from_agent(out, user ? user : "git");
}

int noteRejection(const char* ref, const char* status, void* payload) {
    if (status)
        *static_cast<QString*>(payload) =
            QStringLiteral("%1 was refused: %2")
                .arg(QString::fromUtf8(ref), QString::fromUtf8(status));
    return 0;
}

} // namespace

shell::Status History::push(const RemoteAddress& address, const QString& branch) {
    // Git's messages may quote the URL, or parts of it.
    const auto failed = [&](shell::Error error) {
        error.message = address.scrubbed(error.message);
        return error;
    };
    Remote remote;
    if (git_remote_create_anonymous(remote.out(), git_->repo,
                                    address.forGit().toUtf8().constData()) != 0)
        return failed(gitError(QStringLiteral("cannot use the remote")));
    PushState state;
    git_push_options options;
    git_push_options_init(&options, GIT_PUSH_OPTIONS_VERSION);
    options.callbacks.push_update_reference = noteRejection;
    options.callbacks.credentials = credentials;
    options.callbacks.payload = &state;
    const QByteArray refspec = (refName() + QStringLiteral(":refs/heads/") + branch).toUtf8();
    char* names[] = {const_cast<char*>(refspec.constData())};
    const git_strarray refspecs = {names, 1};
    if (git_remote_push(remote, &refspecs, &options) != 0)
        return failed(gitError(QStringLiteral("the push failed")));
    if (!state.rejected.isEmpty())
        return failed(
            {shell::ErrorCode::Unwritable, QStringLiteral("the push failed: ") + state.rejected});
    return shell::done();
}

std::map<QString, QList<HistoryVersion>> History::allVersions() const {
    std::map<QString, QList<HistoryVersion>> versions;
    RevWalk walk;
    Commit last;
    if (!git_->head(last) || git_revwalk_new(walk.out(), git_->repo) != 0)
        return versions;
    git_revwalk_sorting(walk, GIT_SORT_TOPOLOGICAL | GIT_SORT_REVERSE);
    git_revwalk_push(walk, git_commit_id(last));
    std::map<QString, git_oid> previous; // each section's files in the last version
    git_oid id;
    while (git_revwalk_next(&id, walk) == 0) {
        Commit commit;
        Tree tree;
        if (git_commit_lookup(commit.out(), git_->repo, &id) != 0 ||
            git_commit_tree(tree.out(), commit) != 0)
            continue;
        // The commit's lines by the section each begins with (after the mark
        // of a suspicious backup), and its counts.
        std::map<QString, QString> lines;
        std::map<QString, Counts> counts;
        QStringList suspicious;
        for (const QByteArray& bytes : QByteArray(git_commit_message(commit)).split('\n')) {
            QString line = QString::fromUtf8(bytes);
            const bool marked = line.startsWith(QLatin1String(kSuspiciousMark));
            if (marked)
                line = line.mid(int(qstrlen(kSuspiciousMark)));
            if (const std::optional<Counts> given = countsOfTrailer(line)) {
                counts[given->section] = *given;
            } else if (const qsizetype colon = line.indexOf(QStringLiteral(": ")); colon > 0) {
                lines.emplace(line.left(colon), line.mid(colon + 2));
                if (marked)
                    suspicious.append(line.left(colon));
            }
        }
        for (size_t e = 0; e < git_tree_entrycount(tree); ++e) {
            const git_tree_entry* entry = git_tree_entry_byindex(tree, e);
            if (git_tree_entry_type(entry) != GIT_OBJECT_TREE)
                continue;
            const QString section = QString::fromUtf8(git_tree_entry_name(entry));
            const git_oid* files = git_tree_entry_id(entry);
            const auto seen = previous.find(section);
            if (seen != previous.end() && git_oid_equal(files, &seen->second))
                continue;
            previous[section] = *files;
            QList<HistoryVersion>& list = versions[section];
            HistoryVersion version;
            version.number = int(list.size()) + 1;
            version.commit = QByteArray(git_oid_tostr_s(&id));
            version.when = QDateTime::fromSecsSinceEpoch(
                git_commit_time(commit), QTimeZone(git_commit_time_offset(commit) * 60));
            if (const auto line = lines.find(section); line != lines.end())
                version.changes = line->second;
            version.suspicious = suspicious.contains(section);
            if (const auto given = counts.find(section); given != counts.end()) {
                version.cards = given->second.cards;
                version.records = given->second.records;
            }
            list.append(version);
        }
    }
    return versions;
}

QList<HistoryVersion> History::versions(const QString& section) const {
    std::map<QString, QList<HistoryVersion>> all = allVersions();
    const auto found = all.find(section);
    return found == all.end() ? QList<HistoryVersion>{} : found->second;
}

shell::Result<QString> History::exportVersion(const QString& section, const HistoryVersion& version,
                                              const QString& folder,
                                              const QList<AgeIdentity>& identities) const {
    git_oid id;
    Commit commit;
    Tree root;
    TreeEntry entry;
    Tree files;
    if (git_oid_fromstr(&id, version.commit.constData()) != 0 ||
        git_commit_lookup(commit.out(), git_->repo, &id) != 0 ||
        git_commit_tree(root.out(), commit) != 0 ||
        git_tree_entry_bypath(entry.out(), root, section.toUtf8().constData()) != 0 ||
        git_tree_lookup(files.out(), git_->repo, git_tree_entry_id(entry)) != 0)
        return gitError(QStringLiteral("cannot read version %1").arg(version.number));
    // Any file of the set that is there already, card files included, would
    // mix with the version: a card file of another version would be loaded
    // with it.
    for (const QString& name : sectionFiles(section)) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            return shell::Error{shell::ErrorCode::InUse,
                                path + QStringLiteral(" is there already: nothing was written"),
                                path};
    }
    QList<std::pair<QString, QByteArray>> wanted;
    for (size_t i = 0; i < git_tree_entrycount(files); ++i) {
        const git_tree_entry* file = git_tree_entry_byindex(files, i);
        const QString name = QString::fromUtf8(git_tree_entry_name(file));
        if (git_tree_entry_type(file) != GIT_OBJECT_BLOB || !isSectionFile(section, name))
            continue;
        Blob blob;
        if (git_blob_lookup(blob.out(), git_->repo, git_tree_entry_id(file)) != 0)
            return gitError(QStringLiteral("cannot read %1").arg(name));
        QByteArray contents(static_cast<const char*>(git_blob_rawcontent(blob)),
                            qsizetype(git_blob_rawsize(blob)));
        if (isAgeFile(contents)) {
            const QString which = shell::fillIn(QStringLiteral("version %1 of [%2]"),
                                                {QString::number(version.number), section});
            if (identities.isEmpty())
                return shell::Error{shell::ErrorCode::Denied,
                                    QStringLiteral("the history is encrypted, and no identity "
                                                   "was given to open %1: nothing was written")
                                        .arg(which),
                                    name};
            const shell::Result<QByteArray> opened =
                ageDecrypt(contents, identities, shell::kMaxIniFileBytes);
            if (!opened)
                return shell::Error{opened.error().code,
                                    shell::fillIn(QStringLiteral("%1 of %2 cannot be opened: %3: "
                                                                 "nothing was written"),
                                                  {name, which, opened.error().message}),
                                    name};
            contents = *opened;
        }
        wanted.append({QDir(folder).filePath(name), contents});
    }
    if (const shell::Status made = shell::makePrivateFolders(folder); !made)
        return made.error();
    for (qsizetype i = 0; i < wanted.size(); ++i)
        if (const shell::Status written = shell::writeNewFile(wanted[i].first, wanted[i].second);
            !written) {
            for (qsizetype j = 0; j < i; ++j)
                QFile::remove(wanted[j].first);
            return written.error();
        }
    return QDir(folder).filePath(section + QStringLiteral(".KT"));
}

namespace {

QByteArray keyOf(const git_oid* id) {
    return QByteArray(reinterpret_cast<const char*>(id->id), sizeof id->id);
}

// Trees and files rewritten with each file that is not an age file
// encrypted; each object once, so that what was one object stays one.
struct Encrypter {
    git_repository* repo;
    const QList<AgeRecipient>& recipients;
    QHash<QByteArray, git_oid> done{}; // by the object it replaces
    QList<git_oid> replaced{};         // the objects rewritten
    int files = 0;
    std::optional<shell::Error> failure{};

    bool blob(const git_oid* id, git_oid* out) {
        Blob blob;
        if (git_blob_lookup(blob.out(), repo, id) != 0)
            return fail(gitError(QStringLiteral("cannot read a file of the history")));
        const QByteArray contents(static_cast<const char*>(git_blob_rawcontent(blob)),
                                  qsizetype(git_blob_rawsize(blob)));
        if (isAgeFile(contents)) {
            *out = *id;
            return true;
        }
        const shell::Result<QByteArray> sealed = ageEncrypt(contents, recipients);
        if (!sealed)
            return fail(sealed.error());
        if (git_blob_create_from_buffer(out, repo, sealed->constData(), size_t(sealed->size())) !=
            0)
            return fail(gitError(QStringLiteral("cannot write an encrypted file")));
        ++files;
        return true;
    }

    bool tree(const git_oid* id, git_oid* out) {
        Tree tree;
        TreeBuilder builder;
        if (git_tree_lookup(tree.out(), repo, id) != 0 ||
            git_treebuilder_new(builder.out(), repo, nullptr) != 0)
            return fail(gitError(QStringLiteral("cannot read a folder of the history")));
        for (size_t i = 0; i < git_tree_entrycount(tree); ++i) {
            const git_tree_entry* entry = git_tree_entry_byindex(tree, i);
            git_oid rewritten = *git_tree_entry_id(entry);
            const git_object_t type = git_tree_entry_type(entry);
            // The fleet's state holds no record: it stays in clear.
            const bool state = qstrcmp(git_tree_entry_name(entry), kCommittedStateFile) == 0;
            if ((type == GIT_OBJECT_TREE || (type == GIT_OBJECT_BLOB && !state)) &&
                !object(&rewritten, type, &rewritten))
                return false;
            if (git_treebuilder_insert(nullptr, builder, git_tree_entry_name(entry), &rewritten,
                                       git_tree_entry_filemode(entry)) != 0)
                return fail(gitError(QStringLiteral("cannot write a folder of the history")));
        }
        if (git_treebuilder_write(out, builder) != 0)
            return fail(gitError(QStringLiteral("cannot write a folder of the history")));
        return true;
    }

    bool object(const git_oid* id, git_object_t type, git_oid* out) {
        const QByteArray key = keyOf(id);
        if (const auto found = done.constFind(key); found != done.cend()) {
            *out = *found;
            return true;
        }
        const git_oid was = *id;
        if (!(type == GIT_OBJECT_TREE ? tree(id, out) : blob(id, out)))
            return false;
        done.insert(key, *out);
        if (!git_oid_equal(&was, out))
            replaced.append(was);
        return true;
    }

    bool fail(shell::Error error) {
        failure = std::move(error);
        return false;
    }
};

} // namespace

shell::Result<History::Reencrypted> History::reencrypt(const QList<AgeRecipient>& recipients) {
    Reencrypted result;
    Commit last;
    RevWalk walk;
    if (git_->head(last)) {
        if (git_revwalk_new(walk.out(), git_->repo) != 0)
            return gitError(QStringLiteral("cannot read the history %1").arg(folder_));
        git_revwalk_sorting(walk, GIT_SORT_TOPOLOGICAL | GIT_SORT_REVERSE);
        git_revwalk_push(walk, git_commit_id(last));
        Encrypter encrypter{git_->repo, recipients};
        git_oid id, tip = *git_commit_id(last);
        while (git_revwalk_next(&id, walk) == 0) {
            Commit commit;
            git_oid treeId;
            Tree tree;
            if (git_commit_lookup(commit.out(), git_->repo, &id) != 0)
                return gitError(QStringLiteral("cannot read a commit of %1").arg(folder_));
            if (!encrypter.object(git_commit_tree_id(commit), GIT_OBJECT_TREE, &treeId))
                return *encrypter.failure;
            std::list<Commit> parents;
            std::vector<const git_commit*> parentList;
            for (unsigned i = 0; i < git_commit_parentcount(commit); ++i) {
                const git_oid parent = encrypter.done.value(keyOf(git_commit_parent_id(commit, i)));
                if (git_commit_lookup(parents.emplace_back().out(), git_->repo, &parent) != 0)
                    return gitError(QStringLiteral("cannot read a commit of %1").arg(folder_));
                parentList.push_back(parents.back());
            }
            if (git_tree_lookup(tree.out(), git_->repo, &treeId) != 0 ||
                git_commit_create(&tip, git_->repo, nullptr, git_commit_author(commit),
                                  git_commit_committer(commit), git_commit_message_encoding(commit),
                                  git_commit_message_raw(commit), tree, parentList.size(),
                                  parentList.data()) != 0)
                return gitError(QStringLiteral("cannot rewrite a commit of %1").arg(folder_));
            encrypter.done.insert(keyOf(&id), tip);
            if (!git_oid_equal(&id, &tip)) {
                encrypter.replaced.append(id);
                ++result.commits;
            }
        }
        result.files = encrypter.files;
        if (result.commits > 0) {
            // Moved only from the commit it was read at.
            git_reference* moved = nullptr;
            const int failed = git_reference_create_matching(
                &moved, git_->repo, refName().toUtf8().constData(), &tip, 1, git_commit_id(last),
                "kt560ax: every version encrypted");
            git_reference_free(moved);
            Commit tipCommit;
            if (failed != 0 || git_commit_lookup(tipCommit.out(), git_->repo, &tip) != 0)
                return gitError(QStringLiteral("cannot move the branch of %1").arg(folder_));
            if (const QString lost = unconfirmed(folder_, tip, *git_commit_tree_id(tipCommit));
                !lost.isEmpty())
                return shell::Error{
                    shell::ErrorCode::Unwritable,
                    shell::fillIn(QStringLiteral("cannot rewrite %1: %2"), {folder_, lost}),
                    folder_};
            git_checkout_options checkout;
            git_checkout_options_init(&checkout, GIT_CHECKOUT_OPTIONS_VERSION);
            checkout.checkout_strategy = GIT_CHECKOUT_FORCE;
            if (git_checkout_head(git_->repo, &checkout) != 0)
                return gitError(
                    QStringLiteral("cannot set %1 to its new last commit").arg(folder_));
            // The old commits, folders and files in clear go; the branch's log
            // named the old commits. One in a pack stays until git prunes it.
            for (const QByteArray& log : {QByteArray("HEAD"), refName().toUtf8()})
                git_reflog_delete(git_->repo, log.constData());
            git_odb* odb = nullptr;
            git_repository_odb(&odb, git_->repo);
            for (const git_oid& old : std::as_const(encrypter.replaced)) {
                const QString hex = QString::fromLatin1(git_oid_tostr_s(&old));
                QFile::remove(QDir(folder_).filePath(QStringLiteral(".git/objects/") + hex.left(2) +
                                                     u'/' + hex.mid(2)));
            }
            if (odb) {
                git_odb_refresh(odb);
                for (const git_oid& old : std::as_const(encrypter.replaced))
                    result.packed += git_odb_exists(odb, &old) ? 1 : 0;
            }
            git_odb_free(odb);
        }
    }
    if (!setFlag(git_->repo, kEncryptedMark, true))
        return gitError(QStringLiteral("cannot mark %1").arg(folder_));
    recipients_ = recipients;
    return result;
}

} // namespace kt::fleet
