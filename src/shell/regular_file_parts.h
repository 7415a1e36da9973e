// What both forms of regular_file share: the messages of a file's problem,
// and reading through Qt (Qt's resources, such as the shipped texts).
#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>

namespace kt::shell::parts {

// The error of `code` for `path`; a file larger than `maxBytes` is told
// that limit.
Error problem(ErrorCode code, const QString& path, qint64 maxBytes);
Result<qint64> checkThroughQt(const QString& path, qint64 maxBytes);
Result<QByteArray> readThroughQt(const QString& path, qint64 maxBytes);
bool isResource(const QString& path);

} // namespace kt::shell::parts
