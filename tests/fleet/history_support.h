// Backups for the history's tests.
#pragma once

#include "engine/backup_file.h"
#include "shell/ini_file.h"

#include <QMap>
#include <gtest/gtest.h>

namespace kt::test {

using Records = QMap<QByteArray, QByteArray>;

inline QByteArray card(int slot) {
    return "HA" + QByteArray::number(slot).rightJustified(4, '0');
}

// A finished backup of `records`, each card in the file of its block.
inline QString writeBackup(const QString& file, const Records& records) {
    EXPECT_TRUE(kt::shell::WriteIni(file, "HEAD", "Title", "KT560AX"));
    EXPECT_TRUE(kt::shell::WriteIni(file, "HEAD", "Complete", "1"));
    for (auto it = records.begin(); it != records.end(); ++it)
        EXPECT_TRUE(kt::shell::WriteIni(
            it.key().startsWith("HA") ? kt::engine::cardFile(file, it.key().mid(2).toInt()) : file,
            "Data", it.key(), it.value()));
    return file;
}

} // namespace kt::test
