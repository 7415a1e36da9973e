// The fleet file's reading, hook command lines, and what --keep removes.
#include "fleet/backup_folder.h"
#include "fleet/fleet_file.h"
#include "fleet/fleet_include.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include "engine/record_compare.h"
#include "engine/save_workspace.h"
#include "shell/ini_file.h"
#include "shell/regular_file.h"

#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

using kt::fleet::backupsToRemove;
using kt::fleet::StoredBackup;
using kt::test::rooted;

// The fleet of a text that must read without a mistake.
kt::fleet::Fleet parsed(const QByteArray& text, const QString& fileName, const QString& folder) {
    const kt::shell::Result<kt::fleet::Fleet> fleet = kt::fleet::parseFleet(text, fileName, folder);
    EXPECT_TRUE(fleet.ok()) << fleet.error().message.toStdString();
    return fleet.valueOr({});
}

// The mistakes a text holds, a line each.
QStringList mistakes(const QByteArray& text, const QString& fileName, const QString& folder) {
    const kt::shell::Result<kt::fleet::Fleet> fleet = kt::fleet::parseFleet(text, fileName, folder);
    return fleet ? QStringList{} : fleet.error().message.split(u'\n');
}

// Keys in any letter case, comments and CRLF; what a section leaves out is
// the default, never the section before's; paths are the fleet file's
// folder's.
TEST(Fleet, ReadsEachControllerWithItsDefaults) {
    const QByteArray text = QByteArray("; site A\r\n"
                                       "[door-north]\r\n"
                                       "port = tcp://10.0.0.7:4001\r\n"
                                       "ADDRESS=7\r\n"
                                       "Only=cards, system\r\n"
                                       "Cards=2437\r\n"
                                       "Echo=1\r\n"
                                       "Folder=kt\r\n"
                                       "\r\n"
                                       "# the gate has its own line\r\n"
                                       "[gate]\r\n"
                                       "Port=/dev/ttyUSB0\r\n"
                                       "[Fleet]\r\n"
                                       "history=../history\r\n"
                                       "Remote=ssh://backup@vault/kt.git\r\n"
                                       "MaxAge=2d\r\n"
                                       "Retries=2\r\n"
                                       "RetryPause=5m\r\n"
                                       "Jobs=4\r\n"
                                       "JobsPerProcess=1\r\n") +
                            "Report=" + rooted("/var/www/kt.html").toUtf8() +
                            "\r\n"
                            "Metrics=prom/kt560ax.prom\r\n"
                            "OnFailure=" +
                            rooted("/usr/bin/notify").toUtf8() + " \"door $1\" 'a;b'\r\n";
    const kt::fleet::Fleet fleet = parsed(text, "site.ini", rooted("/etc/kt"));
    ASSERT_EQ(fleet.controllers.size(), 2);
    const kt::fleet::FleetController &north = fleet.controllers[0], &gate = fleet.controllers[1];
    EXPECT_EQ(std::tuple(north.name, north.port, north.address, north.echo, north.cards),
              std::tuple(QString("door-north"), QString("tcp://10.0.0.7:4001"), 7, true, 2437));
    EXPECT_EQ(north.categories,
              (QList<const kt::engine::Category*>{kt::engine::findCategory("cards"),
                                                  kt::engine::findCategory("system")}));
    EXPECT_EQ(std::tuple(gate.address, gate.echo, gate.categories.size(), gate.cards, gate.line),
              std::tuple(1, false, qsizetype(9), 9999, 11));
    const kt::fleet::FleetSettings& s = fleet.settings;
    EXPECT_EQ(std::tuple(s.maxAgeSeconds, s.retries, s.retryPauseSeconds, s.jobs, s.jobsPerProcess),
              std::tuple(qint64(2 * 86400), 2, 300, 4, 1));
    EXPECT_EQ(std::tuple(north.folder, gate.folder, s.history, s.report, s.metrics),
              std::tuple(rooted("/etc/kt/kt"), rooted("/etc/kt"), rooted("/etc/history"),
                         rooted("/var/www/kt.html"), rooted("/etc/kt/prom/kt560ax.prom")));
    EXPECT_EQ(s.remote.forGit(), "ssh://backup@vault/kt.git");
    EXPECT_EQ(s.branch, "site"); // the fleet file's name, unless Branch= says
    EXPECT_EQ(s.onFailure, (QStringList{rooted("/usr/bin/notify"), "door $1", "a;b"}));
    EXPECT_TRUE(s.onChange.isEmpty());

    const auto settingsOf = [](const QByteArray& keys, const QString& file = "f.ini") {
        return parsed("[fleet]\n" + keys + "\n[a]\nPort=COM1\n", file, rooted("/etc/kt")).settings;
    };
    // A hook's program is the fleet's, from wherever the run starts.
    EXPECT_EQ(settingsOf("OnDone=./hooks/done.sh x").onDone.value(0),
              rooted("/etc/kt/hooks/done.sh"));
    EXPECT_EQ(settingsOf("", rooted("/etc/kt/site b.ini")).branch, "site-b");
    EXPECT_EQ(settingsOf("Encrypt=keys/recipients.txt").encrypt,
              rooted("/etc/kt/keys/recipients.txt"));
    for (const auto& [remote, taken] :
         {std::pair<QString, QString>{"git@vault:kt.git", "git@vault:kt.git"},
          {"../bare.git", rooted("/etc/bare.git")},
          {rooted("/srv/kt.git"), rooted("/srv/kt.git")}})
        EXPECT_EQ(settingsOf("Remote=" + remote.toUtf8()).remote.forGit(), taken);
    // The example that ships with the program reads without a mistake.
    QFile example(KT_SOURCE_DIR "/contrib/fleet.ini");
    ASSERT_TRUE(example.open(QIODevice::ReadOnly));
    EXPECT_EQ(mistakes(example.readAll(), "fleet.ini", rooted("/etc/kt")), QStringList{});
}

