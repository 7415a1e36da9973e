#include "load_warnings.h"

#include "shell/text_format.h"

#include <algorithm>

namespace kt::engine {

int backupCards(const Manifest& manifest, const QList<int>& heldSlots) {
    if (manifest.complete == true && manifest.cards)
        return *manifest.cards;
    return heldSlots.isEmpty() ? 0 : heldSlots.last();
}

QList<LoadWarning> loadWarnings(const Manifest& manifest, const QList<int>& heldSlots,
                                const JobRequest& request) {
    using Kind = LoadWarning::Kind;
    QList<LoadWarning> warnings;
    if (manifest.complete == false)
        warnings.append({.kind = Kind::Incomplete});
    const bool cards = std::any_of(request.categories.cbegin(), request.categories.cend(),
                                   [](const Category* category) { return category->cards; });
    const int covered = backupCards(manifest, heldSlots);
    if (cards && covered > 0 && request.cardCount != covered)
        warnings.append({.kind = Kind::CardNumbers, .first = covered, .second = request.cardCount});
    if (!manifest.categories.isEmpty()) {
        QList<const Category*> saved;
        for (const QByteArray& key : manifest.categories)
            saved.append(findCategory(key));
        for (const Category* category : request.categories)
            if (!saved.contains(category))
                warnings.append({.kind = Kind::CategoryNotSaved, .category = category});
    }
    // Cards of an older backup that this restore leaves out.
    QList<int> stale;
    for (int slot : heldSlots)
        if (slot > std::max(covered, request.cardCount))
            stale.append(slot);
    if (cards && !stale.isEmpty())
        warnings.append({.kind = Kind::StaleCards, .stale = stale});
    return warnings;
}

QString slotList(const QList<int>& numbers) {
    QStringList parts;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype end = i;
        while (end + 1 < numbers.size() && numbers[end + 1] == numbers[end] + 1)
            ++end;
        if (end - i >= 2) {
            parts.append(shell::fillIn(QStringLiteral("%1-%2"), {QString::number(numbers[i]),
                                                                 QString::number(numbers[end])}));
        } else {
            for (qsizetype j = i; j <= end; ++j)
                parts.append(QString::number(numbers[j]));
        }
        i = end + 1;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace kt::engine
