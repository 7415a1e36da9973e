#include "history_pack.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <git2.h>
#include <git2/sys/odb_backend.h>

namespace kt::fleet {

namespace {

shell::Error packError(const QString& what) {
    const git_error* last = git_error_last();
    return {shell::ErrorCode::Unwritable,
            what + QStringLiteral(": ") +
                (last && last->message ? QString::fromUtf8(last->message).trimmed()
                                       : QStringLiteral("unknown error"))};
}

// An object's id as its 20 bytes.
QByteArray keyOf(const git_oid* id) {
    return QByteArray(reinterpret_cast<const char*>(id->id), sizeof id->id);
}

// The loose objects under `objects`, by id, with their files.
QHash<QByteArray, QString> looseObjects(const QString& objects) {
    QHash<QByteArray, QString> found;
    const QDir root(objects);
    for (const QString& fan : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (fan.size() != 2)
            continue;
        const QDir dir(root.filePath(fan));
        for (const QString& rest : dir.entryList(QDir::Files)) {
            git_oid id;
            if (rest.size() == GIT_OID_HEXSZ - 2 &&
                git_oid_fromstrn(&id, (fan + rest).toLatin1().constData(), GIT_OID_HEXSZ) == 0)
                found.insert(keyOf(&id), dir.filePath(rest));
        }
    }
    return found;
}

int collect(const git_oid* id, void* payload) {
    static_cast<QSet<QByteArray>*>(payload)->insert(keyOf(id));
    return 0;
}

// The objects of one pack, by its index file; false when it cannot be read.
bool objectsOfPack(const QString& index, QSet<QByteArray>* ids) {
    git_odb* odb = nullptr;
    git_odb_backend* pack = nullptr;
    bool read = git_odb_new(&odb) == 0 &&
                git_odb_backend_one_pack(&pack, QFile::encodeName(index).constData()) == 0;
    if (read && git_odb_add_backend(odb, pack, 1) != 0) {
        pack->free(pack);
        read = false;
    }
    read = read && git_odb_foreach(odb, collect, ids) == 0;
    git_odb_free(odb);
    return read;
}

} // namespace

shell::Result<HistoryPack> packLooseObjects(git_repository* repo, const char* branchRef,
                                            int looseLimit, int packLimit) {
    const QString objects =
        QDir(QFile::decodeName(git_repository_path(repo))).filePath(QStringLiteral("objects"));
    const QHash<QByteArray, QString> loose = looseObjects(objects);
    HistoryPack result;
    result.loose = int(loose.size());
    git_oid head;
    if (result.loose <= looseLimit || git_reference_name_to_id(&head, repo, branchRef) != 0)
        return result;

    const QString packs = QDir(objects).filePath(QStringLiteral("pack"));
    const QDir packDir(packs);
    const bool whole =
        packDir.entryList({QStringLiteral("pack-*.idx")}, QDir::Files).size() >= packLimit;
    git_packbuilder* builder = nullptr;
    git_revwalk* walk = nullptr;
    bool written = git_packbuilder_new(&builder, repo) == 0;
    if (written && whole) {
        written = git_revwalk_new(&walk, repo) == 0 && git_revwalk_push(walk, &head) == 0 &&
                  git_packbuilder_insert_walk(builder, walk) == 0;
    } else {
        for (auto object = loose.cbegin(); written && object != loose.cend(); ++object) {
            git_oid id;
            git_oid_fromraw(&id, reinterpret_cast<const unsigned char*>(object.key().constData()));
            written = git_packbuilder_insert(builder, &id, nullptr) == 0;
        }
    }
    written = written && QDir().mkpath(packs) &&
              git_packbuilder_write(builder, QFile::encodeName(packs).constData(), 0, nullptr,
                                    nullptr) == 0;
    const QString name = written ? QString::fromLatin1(git_packbuilder_name(builder)) : QString();
    result.packed = written ? int(git_packbuilder_object_count(builder)) : 0;
    git_revwalk_free(walk);
    git_packbuilder_free(builder);
    if (!written)
        return packError(QStringLiteral("cannot pack the history's objects"));

    const QString newIndex = QDir(packs).filePath(QStringLiteral("pack-%1.idx").arg(name));
    QSet<QByteArray> held;
    if (!objectsOfPack(newIndex, &held))
        return packError(QStringLiteral("cannot read the new pack %1").arg(newIndex));
    for (auto object = loose.cbegin(); object != loose.cend(); ++object)
        if (held.contains(object.key()) && QFile::remove(object.value()))
            ++result.removed;
    for (const QString& index : packDir.entryList({QStringLiteral("pack-*.idx")}, QDir::Files)) {
        const QString path = packDir.filePath(index);
        if (!whole || path == newIndex)
            continue;
        QSet<QByteArray> old;
        if (!objectsOfPack(path, &old) || !held.contains(old))
            continue;
        const QString base = path.chopped(4);
        // The pack first: an index without its pack is not read.
        if (QFile::remove(base + QStringLiteral(".pack"))) {
            QFile::remove(path);
            QFile::remove(base + QStringLiteral(".rev"));
            ++result.removed;
        }
    }
    git_odb* odb = nullptr;
    if (git_repository_odb(&odb, repo) == 0)
        git_odb_refresh(odb);
    git_odb_free(odb);
    return result;
}

} // namespace kt::fleet
