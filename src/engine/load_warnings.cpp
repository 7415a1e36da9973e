#include "load_warnings.h"

#include <algorithm>

namespace kt::engine {

QList<LoadWarning> loadWarnings(const Manifest& manifest, int heldCards,
                                const JobRequest& request) {
    using Kind = LoadWarning::Kind;
    QList<LoadWarning> warnings;
    if (manifest.complete == false)
        warnings.append({.kind = Kind::Incomplete});
    const bool cards = std::any_of(request.categories.cbegin(), request.categories.cend(),
                                   [](const Category* category) { return category->cards; });
    // The slots a restore covers: what the manifest names, or what the
    // files hold when a later Save of another program left more.
    const int fileCards = std::max(manifest.cards.value_or(0), heldCards);
    if (cards && fileCards > 0 && request.cardCount != fileCards)
        warnings.append(
            {.kind = Kind::CardNumbers, .first = fileCards, .second = request.cardCount});
    if (!manifest.categories.isEmpty()) {
        QList<const Category*> saved;
        for (const QByteArray& key : manifest.categories)
            saved.append(findCategory(key));
        for (const Category* category : request.categories)
            if (!saved.contains(category))
                warnings.append({.kind = Kind::CategoryNotSaved, .category = category});
    }
    if (cards && manifest.cards && *manifest.cards < heldCards)
        warnings.append({.kind = Kind::CardsHeader, .first = *manifest.cards, .second = heldCards});
    return warnings;
}

} // namespace kt::engine
