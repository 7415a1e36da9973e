// The simulator's --link and --links name each line's link, or refuse.
#include "sim/link_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(LinkPaths, NamesEachLineOrRefusesWhatDisagrees) {
    struct Case {
        QStringList given;
        int count;
        QStringList paths; // empty: refused
    };
    const Case cases[] = {
        {{}, 0, {""}},
        {{}, 2, {"", ""}},
        {{"/t/p"}, 0, {"/t/p"}},
        {{"/t/p"}, 1, {"/t/p"}},
        {{"/t/p"}, 3, {"/t/p1", "/t/p2", "/t/p3"}},
        {{"/t/a", "/t/b"}, 0, {"/t/a", "/t/b"}},
        {{"/t/a", "/t/b"}, 2, {"/t/a", "/t/b"}},
        {{"/t/a", "/t/b"}, 3, {}},
        {{"/t/a"}, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.given.join(',') + ' ' + QString::number(c.count)));
        QString error;
        EXPECT_EQ(kt::sim::linkPaths(c.given, c.count, &error), c.paths);
        EXPECT_EQ(error.isEmpty(), !c.paths.isEmpty());
    }
}

} // namespace
