// The age v1 file: a text header that wraps a random file key once for each
// recipient and ends in an HMAC of itself, then a 16-byte nonce and the
// payload in ChaCha20-Poly1305 chunks of 64 KiB (STREAM), the last flagged.
#include "age_file.h"
#include "sodium_ready.h"

#include <QByteArrayView>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <optional>

namespace kt::fleet {

namespace {

constexpr char kMagic[] = "age-encryption.org/";
constexpr char kVersionLine[] = "age-encryption.org/v1";
constexpr char kArmorLine[] = "-----BEGIN AGE ENCRYPTED FILE-----";
constexpr char kX25519[] = "X25519";
constexpr char kX25519Info[] = "age-encryption.org/v1/X25519";
constexpr std::size_t kFileKeyBytes = 16;
constexpr qsizetype kNonceBytes = 16;
constexpr qsizetype kChunkBytes = 64 * 1024;
constexpr qsizetype kTagBytes = crypto_aead_chacha20poly1305_ietf_ABYTES;
constexpr qsizetype kBodyColumns = 64;
// A header of kMaxAgeRecipients X25519 stanzas is about 100 KB.
constexpr qsizetype kMaxHeaderBytes = 1024 * 1024;
// Room for the stanzas of other types that a writer may add beside them.
constexpr int kMaxStanzas = 2 * kMaxAgeRecipients;

static_assert(kTagBytes == 16 && crypto_aead_chacha20poly1305_ietf_NPUBBYTES == 12 &&
              crypto_auth_hmacsha256_BYTES == 32 && crypto_scalarmult_BYTES == 32);

// Key material, wiped when it goes.
template <std::size_t N> class Secret {
  public:
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { sodium_memzero(bytes_, N); }
    std::uint8_t* data() { return bytes_; }
    const std::uint8_t* data() const { return bytes_; }
    static constexpr std::size_t size() { return N; }

  private:
    std::uint8_t bytes_[N] = {};
};
using Key = Secret<32>;
using FileKey = Secret<kFileKeyBytes>;

const std::uint8_t* bytesOf(const QByteArray& a) {
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

// HKDF-SHA-256 (RFC 5869) of one hash's length, all that age derives.
void hkdf(Key& out, const std::uint8_t* secret, std::size_t secretBytes, const std::uint8_t* salt,
          std::size_t saltBytes, const char* info) {
    static const std::uint8_t noSalt = 0;
    Key prk;
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, saltBytes ? salt : &noSalt, saltBytes);
    crypto_auth_hmacsha256_update(&state, secret, secretBytes);
    crypto_auth_hmacsha256_final(&state, prk.data());
    const std::uint8_t counter = 1;
    crypto_auth_hmacsha256_init(&state, prk.data(), prk.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const std::uint8_t*>(info),
                                  std::strlen(info));
    crypto_auth_hmacsha256_update(&state, &counter, 1);
    crypto_auth_hmacsha256_final(&state, out.data());
    sodium_memzero(&state, sizeof state);
}

// The key that wraps the file key for one recipient: from the X25519
// secret the ephemeral share and the recipient's key agree on.
bool wrapKey(Key& out, const std::uint8_t* scalar, const AgeKey& point, const AgeKey& share,
             const AgeKey& recipient) {
    Key shared;
    // A low-order point gives the all-zero secret, which any attacker knows.
    if (crypto_scalarmult(shared.data(), scalar, point.data()) != 0 ||
        sodium_is_zero(shared.data(), shared.size()))
        return false;
    std::uint8_t salt[64];
    std::memcpy(salt, share.data(), 32);
    std::memcpy(salt + 32, recipient.data(), 32);
    hkdf(out, shared.data(), shared.size(), salt, sizeof salt, kX25519Info);
    return true;
}

QByteArray base64(const std::uint8_t* bytes, std::size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(size))
        .toBase64(QByteArray::OmitTrailingEquals);
}

// The bytes of `text` when it is base64 as age writes it: the standard
// alphabet, no padding, and no bits set past the last byte.
std::optional<QByteArray> fromBase64(QByteArrayView text) {
    for (const char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '/'))
            return std::nullopt;
    if (text.size() % 4 == 1)
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromBase64(text.toByteArray());
    if (base64(bytesOf(bytes), std::size_t(bytes.size())) != text)
        return std::nullopt;
    return bytes;
}