// Nothing in a hook's line means anything to a shell: quotes group words,
// and that is all.
TEST(Fleet, HookLinesSplitIntoWordsWithoutAShell) {
    const std::pair<QString, QStringList> cases[] = {
        {"mail -s 'kt $HOME' root", {"mail", "-s", "kt $HOME", "root"}},
        {R"(a "b \"c\" \\d" e\ f)", {"a", R"(b "c" \d)", "e f"}},
        {"x '' `y` $(z) ;|&", {"x", "", "`y`", "$(z)", ";|&"}},
        {"  spaced	out  ", {"spaced", "out"}},
        {"open 'quote", {}},
        {"", {}},
    };
    for (const auto& [line, words] : cases)
        EXPECT_EQ(kt::fleet::splitCommand(line), words) << line.toStdString();
}

// Each mistake is one line of the message, naming the file, its line and
// what is wrong.
TEST(Fleet, EachMistakeNamesItsLine) {
    const std::pair<QByteArray, QString> cases[] = {
        {"Port=COM1\n", "f.ini line 1: a key before the first [controller] section."},
        {"[a]\nPort=COM1\nAddress=100\n", "f.ini line 3: Address takes 1 to 99, not \"100\"."},
        {"[a]\nPort=COM1\nCards=0\n", "f.ini line 3: Cards takes 1 to 9999, not \"0\"."},
        {"[a]\nPort=COM1\nOnly=cards,doors\n", "f.ini line 3: there is no category \"doors\"."},
        {"[a]\nPort=COM1\nSpeed=9600\n", "f.ini line 3: unknown key \"Speed\": use Port, "},
        {"[a]\nPort=COM1\nEcho=yes\n", "f.ini line 3: Echo takes 0 or 1, not \"yes\"."},
        {"[a]\nAddress=2\n", "f.ini line 1: controller [a] has no Port."},
        {"[a]\nPort=COM1\n[A]\nPort=COM2\n",
         "f.ini line 3: controller [A] is named twice: first on line 1."},
        {"[../x]\nPort=COM1\n", "f.ini line 1: \"[../x]\" is not a usable controller name"},
        {"[a]\nPort=COM1\nAddress 2\n", "f.ini line 3: \"Address 2\" is neither [controller]"},
        {"; nothing\n", "f.ini: no [controller] section."},
        {"[a]\nPort=COM1\nFolder=-x\n", "f.ini line 3: Folder takes a folder, not \"-x\"."},
        {"[fleet]\nJobs=0\n[a]\nPort=COM1\n", "f.ini line 2: Jobs takes 1 to 256, not \"0\"."},
        {"[fleet]\nJobsPerProcess=65\n[a]\nPort=COM1\n",
         "f.ini line 2: JobsPerProcess takes 1 to 64, not \"65\"."},
        {"[fleet]\nMaxAge=soon\n[a]\nPort=COM1\n", "f.ini line 2: MaxAge takes hours, or a"},
        {"[fleet]\nRetries=11\n[a]\nPort=COM1\n", "f.ini line 2: Retries takes 0 to 10, not"},
        {"[fleet]\nPushFailLimit=0\n[a]\nPort=COM1\n",
         "f.ini line 2: PushFailLimit takes 1 to 1000, not \"0\"."},
        {"[a]\nPort=COM1\n[fleet]\nPushFailLimit=1001\n",
         "f.ini line 4: PushFailLimit takes 1 to 1000, not \"1001\"."},
        {"[a]\nPort=COM1\n[fleet]\nOnDone=say 'hi\n", "f.ini line 4: OnDone takes a program"},
        {"[fleet]\n[a]\nPort=COM1\n[FLEET]\n", "f.ini line 4: [fleet] is there twice."},
        {"[fleet]\nBranch=../main\n[a]\nPort=COM1\n", "f.ini line 2: Branch takes a branch name"},
        {"[fleet]\nColour=x\n[a]\nPort=COM1\n", "f.ini line 2: unknown key \"Colour\" in [fleet]"},
        {"[fleet]\nEncrypt=\n[a]\nPort=COM1\n", "f.ini line 2: Encrypt takes a file of age"},
        {"[fleet]\nMaxLoss=0\n[a]\nPort=COM1\n", "f.ini line 2: MaxLoss takes a whole percent"},
        {"[a]\nPort=COM1\nMaxLoss=101\n", "f.ini line 3: MaxLoss takes a whole percent from 1 to "
                                          "100, not \"101\"."},
        {"[a]\nPort=COM1\nMaxLoss=12.5\n", "f.ini line 3: MaxLoss takes a whole percent"},
        {"[a]\nPort=COM1\nMaxLoss=50%\n", "f.ini line 3: MaxLoss takes a whole percent"},
        {"[a]\nPort=COM1\nport=COM2\n",
         "f.ini line 3: port is given twice in this section: first on line 2."},
        {"[fleet]\nRetries=1\nRETRIES=2\n[a]\nPort=COM1\n", "f.ini line 3: RETRIES is given twice"},
        {QByteArray("[a]\nPort=a.tty") + '\0' + "/../b.tty\n",
         "f.ini line 2: Port holds the control character \u2039NUL\u203a, which no value may "
         "hold."},
        {"[a]\nPort=COM1\nFolder=x\x1b[2Jy\n", "f.ini line 3: Folder holds the control character"},
        {"[fleet]\nOnDone=say \xc2\x9b\n[a]\nPort=COM1\n",
         "f.ini line 2: OnDone holds the control"},
        {"[a]\nPort=COM1\nFolder=caf\xe9\n", "f.ini line 3: this line is not UTF-8 text"},
        {"[caf\xe9]\nPort=COM1\n", "f.ini line 1: this line is not UTF-8 text"},
        // A default of [fleet] is checked once, where it stands.
        {"[fleet]\nCards=0\n[a]\nPort=COM1\n[b]\nPort=COM2\n",
         "f.ini line 2: Cards takes 1 to 9999, not \"0\"."},
        {"[fleet]\nPort=a\x01\n[a]\n[b]\n", "f.ini line 2: Port holds the control character"},
        {"[a]\nPort=COM1\nInclude=b.ini\n", "f.ini line 3: Include stands only in [fleet]."},
        {"[fleet]\nInclude=\n[a]\nPort=COM1\n", "f.ini line 2: Include takes a file, or files"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text.constData());
        const QStringList found = mistakes(text, "f.ini", "/");
        ASSERT_EQ(found.size(), 1) << found.join('\n').toStdString();
        EXPECT_TRUE(found[0].startsWith(error)) << found[0].toStdString();
    }
}

