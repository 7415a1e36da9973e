// Where the links of a simulator that serves many lines go: the paths
// given, or one path numbered for each line.
#pragma once

#include <QString>
#include <QStringList>

namespace kt::sim {

// The link path of each of `count` lines (0: as many as `given`, at least
// one) from the --link values: none gives empty paths (no link), one with
// several lines is numbered (PATH1, PATH2...), several name one line each.
// Empty with a description when the two disagree.
QStringList linkPaths(const QStringList& given, int count, QString* error);

} // namespace kt::sim
