// The lock of a backup file set.
#include "engine/backup_file.h"
#include "support/printers.h"
#include "support/system_paths.h"

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

// Threads stand for jobs, each open of the lock file a lock of its own as in two
// processes: never together, and the lock file goes with the last holder.
TEST(BackupLock, JobsRacingOnOneSetNeverHoldItTogether) {
    QTemporaryDir dir;
    const QString set = dir.filePath("01.KT");
    std::atomic<int> writers = 0, readers = 0, overlaps = 0, saves = 0, restores = 0;
    std::vector<std::thread> jobs;
    for (int t = 0; t < 8; ++t)
        jobs.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                // Two saves in three tries: readers share the set, and so
                // many of them would rarely leave a moment for a writer.
                const bool save = (i + t) % 3 != 0;
                BackupLock lock;
                if (!lock.take(set, save))
                    continue;
                ++(save ? saves : restores);
                if (save ? writers++ > 0 || readers > 0 : (++readers, writers > 0))
                    ++overlaps;
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                --(save ? writers : readers);
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

} // namespace
