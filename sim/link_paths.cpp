#include "link_paths.h"

namespace kt::sim {

QStringList linkPaths(const QStringList& given, int count, QString* error) {
    if (count < 0) {
        *error = QStringLiteral("--links must be 1 or more");
        return {};
    }
    if (count == 0)
        count = std::max<int>(1, int(given.size()));
    if (given.size() > 1 && given.size() != count) {
        *error = QStringLiteral("%1 --link paths for %2 lines").arg(given.size()).arg(count);
        return {};
    }
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        if (given.size() > 1)
            paths.append(given[i]);
        else if (given.isEmpty())
            paths.append(QString());
        else
            paths.append(count == 1 ? given[0] : given[0] + QString::number(i + 1));
    }
    return paths;
}

} // namespace kt::sim