// A controller as one line: name, port, address, cards, echo, folder, the
// categories it reads, MaxLoss, and the file and line of its section.
QString described(const kt::fleet::FleetController& c) {
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
        .arg(c.name, c.port, QString::number(c.address), QString::number(c.cards),
             QString::number(c.echo), c.folder, QString::number(c.categories.size()),
             QString::number(c.maxLoss), c.file + ':' + QString::number(c.line));
}

// Any controller key in [fleet] is the default of every section, wherever
// [fleet] stands; a section's own key wins, an included file's sections
// take the defaults too, and they follow the fleet file's own in the order
// of their files.
TEST(Fleet, FleetGivesEveryControllerKeyASectionLacks) {
#ifdef _WIN32
    GTEST_SKIP() << "its folders are POSIX paths";
#endif
    const QList<kt::fleet::FleetText> buildings = {
        {"b/east.ini", "; east wing\n[e1]\nAddress=4\n[e2]\nPort=COM3\nFolder=e2\n"},
        {"b/west.ini", "[w1]\nCards=7\nOnly=system\n"}};
    const kt::fleet::IncludeReader include = [&](const QString& pattern) {
        return pattern == "b/*.ini" ? buildings : QList<kt::fleet::FleetText>{};
    };
    const struct {
        QByteArray text;
        QStringList controllers;
    } cases[] = {
        {"[fleet]\nPort=COM1\nAddress=5\nOnly=cards\nCards=300\nEcho=1\nFolder=kt\nMaxLoss=30\n"
         "[a]\n[b]\nport=COM2\nADDRESS=7\nOnly=system,cards\nCards=10\nEcho=0\nFolder=/x\n"
         "MaxLoss=90\n",
         {"a COM1 5 300 1 /etc/kt/kt 1 30 f.ini:9", "b COM2 7 10 0 /x 2 90 f.ini:10"}},
        {"[a]\nPort=COM1\n[fleet]\nCards=20\nFolder=/y\n", {"a COM1 1 20 0 /y 9 50 f.ini:1"}},
        {"[fleet]\nInclude=b/*.ini\nPort=COM9\nCards=50\n[lobby]\nPort=COM1\n",
         {"lobby COM1 1 50 0 /etc/kt 9 50 f.ini:5", "e1 COM9 4 50 0 /etc/kt 9 50 b/east.ini:2",
          "e2 COM3 1 50 0 /etc/kt/e2 9 50 b/east.ini:4",
          "w1 COM9 1 7 0 /etc/kt 1 50 b/west.ini:1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.constData());
        const auto fleet = kt::fleet::parseFleet(c.text, "f.ini", "/etc/kt", include);
        ASSERT_TRUE(fleet.ok()) << fleet.error().message.toStdString();
        QStringList controllers;
        for (const kt::fleet::FleetController& controller : fleet->controllers)
            controllers.append(described(controller));
        EXPECT_EQ(controllers, c.controllers);
    }
}

// An included file holds controllers' sections only, a section name stands
// once in the whole fleet, and each mistake names its file and line.
TEST(Fleet, AnIncludedFileHoldsSectionsOnlyAndEachMistakeNamesIt) {
    const QByteArray fleet = "[fleet]\nInclude=b/*.ini\n[lobby]\nPort=COM1\n";
    const struct {
        QByteArray text;
        QList<kt::fleet::FleetText> files;
        QString error;
    } cases[] = {
        {fleet,
         {{"b/1.ini", "[fleet]\nJobs=2\n"}},
         "b/1.ini line 1: [fleet] stands only in the fleet file f.ini, not in a file it includes."},
        {fleet,
         {{"b/1.ini", "[x]\nPort=COM2\nInclude=c/*.ini\n"}},
         "b/1.ini line 3: a file that the fleet file includes includes nothing: Include "
         "stands only in [fleet] of the fleet file."},
        {fleet,
         {{"b/1.ini", "[LOBBY]\nPort=COM2\n"}},
         "b/1.ini line 1: controller [LOBBY] is named twice: first in f.ini line 3."},
        {fleet,
         {{"b/1.ini", "[x]\nPort=COM2\n"}, {"b/2.ini", "\n[X]\nPort=COM3\n"}},
         "b/2.ini line 2: controller [X] is named twice: first in b/1.ini line 1."},
        {fleet,
         {{"b/1.ini", "[x]\nPort=COM2\nCards=0\n"}},
         "b/1.ini line 3: Cards takes 1 to 9999, not \"0\"."},
        {fleet, {{"b/1.ini", "[x]\nAddress=2\n"}}, "b/1.ini line 1: controller [x] has no Port."},
        {fleet,
         {{"b/1.ini", "Port=COM2\n[x]\nPort=COM2\n"}},
         "b/1.ini line 1: a key before the first [controller] section."},
        {fleet, {}, "f.ini line 2: Include=b/*.ini names no file."},
        {"[fleet]\nInclude=bad/*.ini\n[a]\nPort=COM1\n",
         {},
         "f.ini line 2: bad/x.ini cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        const kt::fleet::IncludeReader include =
            [&](const QString& pattern) -> kt::shell::Result<QList<kt::fleet::FleetText>> {
            if (pattern == "bad/*.ini")
                return kt::shell::Error{kt::shell::ErrorCode::Unreadable,
                                        "bad/x.ini cannot be read", "bad/x.ini"};
            return c.files;
        };
        const auto parsed = kt::fleet::parseFleet(c.text, "f.ini", "/", include);
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error().message, c.error);
    }
}

// Include= takes the files its pattern names beside the fleet file, in name
// order, within its limits; never a hidden file, a folder or the fleet file
// itself.
TEST(Fleet, IncludeReadsTheFilesOfItsPatternWithinItsLimits) {
    QTemporaryDir dir;
    const QString fleetFile = dir.filePath("site.ini");
    const auto write = [&](const QString& name, const QByteArray& text) {
        QDir().mkpath(QFileInfo(dir.filePath(name)).absolutePath());
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    };
    write("site.ini", "[fleet]\nInclude=buildings/*.ini\n[lobby]\nPort=COM1\n");
    write("buildings/b.ini", "[b1]\nPort=COM2\n");
    write("buildings/a.ini", "[a1]\nPort=COM3\n[a2]\nPort=COM3\nAddress=2\n");
    write("buildings/.draft.ini", "junk");
    write("buildings/notes.txt", "junk");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("buildings/old.ini")));
    const auto read = kt::fleet::readFleetFile(fleetFile);
    ASSERT_TRUE(read.ok()) << read.error().message.toStdString();
    QStringList sections;
    for (const kt::fleet::FleetController& controller : read->controllers)
        sections.append(controller.name + '@' + QDir(dir.path()).relativeFilePath(controller.file));
    EXPECT_EQ(sections, (QStringList{"lobby@site.ini", "a1@buildings/a.ini", "a2@buildings/a.ini",
                                     "b1@buildings/b.ini"}));
    // The fleet file's own folder: everything but the fleet file itself.
    write("other.ini", "[o1]\nPort=COM4\n");
    const auto names = [&](const QString& pattern) {
        QStringList found;
        for (const kt::fleet::FleetText& file :
             kt::fleet::readIncludedFiles(pattern, fleetFile).valueOr({}))
            found.append(QDir(dir.path()).relativeFilePath(file.name));
        return found;
    };
    EXPECT_EQ(names("*.ini"), QStringList{"other.ini"});
    EXPECT_EQ(names(dir.filePath("buildings/[ab].ini")),
              (QStringList{"buildings/a.ini", "buildings/b.ini"}));
    EXPECT_EQ(names("buildings/a.ini"), QStringList{"buildings/a.ini"});
    EXPECT_EQ(names("buildings/*.none"), QStringList{});

    for (int i = 0; i < kt::fleet::kMaxIncludedFiles + 1; ++i)
        write(QStringLiteral("many/%1.ini").arg(i), "");
    const QByteArray big(kt::fleet::kMaxFleetBytes, ';');
    for (int i = 0; i < kt::fleet::kMaxIncludedBytes / kt::fleet::kMaxFleetBytes + 1; ++i)
        write(QStringLiteral("big/%1.ini").arg(i), big);
    const std::pair<QString, QString> refused[] = {
        {"build*/a.ini", "Include takes wildcards in the file name only, not in \"build*/a.ini\"."},
        {"buildings/", "Include takes files, not the folder \"buildings/\"."},
        {"buildings/c.ini", dir.filePath("buildings/c.ini") + " - no such file"},
        {"many/*.ini", "Include=many/*.ini names 1001 files, more than the 1000 that a fleet "
                       "file may include."},
        {"big/*.ini", "the files that Include=big/*.ini names hold more than 16 MB in all "
                      "(reached at " +
                          dir.filePath("big/4.ini") + ")."},
    };
    for (const auto& [pattern, error] : refused)
        EXPECT_EQ(kt::fleet::readIncludedFiles(pattern, fleetFile).error().message, error)
            << pattern.toStdString();
}

