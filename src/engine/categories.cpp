#include "categories.h"

#include "backup_file.h"

namespace kt::engine {

namespace {

const CardRecords kUserCards = {.readCode = "HB",
                                .writeCode = "HA",
                                .digits = 4,
                                .maxCount = kMaxCards,
                                .suffix = "- Card No: "};

// Blocks of indexed records and of single records.
RecordBlock indexed(int first, int last, int digits, QList<RecordGroup> groups) {
    return {.first = first, .last = last, .digits = digits, .groups = std::move(groups)};
}
RecordBlock single(RecordGroup group) {
    return {.groups = {std::move(group)}};
}

} // namespace

int Category::progressShare(int cardCount) const {
    if (cards)
        return cardCount;
    int share = 0;
    for (const RecordBlock& block : blocks)
        share += int(block.groups.size()) * (block.digits ? block.last - block.first + 1 : 1);
    return share;
}

int Category::recordCount(int cardCount) const {
    if (cards)
        return cardCount;
    int records = 0;
    for (const RecordBlock& block : blocks) {
        const int indexes = block.digits ? block.last - block.first + 1 : 1;
        for (const RecordGroup& group : block.groups)
            records += int(group.codes.size()) * indexes;
    }
    return records;
}

const QList<Category>& categories() {
    static const QList<Category> table = {
        {.checkBox = "chkMasterCard",
         .languageKey = "MasterCard",
         .name = "master",
         .blocks = {indexed(1, 3, 1, {{.suffix = "- Master: ", .codes = {"BA"}}}),
                    indexed(1, 3, 1, {{.suffix = "- Engineer: ", .codes = {"BB"}}}),
                    indexed(1, 8, 1, {{.suffix = "- Operator: ", .codes = {"BC"}}})}},
        {.checkBox = "chkSystemDatabase",
         .languageKey = "SystemDatabase",
         .name = "system",
         .blocks = {single({.suffix = "- Module", .numbered = false, .codes = {"DC"}}),
                    single({.suffix = "- APB Level", .numbered = false, .codes = {"DI"}})}},
        {.checkBox = "chkApplicationSet",
         .languageKey = "ApplicationSet",
         .name = "appset",
         .blocks = {indexed(1, 16, 2, {{.suffix = "- AppSet: ", .codes = {"EA", "EB", "EC"}}}),
                    single({.suffix = "- Security PIN", .numbered = false, .codes = {"ED"}})}},
        {.checkBox = "chkTimeZoneTable",
         .languageKey = "TimeZoneTable",
         .name = "timezone",
         .blocks = {indexed(1, 30, 2, {{.suffix = "- Timer: ", .codes = {"FA"}}}),
                    indexed(1, 60, 2, {{.suffix = "- TimeZone: ", .codes = {"FD"}}})}},
        {.checkBox = "chkHolidayTable",
         .languageKey = "HolidayTable",
         .name = "holiday",
         .blocks = {indexed(1, 12, 2, {{.suffix = "- HolidayTable: ", .codes = {"GA"}}})}},
        {.checkBox = "chkUserCard",
         .languageKey = "UserCardDatabase",
         .name = "cards",
         .blocks = {},
         .cards = &kUserCards},
        {.checkBox = "chkFlowControl",
         .languageKey = "FlowControl",
         .name = "flow",
         .blocks = {indexed(1, 250, 3, {{.suffix = "- Flow No: ", .codes = {"MD"}}})}},
        {.checkBox = "chkDoSet",
         .languageKey = "DoSetTimeZone",
         .name = "doset",
         .blocks = {indexed(1, 16, 2,
                            {{.suffix = "- DO Set No: ", .trailer = " (Holiday)", .codes = {"NA"}},
                             {.suffix = "- DO Set No: ", .trailer = " (Week)", .codes = {"NB"}}}),
                    single({.suffix = "- DO Set No: ",
                            .fixedNumber = 17,
                            .trailer = " (Type)",
                            .codes = {"ND"}})}},
        {.checkBox = "chkDiSet",
         .languageKey = "DiSetTimeZone",
         .name = "diset",
         .blocks = {indexed(1, 4, 2,
                            {{.suffix = "- DI Set No: ", .trailer = " (Holiday)", .codes = {"OA"}},
                             {.suffix = "- DI Set No: ", .trailer = " (Week)", .codes = {"OB"}}}),
                    single({.suffix = "- DI Set No: ",
                            .fixedNumber = 5,
                            .trailer = " (Module)",
                            .codes = {"OD"}})}},
    };
    return table;
}

QList<const Category*> allCategories() {
    QList<const Category*> all;
    for (const Category& category : categories())
        all.append(&category);
    return all;
}

int categoryIndex(const Category& category) {
    return int(&category - categories().constData());
}

const Category* findCategory(const QByteArray& name) {
    const QByteArray wanted = name.trimmed().toLower();
    for (const Category& category : categories())
        if (wanted == QByteArray(category.name) ||
            wanted == QByteArray(category.languageKey).toLower())
            return &category;
    return nullptr;
}

} // namespace kt::engine
