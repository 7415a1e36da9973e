// The fleet's git history beside what only a POSIX system has: repositories
// made by the git program, and links.
#include "fleet/history.h"
#include "history_support.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::test::writeBackup;
using Mode = kt::fleet::History::Mode;

// A folder that is not a history of this program's (a folder with a file,
// a repository of another branch, one on the history's branch with work not
// committed) is refused for reading and writing, and left as it was.
TEST(History, TakesOverNothing) {
    QTemporaryDir dir;
    const auto git = [&](const QString& folder, const QStringList& arguments) {
        return QProcess::execute(
            "git",
            QStringList{"-C", folder, "-c", "user.name=t", "-c", "user.email=t@t"} + arguments);
    };
    const auto put = [](const QString& file, const QByteArray& text) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
    };
    const struct {
        const char* name;
        const char* branch; // of a repository made by git
        kt::shell::ErrorCode read;
    } cases[] = {{"plain", nullptr, kt::shell::ErrorCode::NotFound},
                 {"other", "master", kt::shell::ErrorCode::Invalid},
                 {"foreign", "main", kt::shell::ErrorCode::Invalid}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(c.name);
        QDir().mkpath(folder);
        ASSERT_TRUE(put(folder + "/notes", "mine\n"));
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7755));
        if (c.branch) {
            ASSERT_EQ(git(folder, {"init", "-q", "-b", c.branch}), 0);
            ASSERT_EQ(git(folder, {"add", "notes"}), 0);
            ASSERT_EQ(git(folder, {"commit", "-q", "-m", "notes"}), 0);
            ASSERT_TRUE(put(folder + "/notes", "mine, changed\n"));
        }
        kt::fleet::History reader, writer;
        EXPECT_EQ(reader.open(folder, Mode::Read).error().code, c.read);
        const kt::shell::Status opened = writer.open(folder, Mode::Write);
        ASSERT_FALSE(opened.ok());
        EXPECT_TRUE(opened.error().message.contains("nothing in it was changed"));
        QFile notes(folder + "/notes");
        ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
        EXPECT_EQ(notes.readAll(), c.branch ? "mine, changed\n" : "mine\n");
        EXPECT_EQ(QFile::permissions(folder) & QFile::ReadOther, QFile::ReadOther);
        EXPECT_EQ(QDir(folder).exists(".git"), c.branch != nullptr);
    }
}

// A section's folder inside a history that is a link leads nowhere.
TEST(History, RefusesALinkInside) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("history");
    QDir().mkpath(dir.filePath("b"));
    const QString backup = writeBackup(dir.filePath("b/a.KT"), {{"DC", "01"}});
    kt::fleet::History history;
    ASSERT_TRUE(history.open(folder, Mode::Write).ok());
    const QString outside = dir.filePath("outside");
    QDir().mkpath(outside);
    ASSERT_TRUE(QFile::link(outside, folder + "/east"));
    EXPECT_EQ(history.stage("east", backup).error().code, kt::shell::ErrorCode::NotRegular);
    EXPECT_TRUE(QDir(outside).isEmpty());
}

} // namespace