// A stanza's body as base64 in lines of 64 columns, the last one shorter
// and so possibly empty.
QByteArray bodyLines(const std::uint8_t* bytes, std::size_t size) {
    const QByteArray text = base64(bytes, size);
    QByteArray lines;
    qsizetype at = 0;
    for (; at + kBodyColumns <= text.size(); at += kBodyColumns)
        lines += text.mid(at, kBodyColumns) + '\n';
    return lines + text.mid(at) + '\n';
}

// The nonce of payload chunk `counter`: 11 bytes big-endian, then 1 for the
// last chunk and 0 for the others.
void chunkNonce(std::uint8_t nonce[12], std::uint64_t counter, bool last) {
    std::memset(nonce, 0, 12);
    for (int i = 10; i >= 3; --i, counter >>= 8)
        nonce[i] = std::uint8_t(counter);
    nonce[11] = last ? 1 : 0;
}

struct Stanza {
    int line;
    QList<QByteArray> args;
    QByteArray body;
};

struct Header {
    QList<Stanza> stanzas;
    qsizetype macedBytes = 0; // the header up to and including "---"
    QByteArray mac;
    qsizetype payloadAt = 0;
};

shell::Error invalid(const QString& message) {
    return {shell::ErrorCode::Invalid, message};
}

shell::Error malformed(int line, const QString& what) {
    return invalid(QStringLiteral("malformed age header: line %1 %2").arg(line).arg(what));
}

