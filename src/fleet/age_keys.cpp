// age's keys: Bech32 text (BIP 173 checksum, no length limit), "age" for a
// recipient in lower case, "AGE-SECRET-KEY-" for an identity in upper case.
#include "age_file.h"
#include "sodium_ready.h"

#include "shell/regular_file.h"

#include <cstring>
#include <optional>
#include <vector>

namespace kt::fleet {

namespace {

constexpr char kCharset[] = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";
constexpr char kRecipientPrefix[] = "age";
constexpr char kIdentityPrefix[] = "AGE-SECRET-KEY-";
constexpr int kAgeKeyBits = 8 * 32;

std::uint32_t polymod(const std::vector<std::uint8_t>& values) {
    static constexpr std::uint32_t kGenerator[] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd,
                                                   0x2a1462b3};
    std::uint32_t check = 1;
    for (const std::uint8_t v : values) {
        const std::uint32_t top = check >> 25;
        check = (check & 0x1ffffff) << 5 ^ v;
        for (int i = 0; i < 5; ++i)
            if ((top >> i) & 1)
                check ^= kGenerator[i];
    }
    return check;
}

// The checksum's input: the prefix (lower case) spread over 5-bit values,
// then the data's 5-bit values.
std::vector<std::uint8_t> checksummed(const QByteArray& lowerPrefix,
                                      const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> values;
    for (const char c : lowerPrefix)
        values.push_back(std::uint8_t(c) >> 5);
    values.push_back(0);
    for (const char c : lowerPrefix)
        values.push_back(std::uint8_t(c) & 31);
    values.insert(values.end(), data.begin(), data.end());
    return values;
}

// Lower case Bech32 of `key` under `prefix` (given in lower case).
QByteArray bech32(const QByteArray& prefix, const AgeKey& key) {
    std::vector<std::uint8_t> data;
    unsigned acc = 0;
    int bits = 0;
    for (const std::uint8_t byte : key) {
        acc = (acc << 8 | byte) & 0xfff;
        bits += 8;
        for (; bits >= 5; bits -= 5)
            data.push_back((acc >> (bits - 5)) & 31);
    }
    if (bits > 0)
        data.push_back((acc << (5 - bits)) & 31);
    std::vector<std::uint8_t> values = checksummed(prefix, data);
    values.insert(values.end(), 6, 0);
    const std::uint32_t check = polymod(values) ^ 1;
    for (int i = 0; i < 6; ++i)
        data.push_back((check >> (5 * (5 - i))) & 31);
    QByteArray text = prefix + '1';
    for (const std::uint8_t v : data)
        text += kCharset[v];
    return text;
}

// The key that `text` holds under `prefix`, matched case-sensitively as age
// does, or why it holds none.
std::optional<AgeKey> fromBech32(const QByteArray& text, const char* prefix, QString* why) {
    if (text.toLower() != text && text.toUpper() != text) {
        *why = QStringLiteral("it mixes upper and lower case");
        return std::nullopt;
    }
    const qsizetype split = text.lastIndexOf('1');
    if (split < 1 || text.left(split) != prefix) {
        *why = QStringLiteral("it does not start with %1").arg(QString::fromLatin1(prefix) + '1');
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    for (const char c : text.mid(split + 1).toLower()) {
        const char* at = c ? std::strchr(kCharset, c) : nullptr;
        if (!at) {
            *why = QStringLiteral("it holds a character that is not Bech32");
            return std::nullopt;
        }
        data.push_back(std::uint8_t(at - kCharset));
    }
    if (data.size() < 6 || polymod(checksummed(text.left(split).toLower(), data)) != 1) {
        *why = QStringLiteral("its checksum is wrong (a mistyped or cut key)");
        return std::nullopt;
    }
    data.resize(data.size() - 6);
    if (data.size() != (kAgeKeyBits + 4) / 5) {
        *why = QStringLiteral("it does not hold a key of 32 bytes");
        return std::nullopt;
    }
    AgeKey key{};
    std::size_t filled = 0;
    unsigned acc = 0;
    int bits = 0;
    for (const std::uint8_t v : data) {
        acc = (acc << 5 | v) & 0xfff;
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            key[filled++] = std::uint8_t(acc >> bits);
        }
    }
    // The padding bits are zero in the one encoding of a key.
    if ((acc & ((1u << bits) - 1)) != 0) {
        *why = QStringLiteral("it is not the usual encoding of a key");
        sodium_memzero(key.data(), key.size());
        return std::nullopt;
    }
    return key;
}

// The lines of a key file that hold a key, with their numbers: blank lines
// and # comments left out, blanks around a line and a CR before its LF too.
struct KeyLine {
    int number;
    QByteArray text;
};
shell::Result<QList<KeyLine>> keyLines(const QByteArray& text, const char* what) {
    if (text.size() > kMaxAgeKeyFileBytes)
        return shell::Error{shell::ErrorCode::TooLarge, QStringLiteral("a %1 file is at most %2 KB")
                                                            .arg(QString::fromLatin1(what))
                                                            .arg(kMaxAgeKeyFileBytes / 1024)};
    QList<KeyLine> lines;
    int number = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            lines.append({number, line});
    }
    if (lines.isEmpty())
        return shell::Error{
            shell::ErrorCode::Invalid,
            QStringLiteral("the %1 file holds no key").arg(QString::fromLatin1(what))};
    if (lines.size() > kMaxAgeRecipients)
        return shell::Error{shell::ErrorCode::TooLarge,
                            QStringLiteral("line %1: more than %2 keys in one file")
                                .arg(lines[kMaxAgeRecipients].number)
                                .arg(kMaxAgeRecipients)};
    return lines;
}

