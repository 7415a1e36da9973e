// A history's loose objects packed: every version still reads as it was
// committed, in clear and encrypted, and git finds the repository sound.
#include "engine/record_compare.h"
#include "fleet/history.h"
#include "history_support.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Mode = kt::fleet::History::Mode;
using kt::test::card;
using kt::test::Records;
using kt::test::writeBackup;

// The files under `folder`/.git/objects: {loose objects, pack files}.
std::pair<int, int> objectFiles(const QString& folder) {
    std::pair<int, int> counts;
    QDirIterator it(folder + "/.git/objects", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        ++(it.next().contains("/pack/") ? counts.second : counts.first);
    return counts;
}

TEST(HistoryPack, KeepsEveryVersionReadableAndGitFindsItSound) {
    const kt::fleet::AgeIdentity identity = *kt::fleet::AgeIdentity::generate();
    for (const bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "clear");
        QTemporaryDir dir;
        const QString folder = dir.filePath("history");
        kt::fleet::History history;
        ASSERT_TRUE(history.open(folder, Mode::Write).ok());
        if (encrypted) {
            ASSERT_TRUE(history.encryptTo({identity.recipient()}).ok());
        }
        // Six nights, each with a card of both controllers changed; the
        // loose objects packed after every second, and the whole history
        // into one pack after the sixth, which makes a third pack too many.
        QList<QString> backups;
        const struct {
            int packLimit;
            std::pair<int, int> files; // loose objects, pack files
        } packings[] = {{16, {0, 2}}, {16, {0, 4}}, {2, {0, 2}}};
        for (int night = 1; night <= 6; ++night) {
            for (const char* section : {"north", "south"}) {
                Records records = {{"DC", "01"}, {card(2100), "0021000000123401FF00FF00"}};
                records[card(night)] = QByteArray::number(night).rightJustified(24, '0');
                const QString backup = writeBackup(
                    dir.filePath(QStringLiteral("%1-%2.KT").arg(section).arg(night)), records);
                ASSERT_TRUE(history.stage(section, backup).ok());
                backups.append(backup);
            }
            ASSERT_TRUE(history.commit(QStringLiteral("night %1\n").arg(night)).ok());
            if (night % 2 != 0)
                continue;
            // Below the limit nothing is packed.
            EXPECT_EQ(history.pack(1000).valueOr({}).packed, 0);
            EXPECT_GT(objectFiles(folder).first, 0);
            const auto& packing = packings[night / 2 - 1];
            const kt::shell::Result<kt::fleet::HistoryPack> packed =
                history.pack(0, packing.packLimit);
            ASSERT_TRUE(packed.ok()) << packed.error().message.toStdString();
            EXPECT_GT(packed->packed, 0);
            EXPECT_EQ(objectFiles(folder), packing.files);
        }
        for (const char* section : {"north", "south"}) {
            const QList<kt::fleet::HistoryVersion> versions = history.versions(section);
            ASSERT_EQ(versions.size(), 6);
            for (int v = 0; v < 6; ++v) {
                const QString out = dir.filePath(QStringLiteral("out-%1-%2").arg(section).arg(v));
                const auto exported = history.exportVersion(section, versions[v], out, {identity});
                ASSERT_TRUE(exported.ok()) << exported.error().message.toStdString();
                const QString source = backups[v * 2 + (QLatin1String(section) == "south")];
                EXPECT_EQ(kt::engine::readBackupRecords(*exported),
                          kt::engine::readBackupRecords(source));
            }
        }
        QProcess fsck;
        fsck.start("git", {"-C", folder, "fsck", "--full", "--strict", "--no-dangling"});
        ASSERT_TRUE(fsck.waitForFinished(60000));
        EXPECT_EQ(fsck.exitCode(), 0) << fsck.readAllStandardError().toStdString();
        EXPECT_EQ(fsck.readAllStandardError() + fsck.readAllStandardOutput(), "");
    }
}

} // namespace
