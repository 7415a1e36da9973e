// A keyed digest of a record tells whether the record changed without
// keeping it: a reader without the key cannot check a guess of the record
// against the digest.
#pragma once

#include "shell/result.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace kt::fleet {

using DigestKey = std::array<std::uint8_t, 32>;

// HMAC-SHA-256 of `record` under `key`: 32 bytes.
QByteArray keyedDigest(const DigestKey& key, const QByteArray& record);

// Writes a new random key to `path`, which must not exist, for its owner only.
shell::Status createDigestKey(const QString& path);
// The key in `path`: a file of exactly 32 bytes.
shell::Result<DigestKey> readDigestKey(const QString& path);

} // namespace kt::fleet