template <typename T>
shell::Result<QList<T>> readKeys(const QString& path,
                                 shell::Result<QList<T>> (*parse)(const QByteArray&)) {
    const shell::Result<QByteArray> text = shell::readRegularFile(path, kMaxAgeKeyFileBytes);
    if (!text)
        return text.error();
    shell::Result<QList<T>> keys = parse(*text);
    if (keys)
        return keys;
    shell::Error error = keys.error();
    error.message = path + ' ' + error.message;
    error.subject = path;
    return error;
}

} // namespace

AgeIdentity::AgeIdentity(const AgeKey& secret) : secret_(secret) {
    crypto_scalarmult_base(public_.data(), secret_.data());
}

AgeIdentity::AgeIdentity(const AgeIdentity& other)
    : secret_(other.secret_), public_(other.public_) {}

AgeIdentity& AgeIdentity::operator=(const AgeIdentity& other) {
    secret_ = other.secret_;
    public_ = other.public_;
    return *this;
}

AgeIdentity::~AgeIdentity() {
    sodium_memzero(secret_.data(), secret_.size());
}

shell::Result<AgeIdentity> AgeIdentity::generate() {
    if (!sodiumReady())
        return shell::Error{shell::ErrorCode::Unwritable,
                            QStringLiteral("the cryptography library cannot start")};
    AgeKey secret;
    randombytes_buf(secret.data(), secret.size());
    AgeIdentity identity(secret);
    sodium_memzero(secret.data(), secret.size());
    return identity;
}

AgeRecipient AgeIdentity::recipient() const {
    return {public_, QString::fromLatin1(bech32(kRecipientPrefix, public_))};
}

QByteArray AgeIdentity::text() const {
    return bech32(QByteArray(kIdentityPrefix).toLower(), secret_).toUpper();
}

shell::Result<QList<AgeRecipient>> parseAgeRecipients(const QByteArray& text) {
    const shell::Result<QList<KeyLine>> lines = keyLines(text, "recipients");
    if (!lines)
        return lines.error();
    QList<AgeRecipient> recipients;
    for (const KeyLine& line : *lines) {
        QString why;
        const std::optional<AgeKey> key = fromBech32(line.text, kRecipientPrefix, &why);
        if (!key)
            return shell::Error{shell::ErrorCode::Invalid,
                                QStringLiteral("line %1: not an age recipient (age1...): %2")
                                    .arg(line.number)
                                    .arg(why)};
        recipients.append({*key, QString::fromLatin1(line.text)});
    }
    return recipients;
}

shell::Result<QList<AgeIdentity>> parseAgeIdentities(const QByteArray& text) {
    const shell::Result<QList<KeyLine>> lines = keyLines(text, "identity");
    if (!lines)
        return lines.error();
    QList<AgeIdentity> identities;
    for (const KeyLine& line : *lines) {
        // The line is not quoted: it may be a secret with a typo in it.
        QString why;
        std::optional<AgeKey> key = fromBech32(line.text, kIdentityPrefix, &why);
        if (!key)
            return shell::Error{
                shell::ErrorCode::Invalid,
                QStringLiteral("line %1: not an age identity (AGE-SECRET-KEY-1...): %2")
                    .arg(line.number)
                    .arg(why)};
        identities.append(AgeIdentity(*key));
        sodium_memzero(key->data(), key->size());
    }
    return identities;
}

shell::Result<QList<AgeRecipient>> readAgeRecipients(const QString& path) {
    return readKeys(path, &parseAgeRecipients);
}

shell::Result<QList<AgeIdentity>> readAgeIdentities(const QString& path) {
    return readKeys(path, &parseAgeIdentities);
}

} // namespace kt::fleet
