#include "record_changes.h"
#include "shell/text_format.h"

#include <algorithm>

namespace kt::fleet {

namespace {

int countCards(const QMap<QByteArray, QByteArray>& records) {
    int cards = 0;
    for (auto it = records.begin(); it != records.end(); ++it)
        if (const engine::Category* category = engine::categoryOfKey(it.key());
            category && category->cards && !it.value().isEmpty())
            ++cards;
    return cards;
}

// The counts of `after`, with nothing compared yet.
RecordChanges countsOf(const QMap<QByteArray, QByteArray>& after) {
    RecordChanges changes;
    changes.records = int(after.size());
    changes.cards = countCards(after);
    return changes;
}

// The changes of `compared`, in categories and slots, added to `changes`.
RecordChanges changesOf(RecordChanges changes, const engine::ScopedComparison& compared) {
    changes.notReadByNewer = engine::unreadText(compared.notReadByNewer);
    changes.notReadByOlder = engine::unreadText(compared.notReadByOlder);
    for (const engine::RecordDifference& d : compared.differences) {
        const engine::Category* category = engine::categoryOfKey(d.key);
        if (category && !changes.categories.contains(category))
            changes.categories.append(category);
        if (!category || !category->cards)
            continue;
        const int slot = d.key.mid(int(qstrlen(category->cards->writeCode))).toInt();
        switch (d.kind) {
        case engine::RecordDifference::Kind::Added:
            changes.cardsAdded.append(slot);
            break;
        case engine::RecordDifference::Kind::Removed:
            changes.cardsRemoved.append(slot);
            break;
        case engine::RecordDifference::Kind::Changed:
            changes.cardsChanged.append(slot);
            break;
        }
    }
    std::sort(changes.categories.begin(), changes.categories.end(),
              [](const engine::Category* a, const engine::Category* b) {
                  return engine::categoryIndex(*a) < engine::categoryIndex(*b);
              });
    for (QList<int>* list : {&changes.cardsAdded, &changes.cardsRemoved, &changes.cardsChanged})
        std::sort(list->begin(), list->end());
    return changes;
}

} // namespace

RecordChanges changesBetween(const QMap<QByteArray, QByteArray>& before,
                             const QMap<QByteArray, QByteArray>& after, bool first,
                             const engine::ReadScope& beforeRead,
                             const engine::ReadScope& afterRead) {
    RecordChanges changes = countsOf(after);
    changes.first = first;
    if (first)
        return changes;
    return changesOf(changes, engine::compareWithin(before, beforeRead, after, afterRead));
}

// A digest stands for its record: equal digests, equal records; and a record
// without a value has no digest, as compareRecords takes an empty value
// for a missing one. So the differences of the digests are the records'.
RecordChanges changesFromDigests(const QMap<QByteArray, QByteArray>& beforeDigests,
                                 const engine::ReadScope& beforeRead,
                                 const QMap<QByteArray, QByteArray>& afterDigests,
                                 const QMap<QByteArray, QByteArray>& after,
                                 const engine::ReadScope& afterRead) {
    return changesOf(countsOf(after),
                     engine::compareWithin(beforeDigests, beforeRead, afterDigests, afterRead));
}

RecordChanges uncomparedChanges(const QMap<QByteArray, QByteArray>& after) {
    RecordChanges changes = countsOf(after);
    changes.uncompared = true;
    return changes;
}

QString slotList(const QList<int>& list, int shown) {
    QStringList numbers;
    for (qsizetype i = 0; i < list.size() && i < shown; ++i)
        numbers.append(QString::number(list[i]));
    QString text = numbers.join(QStringLiteral(", "));
    if (list.size() > shown)
        text += QStringLiteral(" and %1 more").arg(list.size() - shown);
    return text;
}

QString changeText(const RecordChanges& changes) {
    if (changes.first)
        return shell::fillIn(QStringLiteral("first version, %1 cards, %2 records"),
                             {QString::number(changes.cards), QString::number(changes.records)});
    if (changes.uncompared)
        return QLatin1String(kUncompared) +
               shell::fillIn(QStringLiteral("; now %1 cards, %2 records"),
                             {QString::number(changes.cards), QString::number(changes.records)});
    QStringList names;
    for (const engine::Category* category : changes.categories)
        names.append(QString::fromLatin1(category->languageKey));
    QString text = names.isEmpty() ? QStringLiteral("no change") : names.join(QStringLiteral(", "));
    const std::pair<const char*, const QList<int>*> kinds[] = {
        {"cards added", &changes.cardsAdded},
        {"cards removed", &changes.cardsRemoved},
        {"cards changed", &changes.cardsChanged}};
    for (const auto& [kind, list] : kinds)
        if (!list->isEmpty())
            text += QStringLiteral("; %1 %2").arg(QLatin1String(kind), slotList(*list));
    const std::pair<const char*, const QString*> unread[] = {{"newer", &changes.notReadByNewer},
                                                             {"older", &changes.notReadByOlder}};
    for (const auto& [which, what] : unread)
        if (!what->isEmpty())
            text +=
                QStringLiteral("; not read by the %1 backup: %2").arg(QLatin1String(which), *what);
    return text + shell::fillIn(QStringLiteral("; now %1 cards, %2 records"),
                                {QString::number(changes.cards), QString::number(changes.records)});
}

QString describeChanges(const QString& controller, const RecordChanges& changes) {
    return controller + QStringLiteral(": ") + changeText(changes);
}

namespace {

constexpr char kCountsKey[] = "Kt560ax-Counts: ";

} // namespace

QString countsTrailer(const QString& controller, const RecordChanges& changes) {
    return QLatin1String(kCountsKey) + controller + u' ' + QString::number(changes.cards) + u' ' +
           QString::number(changes.records);
}

std::optional<Counts> countsOfTrailer(const QString& line) {
    if (!line.startsWith(QLatin1String(kCountsKey)))
        return std::nullopt;
    const QStringList words = line.mid(int(qstrlen(kCountsKey))).split(u' ');
    bool cardsOk = false, recordsOk = false;
    Counts counts{words.value(0), words.value(1).toInt(&cardsOk), words.value(2).toInt(&recordsOk)};
    if (words.size() != 3 || counts.section.isEmpty() || !cardsOk || !recordsOk)
        return std::nullopt;
    return counts;
}

} // namespace kt::fleet
