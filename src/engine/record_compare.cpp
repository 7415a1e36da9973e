#include "record_compare.h"

#include "backup_file.h"
#include "link/trace.h"
#include "load_warnings.h"
#include "shell/ini_file.h"
#include "shell/text_format.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <array>

namespace kt::engine {

namespace {

// A code's letter or digit as 0..35, case aside; -1 for any other byte.
int codeDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    return -1;
}

} // namespace

const Category* categoryOfKey(const QByteArray& key) {
    // Every record of a backup is looked up, often several times: the
    // category of each two-character code is found once, the first in the
    // table's order that uses it.
    using Table = std::array<const Category*, 36 * 36>;
    static const Table byCode = [] {
        Table table{};
        const auto note = [&table](const char* code, const Category& category) {
            const Category*& entry = table[codeDigit(code[0]) * 36 + codeDigit(code[1])];
            if (!entry)
                entry = &category;
        };
        for (const Category& category : categories()) {
            if (category.cards)
                note(category.cards->writeCode, category);
            for (const RecordBlock& block : category.blocks)
                for (const RecordGroup& group : block.groups)
                    for (const char* code : group.codes)
                        note(code, category);
        }
        return table;
    }();
    if (key.size() < 2)
        return nullptr;
    const int first = codeDigit(key[0]), second = codeDigit(key[1]);
    return first < 0 || second < 0 ? nullptr : byCode[first * 36 + second];
}

QList<int> cardSlots(const QMap<QByteArray, QByteArray>& records) {
    QList<int> held;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const Category* category = categoryOfKey(it.key());
        if (category && category->cards)
            held.append(it.key().mid(2).toInt());
    }
    std::sort(held.begin(), held.end());
    return held;
}

int backupCardCount(const QString& mainFile) {
    return backupCards(readManifest(mainFile), cardSlots(readBackupRecords(mainFile)));
}

QMap<QByteArray, QByteArray> readBackupRecords(const QString& mainFile) {
    return backupRecordsOf(readSetRecords(mainFile), mainFile);
}

QMap<QByteArray, QByteArray> backupRecordsOf(const SetRecords& set, const QString& mainFile) {
    QMap<QByteArray, QByteArray> records;
    for (const QString& file : backupFileSet(mainFile)) {
        const auto found = set.find(file);
        if (found == set.end())
            continue;
        for (auto it = found->second.begin(); it != found->second.end(); ++it) {
            const QByteArray& key = it.key();
            if (records.contains(key))
                continue;
            const Category* category = categoryOfKey(key);
            if (category && category->cards) {
                const QByteArray card = cardRecordOfStoredValue(it.value());
                if (card.size() == kCardRecordLength)
                    records.insert(key, card);
            } else {
                records.insert(key, shell::trimBlanks(it.value()));
            }
        }
    }
    return records;
}

namespace {

// Categories in their table's order, keys without a category last.
int orderOf(const QByteArray& key) {
    const Category* category = categoryOfKey(key);
    return category ? categoryIndex(*category) : int(categories().size());
}

} // namespace

QList<RecordDifference> compareRecords(const QMap<QByteArray, QByteArray>& before,
                                       const QMap<QByteArray, QByteArray>& after) {
    QSet<QByteArray> keys;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        keys.insert(it.key());
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        keys.insert(it.key());
    QList<QByteArray> ordered(keys.cbegin(), keys.cend());
    std::sort(ordered.begin(), ordered.end(), [](const QByteArray& a, const QByteArray& b) {
        return std::pair(orderOf(a), a) < std::pair(orderOf(b), b);
    });
    QList<RecordDifference> differences;
    for (const QByteArray& key : std::as_const(ordered)) {
        const QByteArray old = before.value(key);
        const QByteArray now = after.value(key);
        if (old == now)
            continue;
        RecordDifference difference;
        difference.key = key;
        difference.before = old;
        difference.after = now;
        difference.kind = old.isEmpty()   ? RecordDifference::Kind::Added
                          : now.isEmpty() ? RecordDifference::Kind::Removed
                                          : RecordDifference::Kind::Changed;
        differences.append(difference);
    }
    return differences;
}

bool ReadScope::covers(const QByteArray& key) const {
    const Category* category = categoryOfKey(key);
    if (!category)
        return true;
    if (!categories.isEmpty() && !categories.contains(QByteArray(category->languageKey)))
        return false;
    return !category->cards || !cards || key.mid(2).toInt() <= *cards;
}

ReadScope readScopeOf(const Manifest& manifest) {
    ReadScope scope{manifest.categories, std::nullopt};
    // A manifest names the card count only when its Save read cards.
    if (manifest.cards)
        scope.cards = *manifest.cards;
    return scope;
}

