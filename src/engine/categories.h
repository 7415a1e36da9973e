// The nine data categories of a transfer job and their records, in the
// order a job visits them: command codes, index ranges and digits, caption
// suffixes and record groups. The user cards have rules of their own
// (read with HB, written with HA, 24 characters, card files).
#pragma once

#include <QList>

namespace kt::engine {

// One progress step and one caption, then the records sent under them.
struct RecordGroup {
    const char* suffix;       // caption text after the category's caption
    bool numbered;            // the index (or fixedNumber) follows, after one blank
    int fixedNumber;          // shown instead of the index when not 0
    const char* trailer;      // text after the number
    QList<const char*> codes; // command codes; the key is code and index digits
};

// Groups repeated for each index from `first` to `last`; a block without
// index (digits 0) runs once.
struct RecordBlock {
    int first;
    int last;
    int digits;
    QList<RecordGroup> groups;
};

struct Category {
    int step; // job step that transfers the category
    int nextStep;
    const char* checkBox; // object name of its check box
    const char* languageKey;
    bool userCards; // the user card step, with its own rules
    QList<RecordBlock> blocks;

    // Progress increments of a job with this category: one per group and
    // index, or the card count for user cards.
    int progressShare(int cardCount) const;
    // Records of a job with this category: one per code, group and index,
    // or the card count for user cards.
    int recordCount(int cardCount) const;
};

// The categories, steps 2 to 10.
const QList<Category>& categories();

// The category of a job step, or nullptr.
const Category* categoryOfStep(int step);

} // namespace kt::engine
