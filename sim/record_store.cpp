#include "record_store.h"

#include "command_table.h"
#include "shell/ini_file.h"

#include <QFileInfo>
#include <QSaveFile>

namespace kt::sim {

namespace {

// A small deterministic generator, so that every run seeds the same data.
class Generator {
  public:
    explicit Generator(quint32 seed) : state_(seed ? seed : 0x9E3779B9u) {}
    quint32 next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    QByteArray digits(int count) {
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += char('0' + next() % 10);
        return text;
    }
    QByteArray hex(int count) {
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += "0123456789ABCDEF"[next() % 16];
        return text;
    }

  private:
    quint32 state_;
};

// Record layouts that look like a controller's: card numbers and PINs,
// hour ranges, holiday masks, hex configuration blocks.
QByteArray sampleValue(const QByteArray& key, Generator& g) {
    const QByteArray code = key.left(2);
    if (code == "BA" || code == "BB" || code == "BC")
        return g.digits(10) + g.digits(4);
    if (code == "DC")
        return g.hex(32);
    if (code == "DI")
        return g.hex(2) + g.hex(2) + g.hex(4);
    if (code == "EA" && key == "EA01")
        return "\xA4\x6A\xAA\xF9 " + g.hex(14); // a door name in Big5, then settings
    if (code == "EA" || code == "EB" || code == "EC")
        return g.hex(20);
    if (code == "ED")
        return g.digits(6);
    if (code == "FA")
        return QByteArray::number(600 + g.next() % 300).rightJustified(4, '0') +
               QByteArray::number(1600 + g.next() % 700).rightJustified(4, '0');
    if (code == "FD")
        return g.hex(14);
    if (code == "GA") {
        QByteArray mask;
        for (int day = 0; day < 31; ++day)
            mask += (g.next() % 9 == 0) ? '1' : '0';
        return mask;
    }
    if (code == "HA")
        return g.digits(10) + g.digits(4) + g.hex(2) + g.hex(8);
    if (code == "MD")
        return g.hex(16);
    if (code == "NA" || code == "OA")
        return g.hex(8);
    if (code == "NB" || code == "OB")
        return g.hex(28);
    return g.hex(4); // ND, OD
}

} // namespace

void RecordStore::seed(int cards, unsigned seed) {
    records_.clear();
    Generator g(seed);
    for (const QByteArray& key : allRecordKeys(cards))
        records_.insert(key, sampleValue(key, g));
}

void RecordStore::setValue(const QByteArray& key, const QByteArray& value) {
    if (value.isEmpty())
        records_.remove(key);
    else
        records_.insert(key, value);
}

QString cardFile(const QString& mainFile, int index) {
    if (index < 2000)
        return mainFile;
    const QFileInfo info(mainFile);
    const QString tag = QString::number(index / 2000 * 2);
    const QString dir = mainFile.contains(u'/') || mainFile.contains(u'\\')
                            ? mainFile.left(mainFile.size() - info.fileName().size())
                            : QString();
    return dir + tag + info.fileName();
}

bool RecordStore::loadBackup(const QString& mainFile, QString* error) {
    if (!QFileInfo::exists(mainFile)) {
        *error = QStringLiteral("%1 does not exist").arg(mainFile);
        return false;
    }
    if (shell::ReadIni(mainFile, "HEAD", "Title").trimmed() != "KT560AX") {
        *error = QStringLiteral("%1 is not a KT560AX backup file").arg(mainFile);
        return false;
    }
    records_.clear();
    for (const QByteArray& key : allRecordKeys()) {
        const int index = key.startsWith("HA") ? key.mid(2).toInt() : 0;
        setValue(key, shell::ReadIni(cardFile(mainFile, index), "Data", key).trimmed());
    }
    return true;
}

bool RecordStore::saveBackup(const QString& mainFile, QString* error) const {
    QMap<QString, QByteArray> files;
    files[mainFile] = "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\n";
    for (const QByteArray& key : allRecordKeys()) {
        if (!records_.contains(key))
            continue;
        const int index = key.startsWith("HA") ? key.mid(2).toInt() : 0;
        QByteArray& text = files[cardFile(mainFile, index)];
        if (text.isEmpty())
            text = "[Data]\r\n";
        text += key + '=' + records_.value(key) + "\r\n";
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QSaveFile out(it.key());
        if (!out.open(QIODevice::WriteOnly) || out.write(it.value()) != it.value().size() ||
            !out.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(it.key(), out.errorString());
            return false;
        }
    }
    return true;
}

} // namespace kt::sim
