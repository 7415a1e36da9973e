#include "keyed_digest.h"
#include "sodium_ready.h"

#include "shell/regular_file.h"

#include <cstring>

namespace kt::fleet {

static_assert(crypto_auth_hmacsha256_KEYBYTES == sizeof(DigestKey));

QByteArray keyedDigest(const DigestKey& key, const QByteArray& record) {
    QByteArray digest(crypto_auth_hmacsha256_BYTES, Qt::Uninitialized);
    crypto_auth_hmacsha256(reinterpret_cast<unsigned char*>(digest.data()),
                           reinterpret_cast<const unsigned char*>(record.constData()),
                           std::size_t(record.size()), key.data());
    return digest;
}

shell::Status createDigestKey(const QString& path) {
    if (!sodiumReady())
        return shell::Error{shell::ErrorCode::Unwritable,
                            QStringLiteral("the cryptography library cannot start"), path};
    QByteArray key(sizeof(DigestKey), Qt::Uninitialized);
    randombytes_buf(key.data(), std::size_t(key.size()));
    const shell::Status written = shell::writeNewFile(path, key);
    sodium_memzero(key.data(), std::size_t(key.size()));
    return written;
}

shell::Result<DigestKey> readDigestKey(const QString& path) {
    const shell::Result<QByteArray> read = shell::readRegularFile(path, sizeof(DigestKey));
    if (!read)
        return read.error();
    const QByteArray& bytes = *read;
    if (bytes.size() != qsizetype(sizeof(DigestKey)))
        return shell::Error{shell::ErrorCode::Invalid,
                            QStringLiteral("%1 is not a digest key: it holds %2 bytes, not 32")
                                .arg(path)
                                .arg(bytes.size()),
                            path};
    DigestKey key;
    std::memcpy(key.data(), bytes.constData(), key.size());
    return key;
}

} // namespace kt::fleet
