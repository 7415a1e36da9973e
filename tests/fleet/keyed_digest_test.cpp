// The keyed digest of a record, and its key file, which only its owner
// may read (a POSIX mode).
#include "fleet/keyed_digest.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// HMAC-SHA-256 as RFC 4231 gives it: a short key is the same as that key
// followed by zero bytes.
TEST(KeyedDigest, IsHmacSha256) {
    kt::fleet::DigestKey key{'J', 'e', 'f', 'e'};
    EXPECT_EQ(kt::fleet::keyedDigest(key, "what do ya want for nothing?").toHex(),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

// A digest key is made once, for its owner only, and read back whole.
TEST(KeyedDigest, KeyFileIsTheOwnersAlone) {
    QTemporaryDir dir;
    const QString path = dir.filePath("digest.key");
    ASSERT_TRUE(kt::fleet::createDigestKey(path).ok());
    EXPECT_EQ(QFile(path).permissions() & QFileDevice::Permissions(0x7077),
              QFile::ReadOwner | QFile::WriteOwner);
    const auto key = kt::fleet::readDigestKey(path);
    ASSERT_TRUE(key.ok()) << key.error().message.toStdString();
    EXPECT_FALSE(kt::fleet::createDigestKey(path).ok());
    EXPECT_EQ(*kt::fleet::readDigestKey(path), *key);

    const QString other = dir.filePath("other.key");
    ASSERT_TRUE(kt::fleet::createDigestKey(other).ok());
    EXPECT_NE(*kt::fleet::readDigestKey(other), *key);
    const QString cut = dir.filePath("cut.key");
    QFile cutFile(cut);
    ASSERT_TRUE(cutFile.open(QIODevice::WriteOnly) && cutFile.write(QByteArray(31, 'k')) == 31);
    cutFile.close();
    EXPECT_EQ(kt::fleet::readDigestKey(cut).error().code, kt::shell::ErrorCode::Invalid);
}

} // namespace
