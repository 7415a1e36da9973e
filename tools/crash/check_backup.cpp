// Checks a backup file set left by a Save job, killed or not, against the
// records of the virtual controller it was saved from:
//   check_backup BACKUP_FILE CARDS SEED [--complete]
// Beside the set a killed job may leave its hidden files (lock, journal, a
// file's copy, the Save's own folder); a finished one (--complete) leaves
// none, and nothing else may be there at all. What the killed job left is
// then ended as the next job would end it: replacing that had begun is
// finished, or what it read is kept beside the set; such a kept set is
// checked too, then removed. Every file must parse, every key present must
// hold its whole value and stand once, and no other user may read them. A
// main file says Complete=0 unless every record is there. With --complete
// every record must be there and the file must say Complete=1. Prints what
// is wrong and exits 1.
#include "engine/backup_file.h"
#include "engine/save_journal.h"
#include "engine/save_workspace.h"
#include "sim/record_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <cstdio>

namespace {

int problems = 0;

void problem(const QString& text) {
    std::printf("PROBLEM: %s\n", qPrintable(text));
    ++problems;
}

const QList<QByteArray> kHeadKeys = {"Title",      "Complete",   "Started", "Finished",
                                     "Controller", "Categories", "Cards",   "Records"};

// Reads one file strictly: section headers and key=value lines only. The
// HEAD keys of the main file go to `head`.
QMap<QByteArray, QByteArray> readStrictly(const QString& path, bool mainFile,
                                          QMap<QByteArray, QByteArray>& head) {
    QMap<QByteArray, QByteArray> data;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem(path + " cannot be read");
        return data;
    }
    const QByteArray text = file.readAll();
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        problem(path + " ends in the middle of a line");
    QByteArray section;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QByteArray content = line.endsWith('\r') ? line.chopped(1) : line;
        if (content.startsWith('[') && content.endsWith(']')) {
            section = content.mid(1, content.size() - 2);
        } else if (content.contains('=')) {
            const QByteArray key = content.left(content.indexOf('='));
            const QByteArray value = content.mid(content.indexOf('=') + 1);
            if (section == "HEAD" && mainFile && kHeadKeys.contains(key))
                head.insert(key, value);
            else if (section == "Data" && data.contains(key))
                problem(path + ": key " + QString::fromLatin1(key) + " stands twice");
            else if (section == "Data")
                data.insert(key, value);
            else
                problem(path + ": unexpected line " + QString::fromLatin1(content));
        } else {
            problem(path + ": line that does not parse: " + QString::fromLatin1(content));
        }
    }
    if (mainFile && head.value("Title") != "KT560AX")
        problem(path + " has no HEAD title");
    if (QFile::permissions(path) &
        (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther))
        problem(path + " can be read or written by other users");
    return data;
}

// Checks the records of one set strictly against the controller's; the
// main file says Complete=1 only when every record is there.
void checkSet(const QString& mainFile, const kt::sim::RecordStore& expected, bool complete) {
    int records = 0;
    QMap<QByteArray, QByteArray> head;
    for (const QString& path : kt::engine::backupFileSet(mainFile)) {
        if (!QFileInfo::exists(path))
            continue;
        const auto data = readStrictly(path, path == mainFile, head);
        for (auto it = data.cbegin(); it != data.cend(); ++it) {
            ++records;
            if (!expected.records().contains(it.key()))
                problem(path + ": unknown key " + QString::fromLatin1(it.key()));
            else if (expected.value(it.key()) != it.value())
                problem(path + ": key " + QString::fromLatin1(it.key()) + " holds a wrong value");
        }
    }
    const bool all = records == expected.records().size();
    if (complete && !all)
        problem(QString("%1 records of %2")
                    .arg(QString::number(records), QString::number(expected.records().size())));
    const QByteArray said = head.value("Complete");
    if (QFileInfo::exists(mainFile) && said != "0" && said != "1")
        problem("the main file says neither Complete=0 nor Complete=1");
    if (said == "1" &&
        (!all || head.value("Records").toInt() != records || !head.contains("Finished")))
        problem(QString("Complete=1 with %1 records of %2, Records=%3")
                    .arg(QString::number(records), QString::number(expected.records().size()),
                         QString::fromLatin1(head.value("Records"))));
    if (complete && said != "1")
        problem("a finished backup that does not say Complete=1");
    std::printf("%s: %d records checked, Complete=%s; ", qPrintable(QFileInfo(mainFile).fileName()),
                records, said.isEmpty() ? "(none)" : said.constData());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: check_backup BACKUP_FILE CARDS SEED [--complete]\n");
        return 2;
    }
    const QString mainFile = QString::fromLocal8Bit(argv[1]);
    const int cards = atoi(argv[2]);
    const bool complete = argc > 4 && QByteArray(argv[4]) == "--complete";
    kt::sim::RecordStore expected;
    expected.seed(cards, unsigned(atoi(argv[3])));

    // Beside the set only its hidden files and the Save's folder.
    const QStringList set = kt::engine::backupFileSet(mainFile);
    const QSet<QString> files(set.cbegin(), set.cend());
    QSet<QString> hidden = {kt::engine::lockFileOf(mainFile), kt::engine::journalFileOf(mainFile),
                            kt::engine::workspaceOf(mainFile)};
    for (const QString& file : set)
        hidden.insert(kt::engine::copyFileOf(file));
    const QDir dir = QFileInfo(mainFile).dir();
    int left = 0;
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString path = dir.filePath(name);
        if (files.contains(path))
            continue;
        if (!hidden.contains(path))
            problem("stray file " + path);
        else if (complete)
            problem("a finished job left " + path);
        else
            ++left;
    }
    if (left > 0)
        std::printf("%d hidden files left by a kill; ", left);

    // What the next job makes of what the killed one left.
    const kt::shell::Result<kt::engine::SaveEnd> ended = kt::engine::endLeftSave(mainFile);
    if (!ended) {
        problem("what the Save left cannot be ended: " + ended.error().message);
    } else if (ended->kind == kt::engine::SaveEnd::Kind::Replaced) {
        std::printf("replacing finished, %d records; ", ended->records);
    } else if (ended->kind == kt::engine::SaveEnd::Kind::KeptBeside) {
        std::printf("kept beside: ");
        checkSet(ended->keptIn, expected, false);
        for (const QString& file : kt::engine::backupFileSet(ended->keptIn))
            QFile::remove(file);
    }
    if (QFileInfo::exists(kt::engine::workspaceOf(mainFile)))
        problem("the Save's folder is still there");
    checkSet(mainFile, expected, complete);
    std::printf("%d problems\n", problems);
    return problems ? 1 : 0;
}
