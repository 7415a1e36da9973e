// age files: what is encrypted opens again with each recipient's key, the
// published test vectors open or fail as they say, and a damaged, cut or
// foreign file gives its own error and nothing of its plaintext.
#include "fleet/age_file.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

using kt::fleet::ageDecrypt;
using kt::fleet::ageEncrypt;
using kt::fleet::AgeIdentity;
using kt::fleet::AgeRecipient;
using kt::shell::ErrorCode;

constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

QList<AgeIdentity> newIdentities(int count) {
    QList<AgeIdentity> identities;
    for (int i = 0; i < count; ++i)
        identities.append(*AgeIdentity::generate());
    return identities;
}

QList<AgeRecipient> recipientsOf(const QList<AgeIdentity>& identities) {
    QList<AgeRecipient> recipients;
    for (const AgeIdentity& identity : identities)
        recipients.append(identity.recipient());
    return recipients;
}

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->generate());
    return bytes;
}

// The error `result` ended in, as code and message, for a table's check.
::testing::AssertionResult failsWith(const kt::shell::Result<QByteArray>& result, ErrorCode code,
                                     const char* words) {
    if (result.ok())
        return ::testing::AssertionFailure() << "opened, " << result->size() << " bytes";
    if (result.error().code != code || !result.error().message.contains(QLatin1String(words)))
        return ::testing::AssertionFailure() << "code " << int(result.error().code) << ": "
                                             << result.error().message.toStdString();
    return ::testing::AssertionSuccess();
}

TEST(AgeFile, OpensWithEveryRecipientsKey) {
    for (const qsizetype size : {0, 1, 65535, 65536, 65537, 200000}) {
        for (const int count : {1, 3}) {
            SCOPED_TRACE(testing::Message() << size << " bytes, " << count << " recipients");
            const QByteArray plain = randomBytes(size);
            const QList<AgeIdentity> identities = newIdentities(count);
            const kt::shell::Result<QByteArray> file = ageEncrypt(plain, recipientsOf(identities));
            ASSERT_TRUE(file.ok()) << file.error().message.toStdString();
            EXPECT_EQ(file->count("\n-> X25519 "), count);
            // One chunk per 64 KiB begun, and one for nothing: a tag each.
            const qsizetype header = file->indexOf("\n--- ") + 5 + 43 + 1;
            const qsizetype chunks = std::max<qsizetype>(1, (size + 65535) / 65536);
            EXPECT_EQ(file->size(), header + 16 + size + 16 * chunks);
            for (const AgeIdentity& identity : identities) {
                const kt::shell::Result<QByteArray> opened =
                    ageDecrypt(*file, {identity}, kMaxBytes);
                ASSERT_TRUE(opened.ok()) << opened.error().message.toStdString();
                EXPECT_TRUE(*opened == plain);
            }
        }
    }
}