bool printable(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

// Reads the header's lines one by one: each ends in LF, within the bound.
class LineReader {
  public:
    explicit LineReader(const QByteArray& file) : file_(file) {}
    // The next line without its LF; an error when the header ends too soon
    // or grows past its bound.
    shell::Result<QByteArrayView> next() {
        const qsizetype end = file_.indexOf('\n', at_);
        if (end < 0 || end >= kMaxHeaderBytes) {
            if (end < 0 && file_.size() <= kMaxHeaderBytes)
                return invalid(QStringLiteral("truncated age file: it ends inside its header"));
            return shell::Error{shell::ErrorCode::TooLarge,
                                QStringLiteral("malformed age header: longer than %1 KB")
                                    .arg(kMaxHeaderBytes / 1024)};
        }
        const QByteArrayView line(file_.constData() + at_, end - at_);
        start_ = at_;
        at_ = end + 1;
        ++number_;
        return line;
    }
    int number() const { return number_; }
    qsizetype lineStart() const { return start_; }
    qsizetype at() const { return at_; }

  private:
    const QByteArray& file_;
    qsizetype at_ = 0;
    qsizetype start_ = 0;
    int number_ = 0;
};

shell::Result<Header> parseHeader(const QByteArray& file) {
    if (!file.startsWith(kMagic)) {
        if (file.startsWith(kArmorLine))
            return invalid(QStringLiteral("not a binary age file: it is ASCII-armored (age -a)"));
        return invalid(QStringLiteral("not an age file"));
    }
    LineReader reader(file);
    shell::Result<QByteArrayView> line = reader.next();
    if (!line)
        return line.error();
    if (*line != QByteArrayView(kVersionLine)) {
        const QByteArrayView version =
            line->sliced(qsizetype(std::strlen(kMagic)))
                .first(std::min<qsizetype>(line->size() - qsizetype(std::strlen(kMagic)), 16));
        return invalid(
            QStringLiteral("unsupported age version '%1': only v1 is read")
                .arg(printable(version) ? QString::fromLatin1(version) : QStringLiteral("?")));
    }
    Header header;
    for (;;) {
        line = reader.next();
        if (!line)
            return line.error();
        if (line->startsWith("---")) {
            const std::optional<QByteArray> mac =
                line->startsWith("--- ") ? fromBase64(line->sliced(4)) : std::nullopt;
            if (!mac || mac->size() != crypto_auth_hmacsha256_BYTES)
                return malformed(reader.number(), QStringLiteral("is not a MAC line"));
            if (header.stanzas.isEmpty())
                return malformed(reader.number(), QStringLiteral("ends a header of no stanza"));
            header.mac = *mac;
            header.macedBytes = reader.lineStart() + 3;
            header.payloadAt = reader.at();
            return header;
        }
        if (!line->startsWith("-> "))
            return malformed(reader.number(), QStringLiteral("is neither a stanza nor the MAC"));
        if (header.stanzas.size() == kMaxStanzas)
            return shell::Error{
                shell::ErrorCode::TooLarge,
                QStringLiteral("malformed age header: more than %1 stanzas").arg(kMaxStanzas)};
        Stanza stanza{reader.number(), {}, {}};
        for (const QByteArray& arg : line->sliced(3).toByteArray().split(' ')) {
            if (arg.isEmpty() || !printable(arg))
                return malformed(reader.number(), QStringLiteral("has an empty or unprintable "
                                                                 "stanza argument"));
            stanza.args.append(arg);
        }
        QByteArray text;
        for (;;) {
            line = reader.next();
            if (!line)
                return line.error();
            if (line->size() > kBodyColumns)
                return malformed(reader.number(), QStringLiteral("is longer than 64 columns"));
            text += line->toByteArray();
            if (line->size() < kBodyColumns)
                break;
        }
        const std::optional<QByteArray> body = fromBase64(text);
        if (!body)
            return malformed(reader.number(),
                             QStringLiteral("is not base64 as age writes it (no padding, no "
                                            "stray bits)"));
        stanza.body = *body;
        header.stanzas.append(stanza);
    }
}

// Checks an X25519 stanza: one argument, the 32-byte ephemeral share, and a
// body of the 16-byte file key and its 16-byte tag.
std::optional<AgeKey> x25519Share(const Stanza& stanza) {
    if (stanza.args.size() != 2 || stanza.body.size() != qsizetype(kFileKeyBytes) + kTagBytes)
        return std::nullopt;
    const std::optional<QByteArray> share = fromBase64(stanza.args[1]);
    if (!share || share->size() != 32)
        return std::nullopt;
    AgeKey key;
    std::memcpy(key.data(), share->constData(), key.size());
    return key;
}

// The file key from the first X25519 stanza that one of `identities` opens.
shell::Status unwrap(const Header& header, const QList<AgeIdentity>& identities, FileKey& fileKey) {
    static const std::uint8_t zeroNonce[12] = {};
    int x25519 = 0;
    QStringList others;
    for (const Stanza& stanza : header.stanzas) {
        if (stanza.args[0] != kX25519) {
            if (!others.contains(QString::fromLatin1(stanza.args[0])) && others.size() < 5)
                others.append(QString::fromLatin1(stanza.args[0]));
            continue;
        }
        ++x25519;
        const std::optional<AgeKey> share = x25519Share(stanza);
        if (!share)
            return malformed(stanza.line, QStringLiteral("is not a well-formed X25519 stanza"));
        for (const AgeIdentity& identity : identities) {
            Key key;
            if (!wrapKey(key, identity.secret().data(), *share, *share, identity.publicKey()))
                return malformed(stanza.line, QStringLiteral("has a low-order X25519 share"));
            if (crypto_aead_chacha20poly1305_ietf_decrypt(
                    fileKey.data(), nullptr, nullptr, bytesOf(stanza.body),
                    std::size_t(stanza.body.size()), nullptr, 0, zeroNonce, key.data()) == 0)
                return shell::done();
        }
    }
    if (x25519 == 0)
        return shell::Error{shell::ErrorCode::Denied,
                            QStringLiteral("the age file has no X25519 recipient stanza, only "
                                           "stanzas of type %1")
                                .arg(others.join(QStringLiteral(", ")))};
    return shell::Error{shell::ErrorCode::Denied,
                        QStringLiteral("no identity given opens the age file (wrong key): "
                                       "it has %1 X25519 recipient(s)")
                            .arg(x25519)};
}

// Decrypts the payload chunk at `in` into `out`; false when it does not
// authenticate as chunk `counter` with that last flag.
bool openChunk(const Key& key, const std::uint8_t* in, qsizetype size, std::uint8_t* out,
               std::uint64_t counter, bool last) {
    std::uint8_t nonce[12];
    chunkNonce(nonce, counter, last);
    return crypto_aead_chacha20poly1305_ietf_decrypt(out, nullptr, nullptr, in, std::size_t(size),
                                                     nullptr, 0, nonce, key.data()) == 0;
}

shell::Result<QByteArray> openPayload(const QByteArray& file, qsizetype at,
                                      const FileKey& fileKey) {
    const std::uint8_t* in = bytesOf(file) + at;
    qsizetype left = file.size() - at;
    if (left < kNonceBytes + kTagBytes)
        return invalid(QStringLiteral("truncated age file: it ends before its payload"));
    Key key;
    hkdf(key, fileKey.data(), fileKey.size(), in, kNonceBytes, "payload");
    in += kNonceBytes;
    left -= kNonceBytes;

    QByteArray plain(left, Qt::Uninitialized); // at least the plaintext's size
    std::uint8_t* out = reinterpret_cast<std::uint8_t*>(plain.data());
    const auto fail = [&](const QString& message) {
        sodium_memzero(plain.data(), std::size_t(plain.size()));
        return invalid(message);
    };
    for (std::uint64_t counter = 0;; ++counter) {
        const qsizetype size = std::min(left, kChunkBytes + kTagBytes);
        if (size < kTagBytes)
            return fail(QStringLiteral("truncated age file: chunk %1 is cut short").arg(counter));
        // Only the chunk that ends the file may be the last one.
        const bool last = size == left;
        if (!openChunk(key, in, size, out, counter, last)) {
            if (!openChunk(key, in, size, out, counter, !last))
                return fail(QStringLiteral("damaged age file: payload chunk %1 fails "
                                           "authentication")
                                .arg(counter));
            return fail(last ? QStringLiteral("truncated age file: it ends after chunk %1, which "
                                              "is not the last")
                                   .arg(counter)
                             : QStringLiteral("malformed age file: trailing data after its last "
                                              "chunk"));
        }
        if (last && size == kTagBytes && counter > 0)
            return fail(QStringLiteral("malformed age file: an empty last chunk after a full one"));
        in += size;
        left -= size;
        out += size - kTagBytes;
        if (last)
            break;
    }
    plain.truncate(out - reinterpret_cast<std::uint8_t*>(plain.data()));
    return plain;
}

} // namespace

