// Times WriteIni on a backup file of realistic size: a file that already
// holds 2000 card records gets 2000 writes, each to a different key, first
// replacing the existing keys, then adding new ones. Prints the median and
// the 90th percentile time per write; target: a median under 1 ms in both.
#include "shell/ini_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kKeys = 2000;

QByteArray cardKey(int index) {
    return "HA" + QByteArray::number(index).rightJustified(4, '0');
}
QByteArray cardValue(int index, char fill) {
    return QByteArray::number(index).rightJustified(8, '0') + QByteArray(16, fill);
}

void report(const char* what, std::vector<double>& microseconds) {
    std::sort(microseconds.begin(), microseconds.end());
    std::printf("%-34s median %.3f ms, p90 %.3f ms per write (%zu writes)\n", what,
                microseconds[microseconds.size() / 2] / 1000,
                microseconds[microseconds.size() * 9 / 10] / 1000, microseconds.size());
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString path = dir.filePath("01.KT");
    QByteArray initial = "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\n";
    for (int i = 1; i <= kKeys; ++i)
        initial += cardKey(i) + "=" + cardValue(i, 'A') + "\r\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(initial) != initial.size())
        return 1;
    file.close();

    QElapsedTimer timer;
    std::vector<double> replace, add;
    for (int i = 1; i <= kKeys; ++i) {
        timer.start();
        if (!kt::shell::WriteIni(path, "Data", cardKey(i), cardValue(i, 'B')))
            return 1;
        replace.push_back(timer.nsecsElapsed() / 1000.0);
    }
    for (int i = kKeys + 1; i <= 2 * kKeys; ++i) {
        timer.start();
        if (!kt::shell::WriteIni(path, "Data", cardKey(i), cardValue(i, 'C')))
            return 1;
        add.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::printf("file of %d keys, %lld bytes at the start\n", kKeys, qlonglong(initial.size()));
    report("replacing 2000 existing keys:", replace);
    report("adding 2000 new keys:", add);
    return 0;
}
