// The one table of the nine data categories, in the order a job visits
// them: check boxes, Language.ini keys, command codes, index
// ranges and digits, caption suffixes and record groups. The engine's
// steps, the window's check boxes and captions, the progress bar and the
// command line's category names all come from it.
#pragma once

#include <QByteArray>
#include <QList>

namespace kt::engine {

// One progress step and one caption, then the records sent under them.
struct RecordGroup {
    const char* suffix;       // caption text after the category's caption
    bool numbered = true;     // the index (or fixedNumber) follows, after one blank
    int fixedNumber = 0;      // shown instead of the index when not 0
    const char* trailer = ""; // text after the number
    QList<const char*> codes; // command codes; the key is code and index digits
};

// Groups repeated for each index from `first` to `last`; a block without
// index (digits 0) runs once.
struct RecordBlock {
    int first = 0;
    int last = 0;
    int digits = 0;
    QList<RecordGroup> groups;
};

// The user cards: read with one code, stored and written with another,
// 24 characters each, indexes 1 to the card count chosen.
struct CardRecords {
    const char* readCode;
    const char* writeCode; // also the code of the record key
    int digits;
    int maxCount;
    const char* suffix; // caption text before the index
};

struct Category {
    const char* checkBox;    // object name of its check box
    const char* languageKey; // caption text; also its name in a backup's manifest
    const char* name;        // its name on the command line
    QList<RecordBlock> blocks;
    const CardRecords* cards = nullptr; // the user cards, with rules of their own

    // Progress increments of a job with this category: one per group and
    // index, or the card count for user cards.
    int progressShare(int cardCount) const;
    // Records of a job with this category: one per code, group and index,
    // or the card count for user cards.
    int recordCount(int cardCount) const;
};

// The categories, in the order a job visits them.
const QList<Category>& categories();

// Every category, as a job that takes them all asks for them.
QList<const Category*> allCategories();

// The position of a category in the table.
int categoryIndex(const Category& category);

// The category of a command-line name or a Language.ini key (any letter
// case), or nullptr.
const Category* findCategory(const QByteArray& name);

} // namespace kt::engine
