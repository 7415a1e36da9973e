// The lock of a backup file set: jobs that race to take it and let it go
// never hold it together, and its file is there only while a job holds it.
#include "engine/backup_file.h"
#include "support/printers.h"

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
    EXPECT_EQ(QFile::permissions(lockFileOf(set)) &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              0);
    first.release();
    EXPECT_TRUE(QFileInfo::exists(lockFileOf(set)));
    second.release();
    EXPECT_FALSE(QFileInfo::exists(lockFileOf(set)));
}

} // namespace
