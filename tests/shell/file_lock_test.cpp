// The lock of a file set: shared by readers, held alone by a writer.
#include "shell/file_lock.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::shell::FileLock;
using Mode = FileLock::Mode;
using Outcome = FileLock::Outcome;

// Two readers and a writer in turn: while either reader holds the lock the
// writer finds it in use, never unopenable (also once the first reader
// has let go), and the lock file goes with its last holder.
TEST(FileLock, AWriterFindsItInUseWhileEitherOfTwoReadersHoldsIt) {
    QTemporaryDir dir;
    const QString file = dir.filePath(".01.KT.lock");
    FileLock first, second, writer;
    ASSERT_EQ(first.take(file, Mode::Shared), Outcome::Held);
    ASSERT_EQ(second.take(file, Mode::Shared), Outcome::Held);
    EXPECT_EQ(writer.take(file, Mode::Exclusive), Outcome::Busy);
    first.release();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(writer.take(file, Mode::Exclusive), Outcome::Busy);
    EXPECT_EQ(first.take(file, Mode::Shared), Outcome::Held);
    first.release();
    second.release();
    EXPECT_FALSE(QFileInfo::exists(file));
    ASSERT_EQ(writer.take(file, Mode::Exclusive), Outcome::Held);
    EXPECT_EQ(first.take(file, Mode::Shared), Outcome::Busy);
    writer.release();
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(first.take(file, Mode::Shared), Outcome::Held);
}

} // namespace
