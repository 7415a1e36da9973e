// A transfer job on the virtual clock against the in-process controller:
// the set-up that headless engine tests share, and readers and writers of
// backup files.
#pragma once

#include "engine/transfer_job.h"
#include "sim/memory_port.h"
#include "support/fake_job_view.h"

#include <QFile>
#include <QTemporaryDir>

namespace kt::test {

// The lines of one section of a backup file as key=value, in file order.
inline QList<QByteArray> sectionLines(const QString& path, const QByteArray& section = "Data") {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines;
    bool inSection = false;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QByteArray text = line.trimmed();
        if (text.startsWith('['))
            inSection = text == '[' + section + ']';
        else if (inSection && !text.isEmpty())
            lines.append(text);
    }
    return lines;
}

inline QList<QByteArray> keysOf(const QList<QByteArray>& lines) {
    QList<QByteArray> keys;
    for (const QByteArray& line : lines)
        keys.append(line.left(line.indexOf('=')));
    return keys;
}

// The whole of file `path`; "(none)" when it cannot be read.
inline QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// Writes `contents` as the whole of file `path`.
inline bool put(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// The key of user card `index` in a backup file.
inline QByteArray cardKey(int index) {
    return "HA" + QByteArray::number(index).rightJustified(4, '0');
}

struct JobRig {
    // A controller seeded with `cards` cards, answering addresses 1 and 7;
    // a job of the system database, address 1, 100 cards; the backup file
    // in a scratch folder.
    explicit JobRig(int cards = 100) {
        store.seed(cards);
        port.open();
        saveFile = dir.filePath("01.KT");
        loadFile = saveFile;
        choose({"system"});
    }
    // The categories of the next job, by their command-line names.
    void choose(const QList<QByteArray>& names) {
        request.categories.clear();
        for (const QByteArray& name : names)
            request.categories.append(engine::findCategory(name));
    }
    bool save() { return start(engine::Direction::Save, saveFile); }
    bool load() { return start(engine::Direction::Load, loadFile); }
    bool start(engine::Direction direction, const QString& file) {
        request.direction = direction;
        request.file = file;
        return job.start(request);
    }
    // Starts a job and runs it until it ends; false when it did not start.
    bool runSave() { return runJob(engine::Direction::Save, saveFile); }
    bool runLoad() { return runJob(engine::Direction::Load, loadFile); }
    bool runJob(engine::Direction direction, const QString& file) {
        const bool started = start(direction, file);
        run();
        return started;
    }
    // Runs the clock until the job has ended.
    void run() {
        clock.run([&] { return !job.isActive(); });
    }

    QTemporaryDir dir;
    QString saveFile;
    QString loadFile;
    engine::JobRequest request;
    sim::RecordStore store;
    sim::VirtualController controller{store, {1, 7}};
    sim::VirtualClock clock;
    sim::MemoryPort port{controller, clock};
    FakeJobView view;
    // TX 10 ms, RX 10 ms, time-out 200 ms.
    engine::TransferJob job{port, clock, view, link::LineTimes{}};
};

} // namespace kt::test