// --keep counts complete backups by when they ended, and never removes a
// stopped one newer than the last it keeps, nor the one just made, nor the
// last good one however old.
TEST(Fleet, KeepRemovesOlderBackupsButNeverANewerStoppedOne) {
    const auto complete = [](const QString& name, int day, int hour = 2) {
        return StoredBackup{name, true,
                            QDateTime(QDate(2026, 12, day), QTime(hour, 0), QTimeZone(3600))};
    };
    const auto stopped = [&](const QString& name, int day) {
        return StoredBackup{name, false, complete(name, day).made};
    };
    const QString a = "2026-12-01_020000.KT", b = "2026-12-02_020000.KT",
                  c = "2026-12-03_020000.KT", d = "2026-12-04_020000.KT",
                  c2 = "2026-12-03_020000-2.KT";
    const struct {
        const char* name;
        QList<StoredBackup> backups;
        int keep;
        QStringList removed;
        QString justMade = {};
        QString lastGood = {};
    } cases[] = {
        {"all complete", {complete(a, 1), complete(c, 3), complete(b, 2)}, 2, {a}},
        {"a stopped one newest stays", {complete(a, 1), complete(b, 2), stopped(c, 3)}, 1, {a}},
        {"a stopped one between goes", {complete(a, 1), stopped(b, 2), complete(c, 3)}, 1, {b, a}},
        {"nothing complete yet", {stopped(a, 1), stopped(b, 2)}, 1, {}},
        {"fewer than kept", {complete(a, 1), stopped(d, 4)}, 3, {}},
        // A clock stepped back: the name says the 4th, the backup ended on
        // the 2nd, and the backup just made is never removed.
        {"a name from the future", {complete(a, 1), complete(d, 2), complete(c, 3)}, 1, {d, a}, c},
        {"dated after the new one", {complete(a, 1), complete(b, 5), complete(c, 3)}, 1, {a}, c},
        {"two backups of one second", {complete(c, 3), complete(c2, 3, 3)}, 1, {c}, c2},
        {"the last good one stays", {complete(a, 1), complete(b, 2), complete(d, 4)}, 1, {b}, d, a},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(backupsToRemove(k.backups, k.keep, k.justMade, k.lastGood), k.removed);
    }
}

