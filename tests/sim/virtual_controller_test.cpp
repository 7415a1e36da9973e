// The virtual controller answers every category's commands as the real
// one does, and keeps its records in backup files.
#include "link/frame.h"
#include "sim/command_table.h"
#include "sim/virtual_controller.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace kt::sim;

QByteArray answer(VirtualController& controller, const QByteArray& request) {
    QByteArray out;
    for (const Chunk& chunk : controller.receive(kt::link::buildRequestFrame(request)))
        out += chunk.bytes;
    return out;
}

TEST(VirtualController, AnswersEveryCommandAtBothEndsOfItsRangeAndStoresWrites) {
    RecordStore store;
    store.seed(9999);
    VirtualController controller(store, {1, 7});
    for (const Command& c : commands()) {
        for (const int index : {c.first, c.last}) {
            const QByteArray digits =
                c.digits ? QByteArray::number(index).rightJustified(c.digits, '0') : "";
            const QByteArray request = "07" + QByteArray(c.code) + digits;
            SCOPED_TRACE(request.constData());
            const auto check = kt::link::checkReply(answer(controller, request),
                                                    kt::link::buildRequestFrame(request));
            ASSERT_TRUE(check.accepted());
            EXPECT_EQ(check.data, store.value(recordKey(c, index)));
            EXPECT_FALSE(check.data.isEmpty());
            if (c.digits) {
                const QByteArray outside =
                    "07" + QByteArray(c.code) +
                    QByteArray::number(c.first - 1).rightJustified(c.digits, '0');
                EXPECT_EQ(answer(controller, outside), "") << "index out of range";
            }
        }
    }
    EXPECT_EQ(answer(controller, "02DC"), "") << "another address";
    EXPECT_EQ(answer(controller, "07ZZ"), "") << "unknown code";
    QByteArray badCrc = kt::link::buildRequestFrame("07DC");
    badCrc[badCrc.size() - 2] = badCrc[badCrc.size() - 2] == '0' ? '1' : '0';
    EXPECT_TRUE(controller.receive(badCrc).isEmpty());

    // Writes are stored and acknowledged.
    const QByteArray card = "000123456712340A00FF00FF";
    store.setValue("HA0005", ""); // an empty slot
    EXPECT_EQ(answer(controller, "01HB0005"), VirtualController::replyFrame("01", "HB", ""));
    EXPECT_EQ(answer(controller, "01HA0005" + card), VirtualController::replyFrame("01", "HA", ""));
    EXPECT_EQ(answer(controller, "01HB0005"), VirtualController::replyFrame("01", "HB", card));
    EXPECT_EQ(answer(controller, "01MD250 data with blanks"),
              VirtualController::replyFrame("01", "MD", ""));
    EXPECT_EQ(store.value("MD250"), " data with blanks");
    // Noise and two frames in one read.
    const QList<Chunk> both = controller.receive("noise" + kt::link::buildRequestFrame("01DC") +
                                                 kt::link::buildRequestFrame("01DI"));
    EXPECT_EQ(both.size(), 2);
    EXPECT_EQ(controller.requests().last(), "01DI");
}

TEST(RecordStore, BackupFilesRoundTripWithCardFilesBesideTheMainFile) {
    RecordStore seeded;
    seeded.seed(4000, 7);
    QTemporaryDir dir;
    const QString main = dir.filePath("01.KT");
    QString error;
    ASSERT_TRUE(seeded.saveBackup(main, &error)) << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"01.KT", "201.KT", "401.KT"}));

    RecordStore loaded;
    ASSERT_TRUE(loaded.loadBackup(main, &error)) << error.toStdString();
    EXPECT_EQ(loaded.records(), seeded.records());
    EXPECT_EQ(loaded.records().size(), 459 + 4000);

    EXPECT_FALSE(loaded.loadBackup(dir.filePath("201.KT"), &error));
    EXPECT_TRUE(error.contains("not a KT560AX backup"));
    EXPECT_EQ(cardFile("/b/01.KT", 1999), "/b/01.KT");
    EXPECT_EQ(cardFile("/b/01.KT", 2000), "/b/201.KT");
    EXPECT_EQ(cardFile("/b/01.KT", 9999), "/b/801.KT");
    EXPECT_EQ(cardFile("01.KT", 6000), "601.KT");
}

} // namespace