// Files of the C2SP CCTV age test suite, with the identity it gives them.
TEST(AgeFile, OpensPublishedVectorsAsTheySay) {
    const auto identities = kt::fleet::parseAgeIdentities(
        "AGE-SECRET-KEY-1XMWWC06LY3EE5RYTXM9MFLAZ2U56JJJ36S0MYPDRWSVLUL66MV4QX3S7F6");
    ASSERT_TRUE(identities.ok());
    const QByteArray version = "age-encryption.org/v1\n";
    const QByteArray stanza = "-> X25519 TEiF0ypqr+bpvcqXNyCVJpL7OuwPdVwPL7KQEbFDOCc\n"
                              "EmECAEcKN+n/Vs9SbWiV+Hu0r+E8R77DdWYyd83nw7U\n";
    // The nonce, then "age" in one last chunk.
    const QByteArray payload = QByteArray::fromHex(
        "eecf62c7ce91b433274e68d4f2f9134cb74c5bfef7beaa52c8f0bc0e992c1e8331fb66");
    QByteArray badTag = payload;
    badTag.back() = char(badTag.back() ^ 0x20);
    const struct {
        const char* name;
        QByteArray file;
        ErrorCode code;    // when it must fail
        const char* words; // of that error; null: it opens, to "age"
    } vectors[] = {
        {"x25519",
         version + stanza + "--- Vn+54jqiiUCE+WZcEVY3f1sqHjlu/z1LCQ/T7Xm7qI0\n" + payload,
         {},
         nullptr},
        {"x25519_multiple_recipients",
         version +
             "-> X25519 ajtqAvDEkVNr2B7zUOtq2mAQXDSBlNrVAuM/dKb5sT4\n"
             "0evrK/HQXVsQ4YaDe+659l5OQzvAzD2ytLGHQLQiqxg\n"
             "-> X25519 0qC7u6AbLxuwnM8tPFOWVtWZn/ZZe7z7gcsP5kgA0FI\n"
             "T/PZg76MmVt2IaLntrxppzDnzeFDYHsHFcnTnhbRLQ8\n"
             "--- 7W07ef2PhsTAl74pn+9vSj/Xzukwa6SuTqMc16cdBk0\n" +
             QByteArray::fromHex(
                 "f0b818be0f355442399920ad8084964b6f95c36db35e4f59d8f89e3cf26f2d1fa54213"),
         {},
         nullptr},
        {"x25519_grease",
         version + "-> grease\n\n" + stanza +
             "-> grease\n\n--- 7NLrfbRUZt6qK0pdtARUf59dHwo12ReldjJKjMlbE3I\n" + payload,
         {},
         nullptr},
        {"x25519_low_order",
         version +
             "-> X25519 X5yVvKNQjCSx0LFVnIPvWwREXMRYHI6G2CJO3dCfEdc\n"
             "RyQ8W3BBjsDugYSNpe2cPFXnJSLiKaDrM3Dkn34pMS0\n"
             "--- qorhedWZATPvp2zTmamyR1iWP1Z0xemi8GMd0UlXVos\n" +
             QByteArray::fromHex(
                 "ac5d3f3706e55071d3a604204697b9090595c2f7f5dbaee80d7a018c2872058af3ce7c"),
         ErrorCode::Invalid, "low-order"},
        {"x25519_lowercase",
         version + QByteArray(stanza).replace("X25519", "x25519") +
             "--- SwXKO3dXLh9l5QiSgMWgPhCkwstT8oB4jLDv7aBgC+c\n" + payload,
         ErrorCode::Denied, "no X25519 recipient stanza, only stanzas of type x25519"},
        {"x25519_not_canonical_body",
         version + QByteArray(stanza).replace("nw7U", "nw7V") +
             "--- eSjjCjQyp30yHDPwCztKS+1txs+aoCa5ERz8jeEp+9A\n" + payload,
         ErrorCode::Invalid, "malformed age header: line 3"},
        {"hmac_bad",
         version + stanza + "--- mDVVGICN0ok6mcPnZvUk3R0gf45Pp4cyw8yZLm2QSHA\n" + payload,
         ErrorCode::Invalid, "MAC does not match"},
        {"stanza_base64_padding",
         version + stanza + "-> stanza\n" + QByteArray("QUFB").repeated(16) +
             "\nQUE=\n--- OtG7IuNHaf2SHZuowmxg/fhbhtz0/DI5g5OGd7WH7S0\n" + payload,
         ErrorCode::Invalid, "malformed age header: line 6"},
        {"stream_bad_tag",
         version + stanza + "--- Vn+54jqiiUCE+WZcEVY3f1sqHjlu/z1LCQ/T7Xm7qI0\n" + badTag,
         ErrorCode::Invalid, "payload chunk 0 fails authentication"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        const kt::shell::Result<QByteArray> opened = ageDecrypt(v.file, *identities, kMaxBytes);
        if (v.words)
            EXPECT_TRUE(failsWith(opened, v.code, v.words));
        else
            EXPECT_EQ(opened.valueOr("(failed)"), "age") << opened.error().message.toStdString();
    }
}

TEST(AgeFile, TellsEachDamageAndGivesNothing) {
    const QList<AgeIdentity> identities = newIdentities(1);
    const QByteArray plain = randomBytes(150000); // chunks 0 and 1 full, 2 not
    const QByteArray file = *ageEncrypt(plain, recipientsOf(identities));
    const QByteArray whole = *ageEncrypt(randomBytes(65536), recipientsOf(identities));
    const qsizetype payload = file.indexOf("\n--- ") + 5 + 43 + 1 + 16;
    const qsizetype chunk = 65536 + 16;
    const auto flipped = [](QByteArray bytes, qsizetype at) {
        bytes[at] = char(bytes[at] ^ 0x01);
        return bytes;
    };
    // Another base64 character in the middle of a text: still base64.
    const auto retyped = [](QByteArray bytes, qsizetype at) {
        bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
        return bytes;
    };
    const auto replaced = [&](const char* before, const char* after) {
        return QByteArray(file).replace(before, after);
    };
    const struct {
        const char* name;
        QByteArray file;
        QList<AgeIdentity> identities;
        ErrorCode code;
        const char* words;
    } cases[] = {
        {"not age", flipped(file, 0), identities, ErrorCode::Invalid, "not an age file"},
        {"armored", "-----BEGIN AGE ENCRYPTED FILE-----\nYWdl\n", identities, ErrorCode::Invalid,
         "ASCII-armored"},
        {"version", replaced("org/v1\n", "org/v2\n"), identities, ErrorCode::Invalid,
         "unsupported age version 'v2'"},
        {"CRLF", replaced("org/v1\n", "org/v1\r\n"), identities, ErrorCode::Invalid,
         "unsupported age version"},
        {"MAC changed", retyped(file, payload - 16 - 20), identities, ErrorCode::Invalid,
         "MAC does not match"},
        {"stanza added", replaced("\n---", "\n-> grease\n\n---"), identities, ErrorCode::Invalid,
         "MAC does not match"},
        {"wrapped key changed", retyped(file, file.indexOf("\n---") - 20), identities,
         ErrorCode::Denied, "no identity given opens"},
        {"wrong identity", file, newIdentities(2), ErrorCode::Denied, "no identity given opens"},
        {"no identity", file, {}, ErrorCode::Denied, "no identity given opens"},
        {"other stanzas only", replaced("-> X25519 ", "-> scrypt c2FsdA 18\n\n-> piv-p256 "),
         identities, ErrorCode::Denied, "only stanzas of type scrypt, piv-p256"},
        {"first chunk changed", flipped(file, payload + 10), identities, ErrorCode::Invalid,
         "payload chunk 0 fails authentication"},
        {"last chunk changed", flipped(file, file.size() - 1), identities, ErrorCode::Invalid,
         "payload chunk 2 fails authentication"},
        {"nonce changed", flipped(file, payload - 1), identities, ErrorCode::Invalid,
         "payload chunk 0 fails authentication"},
        {"cut in header", file.left(40), identities, ErrorCode::Invalid,
         "truncated age file: it ends inside its header"},
        {"cut after header", file.left(payload - 16), identities, ErrorCode::Invalid,
         "truncated age file: it ends before its payload"},
        {"cut after a chunk", file.left(payload + chunk), identities, ErrorCode::Invalid,
         "truncated age file: it ends after chunk 0, which is not the last"},
        {"cut in a chunk", file.left(payload + chunk + 100), identities, ErrorCode::Invalid,
         "payload chunk 1 fails authentication"},
        {"cut in a tag", file.left(payload + 2 * chunk + 7), identities, ErrorCode::Invalid,
         "chunk 2 is cut short"},
        {"trailing data", whole + "more", identities, ErrorCode::Invalid,
         "trailing data after its last chunk"},
        {"too large", file, identities, ErrorCode::TooLarge, "larger than the 1000 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const qint64 limit = QByteArray(c.name) == "too large" ? 1000 : kMaxBytes;
        EXPECT_TRUE(failsWith(ageDecrypt(c.file, c.identities, limit), c.code, c.words));
    }
    EXPECT_TRUE(*ageDecrypt(file, identities, kMaxBytes) == plain);
}

TEST(AgeFile, RefusesOversizedHeaders) {
    const QList<AgeIdentity> identities = newIdentities(1);
    const QByteArray file = *ageEncrypt("x", recipientsOf(identities));
    const QByteArray grease = "-> grease\n\n";
    const qsizetype mac = file.indexOf("--- ");
    EXPECT_TRUE(failsWith(
        ageDecrypt(file.left(mac) + grease.repeated(2000) + file.mid(mac), identities, kMaxBytes),
        ErrorCode::TooLarge, "more than 2000 stanzas"));
    EXPECT_TRUE(failsWith(ageDecrypt(file.left(mac) + "-> grease\n" +
                                         QByteArray(64, 'A').append('\n').repeated(20000) + "\n" +
                                         file.mid(mac),
                                     identities, kMaxBytes),
                          ErrorCode::TooLarge, "longer than 1024 KB"));
}

TEST(AgeKeys, ReadsKeyFilesAsAgeWritesThem) {
    // The pair of keys that the age format's own documents give.
    const auto identities = kt::fleet::parseAgeIdentities(
        "# created: 2026-01-01\r\n"
        "# public key: age1zvkyg2lqzraa2lnjvqej32nkuu0ues2s82hzrye869xeexvn73equnujwj\r\n"
        "AGE-SECRET-KEY-1GFPYYSJZGFPYYSJZGFPYYSJZGFPYYSJZGFPYYSJZGFPYYSJZGFPQ4EGAEX\r\n\r\n");
    ASSERT_TRUE(identities.ok()) << identities.error().message.toStdString();
    ASSERT_EQ(identities->size(), 1);
    EXPECT_EQ(identities->front().recipient().text,
              "age1zvkyg2lqzraa2lnjvqej32nkuu0ues2s82hzrye869xeexvn73equnujwj");
    EXPECT_EQ(identities->front().text(),
              "AGE-SECRET-KEY-1GFPYYSJZGFPYYSJZGFPYYSJZGFPYYSJZGFPYYSJZGFPYYSJZGFPQ4EGAEX");
    const AgeIdentity made = *AgeIdentity::generate();
    const auto again = kt::fleet::parseAgeIdentities(made.text());
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->front().secret(), made.secret());

    const QByteArray recipient = "age1zvkyg2lqzraa2lnjvqej32nkuu0ues2s82hzrye869xeexvn73equnujwj";
    const auto recipients =
        kt::fleet::parseAgeRecipients("# the gateway's keys\n\n  " + recipient + "  \n" +
                                      made.recipient().text.toLatin1() + "\n");
    ASSERT_TRUE(recipients.ok()) << recipients.error().message.toStdString();
    ASSERT_EQ(recipients->size(), 2);
    EXPECT_EQ(recipients->at(0).publicKey, identities->front().publicKey());
    EXPECT_EQ(recipients->at(1).publicKey, made.publicKey());

    QByteArray typo = recipient;
    typo[10] = typo[10] == 'q' ? 'p' : 'q';
    const QByteArray identity = made.text();
    const struct {
        const char* name;
        QByteArray text;
        bool identities;
        ErrorCode code;
        const char* words;
    } cases[] = {
        {"typo", "# keys\n" + typo, false, ErrorCode::Invalid, "line 2: not an age recipient"},
        {"typo's cause", typo, false, ErrorCode::Invalid, "checksum is wrong"},
        {"upper case recipient", recipient.toUpper(), false, ErrorCode::Invalid,
         "does not start with age1"},
        {"mixed case", recipient.left(20) + recipient.mid(20).toUpper(), false, ErrorCode::Invalid,
         "mixes upper and lower case"},
        {"identity as recipient", identity, false, ErrorCode::Invalid, "does not start with age1"},
        {"cut", recipient.chopped(1), false, ErrorCode::Invalid, "checksum is wrong"},
        {"other text", "\n\nssh-ed25519 AAAA", false, ErrorCode::Invalid, "line 3"},
        {"no key", "# nothing\n\n", false, ErrorCode::Invalid, "holds no key"},
        {"too many", (recipient + "\n").repeated(1001), false, ErrorCode::TooLarge,
         "line 1001: more than 1000 keys"},
        {"too large", QByteArray(64 * 1024 + 1, '#'), false, ErrorCode::TooLarge, "64 KB"},
        {"lower case identity", identity.toLower(), true, ErrorCode::Invalid,
         "does not start with AGE-SECRET-KEY-1"},
        {"recipient as identity", recipient, true, ErrorCode::Invalid,
         "line 1: not an age identity"},
        {"identity typo", identity.left(30) + (identity[30] == 'Q' ? "P" : "Q") + identity.mid(31),
         true, ErrorCode::Invalid, "checksum is wrong"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const kt::shell::Error error = c.identities ? kt::fleet::parseAgeIdentities(c.text).error()
                                                    : kt::fleet::parseAgeRecipients(c.text).error();
        EXPECT_EQ(error.code, c.code);
        EXPECT_TRUE(error.message.contains(QLatin1String(c.words))) << error.message.toStdString();
        // A secret that cannot be read is never shown in the message.
        EXPECT_FALSE(
            error.message.contains(QString::fromLatin1(identity.mid(16, 20)), Qt::CaseInsensitive));
    }
}

} // namespace
