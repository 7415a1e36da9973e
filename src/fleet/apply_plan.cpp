#include "apply_plan.h"

#include "engine/backup_file.h"
#include "shell/ini_file.h"

#include <algorithm>

namespace kt::fleet {

namespace {

int cardSlotOf(const QByteArray& key) {
    const engine::Category* category = engine::categoryOfKey(key);
    return category && category->cards ? key.mid(2).toInt() : 0;
}

QList<int> slotsOf(const QList<engine::RecordDifference>& records) {
    QList<int> held;
    for (const engine::RecordDifference& d : records)
        if (const int slot = cardSlotOf(d.key))
            held.append(slot);
    std::sort(held.begin(), held.end());
    return held;
}

// The records within the categories and card held chosen.
QMap<QByteArray, QByteArray> within(const QMap<QByteArray, QByteArray>& records,
                                    const QList<const engine::Category*>& categories, int cards) {
    QMap<QByteArray, QByteArray> kept;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const engine::Category* category = engine::categoryOfKey(it.key());
        if (!category || !categories.contains(category))
            continue;
        if (category->cards && cardSlotOf(it.key()) > cards)
            continue;
        kept.insert(it.key(), it.value());
    }
    return kept;
}

} // namespace

QList<int> ApplyPlan::writtenCards() const {
    return slotsOf(writes);
}

QList<int> ApplyPlan::leftCards() const {
    return slotsOf(left);
}

QList<int> ApplyPlan::cardsIntoEmpty() const {
    QList<engine::RecordDifference> added;
    std::copy_if(writes.cbegin(), writes.cend(), std::back_inserter(added),
                 [](const engine::RecordDifference& d) {
                     return d.kind == engine::RecordDifference::Kind::Added;
                 });
    return slotsOf(added);
}

QList<const engine::Category*> ApplyPlan::writtenCategories() const {
    QList<const engine::Category*> chosen;
    for (const engine::Category& category : engine::categories())
        if (std::any_of(writes.cbegin(), writes.cend(), [&](const engine::RecordDifference& d) {
                return engine::categoryOfKey(d.key) == &category;
            }))
            chosen.append(&category);
    return chosen;
}

int ApplyPlan::highestWrittenCard() const {
    const QList<int> held = writtenCards();
    return held.isEmpty() ? 0 : held.last();
}

ApplyPlan planApply(const QMap<QByteArray, QByteArray>& controller,
                    const QMap<QByteArray, QByteArray>& list,
                    const QList<const engine::Category*>& categories, int cards) {
    ApplyPlan plan;
    for (const engine::RecordDifference& d : engine::compareRecords(
             within(controller, categories, cards), within(list, categories, cards)))
        (d.kind == engine::RecordDifference::Kind::Removed ? plan.left : plan.writes).append(d);
    return plan;
}

QList<const engine::Category*> listCategories(const engine::Manifest& manifest,
                                              const QMap<QByteArray, QByteArray>& records) {
    QList<const engine::Category*> held;
    for (const engine::Category& category : engine::categories()) {
        const bool named = manifest.categories.contains(QByteArray(category.languageKey));
        const bool holds =
            std::any_of(records.keyBegin(), records.keyEnd(), [&](const QByteArray& key) {
                return engine::categoryOfKey(key) == &category;
            });
        if (manifest.categories.isEmpty() ? holds : named)
            held.append(&category);
    }
    return held;
}

QMap<QByteArray, QByteArray> writtenValues(const ApplyPlan& plan) {
    QMap<QByteArray, QByteArray> values;
    for (const engine::RecordDifference& d : plan.writes)
        values.insert(d.key, d.after);
    return values;
}

shell::Status writeRecordSet(const QString& mainFile, const QMap<QByteArray, QByteArray>& records,
                             const QByteArray& controller,
                             const QList<const engine::Category*>& categories, int cards) {
    QList<QByteArray> keys;
    for (const engine::Category* category : categories)
        keys.append(category->languageKey);
    if (const shell::Status started = engine::writeSaveStart(
            mainFile, controller, keys, cards > 0 ? std::optional<int>(cards) : std::nullopt);
        !started)
        return started;
    // One write per file of the set.
    std::map<QString, QList<shell::IniValue>> byFile;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const int slot = cardSlotOf(it.key());
        byFile[slot ? engine::cardFile(mainFile, slot) : mainFile].append(
            {engine::kDataSection, it.key(),
             slot ? engine::storedCardValue(it.value()) : it.value()});
    }
    for (const auto& [file, values] : byFile) {
        if (file != mainFile)
            if (const shell::Status made = engine::createPrivateFile(file); !made)
                return made;
        if (const shell::Status written = shell::WriteIniValues(file, values); !written)
            return written;
    }
    return engine::writeSaveEnd(mainFile, int(records.size()));
}

} // namespace kt::fleet
