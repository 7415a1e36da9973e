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

// Never a repository that holds another branch.
TEST(History, NeverMixesWithAnotherRepository) {
    QTemporaryDir dir;
    const QString other = dir.filePath("other");
    QDir().mkpath(other);
    QFile readme(other + "/README");
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.write("notes\n");
    readme.close();
    const auto git = [&](const QStringList& arguments) {
        return QProcess::execute(
            "git",
            QStringList{"-C", other, "-c", "user.name=t", "-c", "user.email=t@t"} + arguments);
    };
    ASSERT_EQ(git({"init", "-q", "-b", "master"}), 0);
    ASSERT_EQ(git({"add", "README"}), 0);
    ASSERT_EQ(git({"commit", "-q", "-m", "notes"}), 0);
    for (const Mode mode : {Mode::Read, Mode::Write}) {
        kt::fleet::History mixed;
        EXPECT_EQ(mixed.open(other, mode).error().code, kt::shell::ErrorCode::Invalid);
    }
}

// A folder that is not a history of this program's is refused and left as
// it was.
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
    // An ordinary folder with a file, and a repository on main with work
    // that is not committed.
    const QString plain = dir.filePath("plain");
    const QString foreign = dir.filePath("foreign");
    for (const QString& folder : {plain, foreign}) {
        QDir().mkpath(folder);
        ASSERT_TRUE(put(folder + "/notes", "mine\n"));
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7755));
    }
    ASSERT_EQ(git(foreign, {"init", "-q", "-b", "main"}), 0);
    ASSERT_EQ(git(foreign, {"add", "notes"}), 0);
    ASSERT_EQ(git(foreign, {"commit", "-q", "-m", "notes"}), 0);
    ASSERT_TRUE(put(foreign + "/notes", "mine, changed\n"));
    for (const QString& folder : {plain, foreign}) {
        SCOPED_TRACE(folder.toStdString());
        kt::fleet::History history;
        const kt::shell::Status opened = history.open(folder, Mode::Write);
        ASSERT_FALSE(opened.ok());
        EXPECT_TRUE(opened.error().message.contains("nothing in it was changed"));
        QFile notes(folder + "/notes");
        ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
        EXPECT_EQ(notes.readAll(), folder == plain ? "mine\n" : "mine, changed\n");
        EXPECT_EQ(QFile::permissions(folder) & QFile::ReadOther, QFile::ReadOther);
        EXPECT_EQ(QDir(folder).exists(".git"), folder == foreign);
    }
}

// A link inside a history is refused.
TEST(History, RefusesALinkInside) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("history");
    QDir().mkpath(dir.filePath("b"));
    const QString backup = writeBackup(dir.filePath("b/a.KT"), {{"DC", "01"}});
    kt::fleet::History history;
    ASSERT_TRUE(history.open(folder, Mode::Write).ok());
    // A section's folder that is a link leads nowhere.
    const QString outside = dir.filePath("outside");
    QDir().mkpath(outside);
    ASSERT_TRUE(QFile::link(outside, folder + "/east"));
    EXPECT_EQ(history.stage("east", backup).error().code, kt::shell::ErrorCode::NotRegular);
    EXPECT_TRUE(QDir(outside).isEmpty());
}

} // namespace
