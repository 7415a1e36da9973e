// The lock of a backup file set: jobs that race to take it and let it go
// never hold it together, its file is there only while a job holds it, and
// the next job on a set removes the copies a killed job left, and nothing
// else.
#include "engine/backup_file.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using kt::engine::BackupLock;
using kt::engine::lockFileOf;
using kt::test::JobRig;

// Threads stand for jobs: each open of the lock file is a lock of its own,
// as in two processes. Whoever holds the set alone removes the lock file as
// it lets go, while others open it, take it and let go at the same time.
TEST(BackupLock, JobsRacingOnOneSetNeverHoldItTogether) {
    QTemporaryDir dir;
    const QString set = dir.filePath("01.KT");
    std::atomic<int> writers = 0, readers = 0, overlaps = 0, saves = 0, restores = 0;
    std::vector<std::thread> jobs;
    for (int t = 0; t < 8; ++t)
        jobs.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                const bool save = (i + t) % 3 == 0;
                BackupLock lock;
                if (!lock.take(set, save))
                    continue;
                if (save) {
                    ++saves;
                    if (writers.fetch_add(1) != 0 || readers.load() != 0)
                        ++overlaps;
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
                    --writers;
                } else {
                    ++restores;
                    readers.fetch_add(1);
                    if (writers.load() != 0)
                        ++overlaps;
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
                    --readers;
                }
            }
        });
    for (std::thread& job : jobs)
        job.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_GT(saves, 0);
    EXPECT_GT(restores, 0);
    EXPECT_FALSE(QFileInfo::exists(lockFileOf(set)));

    // Two restores: the file stays while either holds it, for its owner only.
    BackupLock first, second;
    ASSERT_TRUE(first.take(set, false).ok());
    ASSERT_TRUE(second.take(set, false).ok());
    EXPECT_EQ(BackupLock().take(set, true).error().code, kt::shell::ErrorCode::InUse);
    EXPECT_EQ(kt::test::othersMay(lockFileOf(set)), QFile::Permissions());
    first.release();
    EXPECT_TRUE(QFileInfo::exists(lockFileOf(set)));
    second.release();
    EXPECT_FALSE(QFileInfo::exists(lockFileOf(set)));
}

TEST(BackupLock, TheNextJobRemovesTheCopiesAKilledJobLeftAndNoOtherFile) {
    struct Case {
        const char* name;
        bool goes;
    };
    const Case cases[] = {
        {".01.KT.kt560ax-tmp", true},    // the main file's copy
        {".201.KT.kt560ax-tmp", true},   // a card file's
        {".801.KT.kt560ax-tmp", true},   // the last card file's
        {"01.KT.a1B2c3", false},         // a temporary name of the usual kind
        {"01.KT.kt560ax-tmp", false},    // not hidden
        {".01.KT.kt560ax-tmp~", false},  // an editor's backup of one
        {".02.KT.kt560ax-tmp", false},   // another set's
        {".1001.KT.kt560ax-tmp", false}, // no card file of this set
        {".01.KT.lock.kt560ax-tmp", false},
    };
    JobRig r;
    ASSERT_TRUE(kt::test::put(r.loadFile, "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nDC=01\r\n"));
    for (const Case& c : cases)
        ASSERT_TRUE(kt::test::put(r.dir.filePath(c.name), "left"));
    ASSERT_TRUE(r.runLoad());
    for (const Case& c : cases)
        EXPECT_EQ(QFileInfo::exists(r.dir.filePath(c.name)), !c.goes) << c.name;
    EXPECT_FALSE(QFileInfo::exists(lockFileOf(r.loadFile)));
}

} // namespace
