// A stand-in program for kt560ax that a test writes: a shell script that
// only its owner may read and run.
#pragma once

#include <QFile>
#include <QString>

namespace kt::test {

// Writes `text` as the program `path`; false when it cannot be written.
inline bool writeProgram(const QString& path, const char* text) {
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly) || script.write(text) < 0)
        return false;
    script.close();
    return script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
}

} // namespace kt::test
