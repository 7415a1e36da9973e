#include "categories.h"

namespace kt::engine {

int Category::progressShare(int cardCount) const {
    if (userCards)
        return cardCount;
    int share = 0;
    for (const RecordBlock& block : blocks)
        share += int(block.groups.size()) * (block.digits ? block.last - block.first + 1 : 1);
    return share;
}

int Category::recordCount(int cardCount) const {
    if (userCards)
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
        {2,
         3,
         "chkMasterCard",
         "MasterCard",
         false,
         {{1, 3, 1, {{"- Master: ", true, 0, "", {"BA"}}}},
          {1, 3, 1, {{"- Engineer: ", true, 0, "", {"BB"}}}},
          {1, 8, 1, {{"- Operator: ", true, 0, "", {"BC"}}}}}},
        {3,
         4,
         "chkSystemDatabase",
         "SystemDatabase",
         false,
         {{0, 0, 0, {{"- Module", false, 0, "", {"DC"}}}},
          {0, 0, 0, {{"- APB Level", false, 0, "", {"DI"}}}}}},
        {4,
         5,
         "chkApplicationSet",
         "ApplicationSet",
         false,
         {{1, 16, 2, {{"- AppSet: ", true, 0, "", {"EA", "EB", "EC"}}}},
          {0, 0, 0, {{"- Security PIN", false, 0, "", {"ED"}}}}}},
        {5,
         6,
         "chkTimeZoneTable",
         "TimeZoneTable",
         false,
         {{1, 30, 2, {{"- Timer: ", true, 0, "", {"FA"}}}},
          {1, 60, 2, {{"- TimeZone: ", true, 0, "", {"FD"}}}}}},
        {6,
         7,
         "chkHolidayTable",
         "HolidayTable",
         false,
         {{1, 12, 2, {{"- HolidayTable: ", true, 0, "", {"GA"}}}}}},
        {7, 8, "chkUserCard", "UserCardDatabase", true, {}},
        {8,
         9,
         "chkFlowControl",
         "FlowControl",
         false,
         {{1, 250, 3, {{"- Flow No: ", true, 0, "", {"MD"}}}}}},
        {9,
         10,
         "chkDoSet",
         "DoSetTimeZone",
         false,
         {{1,
           16,
           2,
           {{"- DO Set No: ", true, 0, " (Holiday)", {"NA"}},
            {"- DO Set No: ", true, 0, " (Week)", {"NB"}}}},
          {0, 0, 0, {{"- DO Set No: ", true, 17, " (Type)", {"ND"}}}}}},
        {10,
         998,
         "chkDiSet",
         "DiSetTimeZone",
         false,
         {{1,
           4,
           2,
           {{"- DI Set No: ", true, 0, " (Holiday)", {"OA"}},
            {"- DI Set No: ", true, 0, " (Week)", {"OB"}}}},
          {0, 0, 0, {{"- DI Set No: ", true, 5, " (Module)", {"OD"}}}}}},
    };
    return table;
}

const Category* categoryOfStep(int step) {
    for (const Category& category : categories())
        if (category.step == step)
            return &category;
    return nullptr;
}

} // namespace kt::engine
