// Fuzz target for the age files: the input is read as a recipients file, as
// an identity file and as an age file, whole and after a header that a
// fixed identity opens, so that the payload's checks are reached too. What
// is read must hold: a key read writes back as the same key, and a file
// that opens encrypts and opens again to the same plaintext.
#include "fleet/age_file.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

constexpr qint64 kMaxBytes = 1024 * 1024;

// A header of the CCTV age test suite that this identity opens.
constexpr char kIdentity[] =
    "AGE-SECRET-KEY-1XMWWC06LY3EE5RYTXM9MFLAZ2U56JJJ36S0MYPDRWSVLUL66MV4QX3S7F6";
constexpr char kHeader[] = "age-encryption.org/v1\n"
                           "-> X25519 TEiF0ypqr+bpvcqXNyCVJpL7OuwPdVwPL7KQEbFDOCc\n"
                           "EmECAEcKN+n/Vs9SbWiV+Hu0r+E8R77DdWYyd83nw7U\n"
                           "--- Vn+54jqiiUCE+WZcEVY3f1sqHjlu/z1LCQ/T7Xm7qI0\n";

void decrypt(const QByteArray& file, const QList<kt::fleet::AgeIdentity>& identities) {
    const kt::shell::Result<QByteArray> plain = kt::fleet::ageDecrypt(file, identities, kMaxBytes);
    if (!plain) {
        check(!plain.error().message.isEmpty());
        return;
    }
    check(plain->size() < file.size());
    const auto again = kt::fleet::ageEncrypt(*plain, {identities.front().recipient()});
    check(again.ok());
    check(kt::fleet::ageDecrypt(*again, identities, kMaxBytes).valueOr("-") == *plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const QByteArray data(reinterpret_cast<const char*>(bytes), qsizetype(size));

    if (const auto recipients = kt::fleet::parseAgeRecipients(data)) {
        check(!recipients->isEmpty() && recipients->size() <= kt::fleet::kMaxAgeRecipients);
        for (const kt::fleet::AgeRecipient& recipient : *recipients) {
            const auto again = kt::fleet::parseAgeRecipients(recipient.text.toLatin1());
            check(again.ok() && again->front().publicKey == recipient.publicKey);
        }
    }
    const auto identities = kt::fleet::parseAgeIdentities(data);
    if (identities) {
        for (const kt::fleet::AgeIdentity& identity : *identities) {
            const auto again = kt::fleet::parseAgeIdentities(identity.text());
            check(again.ok() && again->front().secret() == identity.secret());
        }
        decrypt(data, *identities);
    }

    static const QList<kt::fleet::AgeIdentity> fixed = *kt::fleet::parseAgeIdentities(kIdentity);
    decrypt(data, fixed);
    decrypt(kHeader + data, fixed);
    return 0;
}
