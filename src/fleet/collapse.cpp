#include "collapse.h"

#include "engine/categories.h"

namespace kt::fleet {

namespace {

const engine::Category* cardCategory() {
    for (const engine::Category& category : engine::categories())
        if (category.cards)
            return &category;
    return nullptr;
}

} // namespace

int HeldCounts::count(const QByteArray& category) const {
    const auto found = byCategory.find(category);
    return found == byCategory.end() ? 0 : found->second;
}

int HeldCounts::cards() const {
    const engine::Category* category = cardCategory();
    return category ? count(category->languageKey) : 0;
}

bool HeldCounts::reads(const QByteArray& category) const {
    return read.isEmpty() || read.contains(category);
}

HeldCounts heldCounts(const QMap<QByteArray, QByteArray>& records, const engine::ReadScope& scope) {
    HeldCounts held;
    held.read = scope.categories;
    for (auto it = records.begin(); it != records.end(); ++it)
        if (const engine::Category* category = engine::categoryOfKey(it.key());
            category && !it.value().isEmpty())
            ++held.byCategory[category->languageKey];
    return held;
}

Collapse collapseOf(const GoodBackup* good, const HeldCounts& now, int maxLoss) {
    Collapse collapse;
    if (!good)
        return collapse;
    const engine::Category* cards = cardCategory();
    if (cards && now.reads(cards->languageKey)) {
        const qint64 before = good->held.cards();
        const qint64 lost = before - now.cards();
        collapse.cardsFell = lost > 0 && lost * 100 > qint64(maxLoss) * before;
    }
    for (const engine::Category& category : engine::categories()) {
        const QByteArray key = category.languageKey;
        if (good->held.count(key) > 0 && now.reads(key) && now.count(key) == 0)
            collapse.emptied.append(QString::fromLatin1(key));
    }
    return collapse;
}

} // namespace kt::fleet