ScopedComparison compareWithin(const QMap<QByteArray, QByteArray>& older,
                               const ReadScope& olderRead,
                               const QMap<QByteArray, QByteArray>& newer,
                               const ReadScope& newerRead) {
    ScopedComparison result;
    for (const RecordDifference& d : compareRecords(older, newer)) {
        if (!newerRead.covers(d.key))
            result.notReadByNewer.append(d);
        else if (!olderRead.covers(d.key))
            result.notReadByOlder.append(d);
        else
            result.differences.append(d);
    }
    return result;
}

QString unreadText(const QList<RecordDifference>& unread) {
    QStringList parts;
    QList<int> held;
    QStringList others;
    for (const RecordDifference& d : unread) {
        const Category* category = categoryOfKey(d.key);
        if (category && category->cards)
            held.append(d.key.mid(2).toInt());
        else {
            const QString name =
                category ? QString::fromLatin1(category->languageKey) : QStringLiteral("Other");
            if (!others.contains(name))
                others.append(name);
        }
    }
    std::sort(held.begin(), held.end());
    QStringList ranges;
    for (qsizetype i = 0; i < held.size();) {
        qsizetype j = i;
        while (j + 1 < held.size() && held[j + 1] == held[j] + 1)
            ++j;
        ranges.append(i == j ? QString::number(held[i])
                             : QStringLiteral("%1-%2").arg(held[i]).arg(held[j]));
        i = j + 1;
    }
    constexpr qsizetype kShown = 20;
    if (ranges.size() > kShown) {
        const qsizetype more = ranges.size() - kShown;
        ranges.resize(kShown);
        ranges.append(QStringLiteral("and %1 more").arg(more));
    }
    if (!ranges.isEmpty())
        parts.append((held.size() == 1 ? QStringLiteral("card ") : QStringLiteral("cards ")) +
                     ranges.join(QStringLiteral(", ")));
    parts += others;
    return parts.join(QStringLiteral("; "));
}

QString describeDifferences(const QList<RecordDifference>& differences, const QString& beforeName,
                            const QString& afterName, const CategoryNames& names) {
    static const char* kinds[] = {"added", "removed", "changed"};
    QString text;
    const Category* current = nullptr;
    bool first = true;
    for (qsizetype i = 0; i < differences.size(); ++i) {
        const RecordDifference& d = differences[i];
        const Category* category = categoryOfKey(d.key);
        if (first || category != current) {
            current = category;
            first = false;
            const auto count = std::count_if(differences.cbegin() + i, differences.cend(),
                                             [&](const RecordDifference& other) {
                                                 return categoryOfKey(other.key) == category;
                                             });
            text += shell::fillIn(
                QStringLiteral("%1: %2 %3\n"),
                {!category ? QStringLiteral("Other")
                 : names   ? names(*category)
                           : QString::fromLatin1(category->languageKey),
                 QString::number(count),
                 count == 1 ? QStringLiteral("difference") : QStringLiteral("differences")});
        }
        QString where = QString::fromLatin1(d.key);
        if (category && category->cards)
            where += QStringLiteral(" (card %1)").arg(d.key.mid(2).toInt());
        text += shell::fillIn(
            QStringLiteral("  %1 %2: %3 \"%4\", %5 \"%6\"\n"),
            {link::displayBytes(where.toLatin1()), QLatin1String(kinds[int(d.kind)]), beforeName,
             link::displayBytes(d.before), afterName, link::displayBytes(d.after)});
    }
    return text;
}

shell::Status writeVerifyReport(const QString& reportFile, const VerifyReport& report) {
    const QString text =
        shell::fillIn(QStringLiteral("Verify of %1 against controller %2 on %3, %4\n%5 records "
                                     "differ, %6 match\n\n"),
                      {report.file, QString::fromLatin1(report.controller), report.port,
                       QString::fromLatin1(report.started),
                       QString::number(report.differences.size()),
                       QString::number(report.compared - report.differences.size())}) +
        describeDifferences(report.differences, QStringLiteral("file"),
                            QStringLiteral("controller"), report.names);
    const QByteArray bytes = text.toUtf8();
    if (!QFileInfo::exists(reportFile))
        return createPrivateFile(reportFile, bytes);
    QSaveFile out(reportFile);
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
        return shell::done();
    out.cancelWriting();
    return shell::Error{shell::ErrorCode::Unwritable,
                        reportFile + QStringLiteral(": ") + out.errorString(), reportFile};
}

} // namespace kt::engine