TEST(Fleet, NamesAreClaimedOnceAndOrderedByTheManifest) {
    QTemporaryDir dir;
    const QString first = *kt::fleet::claimBackupName(dir.path(), "2026-12-06_020000");
    const QString second = *kt::fleet::claimBackupName(dir.path(), "2026-12-06_020000");
    EXPECT_EQ(QFileInfo(first).fileName(), "2026-12-06_020000.KT");
    EXPECT_EQ(QFileInfo(second).fileName(), "2026-12-06_020000-2.KT");
    EXPECT_EQ(kt::test::othersMay(first), QFile::Permissions());
    // The later name holds the earlier backup: the manifest decides.
    EXPECT_TRUE(kt::shell::WriteIni(first, "HEAD", "Complete", "1"));
    EXPECT_TRUE(kt::shell::WriteIni(first, "HEAD", "Finished", "2026-12-06T03:00:00+01:00"));
    EXPECT_TRUE(kt::shell::WriteIni(second, "HEAD", "Complete", "1"));
    EXPECT_TRUE(kt::shell::WriteIni(second, "HEAD", "Finished", "2026-12-06T02:30:00+00:00"));
    const QList<StoredBackup> stored = kt::fleet::storedBackups(dir.path());
    EXPECT_EQ(backupsToRemove(stored, 1, {}), QStringList{QFileInfo(first).fileName()});

    // A run killed during its Save: the next claim puts what it read into
    // its backup, marked stopped, as no later run opens that set again.
    const QString killed = *kt::fleet::claimBackupName(dir.path(), "2026-12-07_020000");
    ASSERT_TRUE(kt::engine::makeWorkspace(killed));
    ASSERT_TRUE(kt::engine::writeSaveStart(kt::engine::workingFileOf(killed), "01",
                                           {"SystemDatabase"}, std::nullopt));
    ASSERT_TRUE(kt::shell::WriteIni(kt::engine::workingFileOf(killed), "Data", "DC", "1234"));
    ASSERT_TRUE(kt::fleet::claimBackupName(dir.path(), "2026-12-08_020000"));
    EXPECT_EQ(kt::shell::ReadIni(killed, "Data", "DC"), "1234");
    EXPECT_EQ(kt::engine::readManifest(killed).complete, false);
    EXPECT_FALSE(QFileInfo::exists(kt::engine::workspaceOf(killed)));
}

