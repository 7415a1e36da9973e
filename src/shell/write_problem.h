// Why a file cannot be written, read from the file system as it is after a
// write failed, so that a message can name the cause and what to do.
#pragma once

#include <QString>
#include <functional>

namespace kt::shell {

// The Language.ini key of the cause for `path`, whose text takes the
// folder as %1: the folder is missing (or the medium it lives on is not
// mounted), this user may not write in it, the medium is read-only, or the
// disk is full. nullptr when none of these holds.
const char* writeProblemKey(const QString& path);
// The same for an existing `folder`, from what the system says of it and of
// its medium.
const char* mediumProblemKey(const QString& folder);

// That cause as a sentence from `text` (Language.ini texts by key), the
// folder filled in; empty when none of them holds.
QString writeProblem(const QString& path, const std::function<QString(const char*)>& text);

} // namespace kt::shell
