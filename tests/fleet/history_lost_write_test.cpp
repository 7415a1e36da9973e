// The fleet's history when the system loses a write that it said was done,
// as a full disk has done: git puts a written file in place with link(),
// and this program's link() stands before the C library's.
#include "fleet/history.h"
#include "history_support.h"

#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// While set, the history's branch is never written, and the system says it
// was, with ENOSPC left behind.
std::atomic<bool> loseBranchWrites{false};

} // namespace

extern "C" int link(const char* from, const char* to) noexcept {
    if (loseBranchWrites && QByteArray(to).endsWith("/.git/refs/heads/main")) {
        errno = ENOSPC;
        return 0;
    }
    return ::linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
}

namespace {

using kt::test::card;
using kt::test::writeBackup;

// A commit that git calls made but that the branch never took is a
// failure, with the system's reason; the next commit holds what it lost.
TEST(History, ACommitTheBranchDidNotTakeIsAFailure) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("b");
    const QString v1 = writeBackup(dir.filePath("a.KT"), {{"DC", "01"}});
    const QString v2 =
        writeBackup(dir.filePath("b/a.KT"), {{"DC", "01"}, {card(3), "0033333333123401FF00FF00"}});
    kt::fleet::History history;
    ASSERT_TRUE(history.open(dir.filePath("history"), kt::fleet::History::Mode::Write).ok());
    ASSERT_TRUE(history.stage("north", v1).ok());
    ASSERT_TRUE(history.commit("x\n\nnorth: first version\n").valueOr(false));
    ASSERT_TRUE(history.stage("north", v2).ok());
    loseBranchWrites = true;
    const kt::shell::Result<bool> lost = history.commit("x\n\nnorth: cards added 3\n");
    loseBranchWrites = false;
    ASSERT_FALSE(lost.ok()) << "a commit the branch does not hold was called made";
    EXPECT_TRUE(lost.error().message.contains("the branch main did not move to the new commit"))
        << lost.error().message.toStdString();
    EXPECT_TRUE(lost.error().message.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))))
        << lost.error().message.toStdString();
    EXPECT_EQ(history.versions("north").size(), 1);
    EXPECT_TRUE(history.commit("x\n\nnorth: cards added 3\n").valueOr(false));
    EXPECT_EQ(history.versions("north").size(), 2);
}

} // namespace