// A path, a port or a name that holds %1 ... %9 comes out of every message
// as it was written: messages are filled in one pass.
TEST(Messages, APathHoldingPlaceholdersComesOutAsWritten) {
    QTemporaryDir dir;
    const QString odd = dir.filePath("site%5 %1%2");
    ASSERT_TRUE(QDir().mkpath(odd));
    ASSERT_TRUE(QFile(odd + "/file%9").open(QIODevice::WriteOnly));
    ASSERT_TRUE(kt::engine::writeVerifyReport(odd + "/report%2.txt", {.file = odd + "/x%4.KT",
                                                                      .controller = "01",
                                                                      .port = "COM%1",
                                                                      .started = "now",
                                                                      .differences = {}}));
    QFile written(odd + "/report%2.txt");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    // A message, and what it must hold as written.
    const std::pair<QString, QString> cases[] = {
        {kt::shell::readRegularFile(odd + "/gone%3.KT").error().message, odd + "/gone%3.KT"},
        {mistakes("[a]\nPort=COM1\nCards=0\n", odd + "/f%2.ini", odd).value(0),
         odd + "/f%2.ini line 3"},
        {kt::fleet::claimBackupName(odd + "/file%9/sub", "2026").error().message,
         odd + "/file%9/sub"},
        {QString::fromUtf8(written.readLine()),
         "Verify of " + odd + "/x%4.KT against controller 01 on COM%1, now"},
    };
    for (const auto& [message, held] : cases)
        EXPECT_TRUE(message.contains(held)) << message.toStdString();
}

} // namespace