shell::Result<QByteArray> ageEncrypt(const QByteArray& plaintext,
                                     const QList<AgeRecipient>& recipients) {
    if (recipients.isEmpty())
        return invalid(QStringLiteral("no recipient to encrypt to"));
    if (recipients.size() > kMaxAgeRecipients)
        return shell::Error{shell::ErrorCode::TooLarge,
                            QStringLiteral("more than %1 recipients").arg(kMaxAgeRecipients)};
    if (!sodiumReady())
        return shell::Error{shell::ErrorCode::Unwritable,
                            QStringLiteral("the cryptography library cannot start")};
    static const std::uint8_t zeroNonce[12] = {};
    FileKey fileKey;
    randombytes_buf(fileKey.data(), fileKey.size());

    const qsizetype chunks =
        std::max<qsizetype>(1, (plaintext.size() + kChunkBytes - 1) / kChunkBytes);
    QByteArray file;
    file.reserve(qsizetype(std::strlen(kVersionLine)) + 1 + recipients.size() * 100 + 60 +
                 kNonceBytes + plaintext.size() + chunks * kTagBytes);
    file += kVersionLine;
    file += '\n';
    for (const AgeRecipient& recipient : recipients) {
        Key ephemeral;
        randombytes_buf(ephemeral.data(), ephemeral.size());
        AgeKey share;
        crypto_scalarmult_base(share.data(), ephemeral.data());
        Key key;
        if (!wrapKey(key, ephemeral.data(), recipient.publicKey, share, recipient.publicKey))
            return invalid(
                QStringLiteral("the recipient %1 is not a usable key (a low-order point)")
                    .arg(recipient.text));
        std::uint8_t body[kFileKeyBytes + kTagBytes];
        crypto_aead_chacha20poly1305_ietf_encrypt(body, nullptr, fileKey.data(), fileKey.size(),
                                                  nullptr, 0, nullptr, zeroNonce, key.data());
        file += "-> ";
        file += kX25519;
        file += ' ' + base64(share.data(), share.size()) + '\n';
        file += bodyLines(body, sizeof body);
    }
    file += "---";
    Key macKey;
    hkdf(macKey, fileKey.data(), fileKey.size(), nullptr, 0, "header");
    std::uint8_t mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256(mac, bytesOf(file), std::size_t(file.size()), macKey.data());
    file += ' ' + base64(mac, sizeof mac) + '\n';

    std::uint8_t nonce[kNonceBytes];
    randombytes_buf(nonce, sizeof nonce);
    file.append(reinterpret_cast<const char*>(nonce), kNonceBytes);
    Key key;
    hkdf(key, fileKey.data(), fileKey.size(), nonce, sizeof nonce, "payload");
    const std::uint8_t* in = bytesOf(plaintext);
    for (qsizetype counter = 0; counter < chunks; ++counter) {
        const qsizetype at = counter * kChunkBytes;
        const qsizetype size = std::min(kChunkBytes, plaintext.size() - at);
        std::uint8_t chunkNonceBytes[12];
        chunkNonce(chunkNonceBytes, std::uint64_t(counter), counter == chunks - 1);
        const qsizetype start = file.size();
        file.resize(start + size + kTagBytes);
        crypto_aead_chacha20poly1305_ietf_encrypt(
            reinterpret_cast<std::uint8_t*>(file.data()) + start, nullptr, in + at,
            std::size_t(size), nullptr, 0, nullptr, chunkNonceBytes, key.data());
    }
    return file;
}

