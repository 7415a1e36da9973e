// The records a virtual controller holds: one value per record key of the
// nine categories. User card slots without a card hold nothing.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace kt::sim {

class RecordStore {
  public:
    // Fills every record with deterministic sample data, and cards 1..cards.
    void seed(int cards, unsigned seed = 1);

    QByteArray value(const QByteArray& key) const { return records_.value(key); }
    void setValue(const QByteArray& key, const QByteArray& value);
    const QMap<QByteArray, QByteArray>& records() const { return records_; }

    // Reads every record present in a backup file set (the main file and
    // the card files beside it). Returns false with a description when the
    // main file is missing or has no "KT560AX" title.
    bool loadBackup(const QString& mainFile, QString* error);
    // Writes all records as a backup file set, replacing the files.
    bool saveBackup(const QString& mainFile, QString* error) const;

  private:
    QMap<QByteArray, QByteArray> records_;
};

// The file that holds card `index` of the backup whose main file is
// `mainFile`: the main file below 2000, else the card file whose name is
// the tag ("2", "4", "6", "8") in front of the main file's name.
QString cardFile(const QString& mainFile, int index);

} // namespace kt::sim
