// age files beside Debian's age and age-keygen programs: age opens what
// this program writes, and this program opens what age writes.
#include "fleet/age_file.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::fleet::AgeIdentity;

constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

struct Ran {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Ran run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

TEST(AgeFile, OpensWithDebiansAgeBothWays) {
    const QString age = QStandardPaths::findExecutable("age");
    const QString keygen = QStandardPaths::findExecutable("age-keygen");
    if (age.isEmpty() || keygen.isEmpty()) {
        // A missing tool fails under CI, and is skipped elsewhere.
        ASSERT_TRUE(qEnvironmentVariableIsEmpty("CI")) << "Debian's package age is not installed";
        GTEST_SKIP() << "Debian's package age is not installed";
    }
    QTemporaryDir dir;
    const QString theirKey = dir.filePath("theirs.txt");
    ASSERT_EQ(run(keygen, {"-o", theirKey}).status, 0);
    const auto theirs = kt::fleet::readAgeIdentities(theirKey);
    ASSERT_TRUE(theirs.ok()) << theirs.error().message.toStdString();
    const Ran theirRecipient = run(keygen, {"-y", theirKey});
    ASSERT_EQ(theirRecipient.status, 0);
    // age-keygen and this program derive the same recipient from the key.
    EXPECT_EQ(theirs->front().recipient().text.toLatin1() + '\n', theirRecipient.out);

    const AgeIdentity mine = *AgeIdentity::generate();
    const QString myKey = dir.filePath("mine.txt");
    ASSERT_TRUE(write(myKey, "# a key of this program's\n" + mine.text() + "\n"));
    const QString recipientsFile = dir.filePath("recipients.txt");
    ASSERT_TRUE(write(recipientsFile,
                      "# both\n" + theirRecipient.out + mine.recipient().text.toLatin1() + "\n"));
    const auto recipients = kt::fleet::readAgeRecipients(recipientsFile);
    ASSERT_TRUE(recipients.ok()) << recipients.error().message.toStdString();

    for (const qsizetype size : {0, 65536, 131073}) {
        SCOPED_TRACE(size);
        QByteArray plain(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            plain[i] = char(i * 7 + i / 251);

        const QByteArray written = *kt::fleet::ageEncrypt(plain, *recipients);
        const QString file = dir.filePath("written.age");
        ASSERT_TRUE(write(file, written));
        for (const QString& key : {theirKey, myKey}) {
            const Ran opened = run(age, {"-d", "-i", key, file});
            EXPECT_EQ(opened.status, 0) << opened.err.toStdString();
            EXPECT_TRUE(opened.out == plain) << key.toStdString();
        }

        const Ran encrypted = run(age, {"-R", recipientsFile}, plain);
        ASSERT_EQ(encrypted.status, 0) << encrypted.err.toStdString();
        for (const auto& identities : {*theirs, QList<AgeIdentity>{mine}}) {
            const auto opened = kt::fleet::ageDecrypt(encrypted.out, identities, kMaxBytes);
            ASSERT_TRUE(opened.ok()) << opened.error().message.toStdString();
            EXPECT_TRUE(*opened == plain);
        }
    }
}

} // namespace