bool isAgeFile(const QByteArray& file) {
    return file.startsWith(QByteArray(kVersionLine) + '\n');
}

shell::Result<QByteArray> ageDecrypt(const QByteArray& file, const QList<AgeIdentity>& identities,
                                     qint64 maxBytes) {
    if (file.size() > maxBytes)
        return shell::Error{
            shell::ErrorCode::TooLarge,
            QStringLiteral("the age file is larger than the %1 bytes allowed").arg(maxBytes)};
    if (!sodiumReady())
        return shell::Error{shell::ErrorCode::Unreadable,
                            QStringLiteral("the cryptography library cannot start")};
    const shell::Result<Header> header = parseHeader(file);
    if (!header)
        return header.error();
    FileKey fileKey;
    if (const shell::Status opened = unwrap(*header, identities, fileKey); !opened)
        return opened.error();
    Key macKey;
    hkdf(macKey, fileKey.data(), fileKey.size(), nullptr, 0, "header");
    if (crypto_auth_hmacsha256_verify(bytesOf(header->mac), bytesOf(file),
                                      std::size_t(header->macedBytes), macKey.data()) != 0)
        return invalid(QStringLiteral("the age header's MAC does not match: the header was "
                                      "changed"));
    return openPayload(file, header->payloadAt, fileKey);
}

} // namespace kt::fleet
