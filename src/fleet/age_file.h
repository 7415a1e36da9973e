// Files in the age v1 format (age-encryption.org/v1), binary form, for X25519
// recipients: a file written here opens with `age -d -i KEY`, and one that
// `age -r RECIPIENT` wrote opens here. The cryptography is libsodium's.
#pragma once

#include "shell/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>

namespace kt::fleet {

using AgeKey = std::array<std::uint8_t, 32>;

// A key that files are encrypted to, as `age-keygen -y` prints it: age1...
struct AgeRecipient {
    AgeKey publicKey{};
    QString text;
};

// A key that opens files, as `age-keygen` writes it: AGE-SECRET-KEY-1...
// The secret is wiped from memory when the object goes.
class AgeIdentity {
  public:
    explicit AgeIdentity(const AgeKey& secret);
    AgeIdentity(const AgeIdentity& other);
    AgeIdentity& operator=(const AgeIdentity& other);
    ~AgeIdentity();

    // A new random key; an error only when libsodium cannot start.
    static shell::Result<AgeIdentity> generate();

    const AgeKey& secret() const { return secret_; }
    const AgeKey& publicKey() const { return public_; }
    AgeRecipient recipient() const;
    // The AGE-SECRET-KEY-1... line, for an identity file.
    QByteArray text() const;

  private:
    AgeKey secret_{};
    AgeKey public_{};
};

// Bounds of the key files: far above what a fleet's own keys need.
inline constexpr qint64 kMaxAgeKeyFileBytes = 64 * 1024;
inline constexpr int kMaxAgeRecipients = 1000;

// A recipients file: one age1... key a line, blank lines and # comments
// allowed. Anything else, more than kMaxAgeRecipients keys or more than
// kMaxAgeKeyFileBytes is an Invalid or TooLarge error naming the line.
shell::Result<QList<AgeRecipient>> parseAgeRecipients(const QByteArray& text);
// An identity file: AGE-SECRET-KEY-1... lines, blank lines and # comments.
shell::Result<QList<AgeIdentity>> parseAgeIdentities(const QByteArray& text);
// The same read from files, their errors naming the file.
shell::Result<QList<AgeRecipient>> readAgeRecipients(const QString& path);
shell::Result<QList<AgeIdentity>> readAgeIdentities(const QString& path);

// `plaintext` encrypted to each of `recipients` (1 to kMaxAgeRecipients).
shell::Result<QByteArray> ageEncrypt(const QByteArray& plaintext,
                                     const QList<AgeRecipient>& recipients);

// Whether `file` begins as an age v1 file does: such a file is no backup
// file in clear.
bool isAgeFile(const QByteArray& file);

// The plaintext of the age file `file`, opened with one of `identities`, or
// nothing of it: Denied when no identity opens the file (none of its X25519
// stanzas, or it has none), TooLarge past `maxBytes`, Invalid for anything
// else (not an age file, another version, a malformed header or one whose MAC
// does not match, a damaged, truncated or extended payload).
shell::Result<QByteArray> ageDecrypt(const QByteArray& file, const QList<AgeIdentity>& identities,
                                     qint64 maxBytes);

} // namespace kt::fleet
