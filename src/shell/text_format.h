// Number and text conversions shared by every part of the program: the
// fixed-digit formats of keys and labels, the number-to-text form with a
// leading blank used in captions, the shortest decimal text of stored
// times, and the "leading decimal number" reading of texts.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kt::shell {

// Removes blanks (only the space character) at both ends.
QByteArray trimBlanks(const QByteArray& text);

// The number with at least `digits` digits, zero-padded: 7 with 2 digits
// gives "07", 123 with 2 digits gives "123". Negative numbers keep their sign.
QByteArray formatDigits(long long value, int digits);

// The number with one blank before it when it is not negative: 3 gives
// " 3", -3 gives "-3". Used in captions ("- AppSet: " followed by " 3").
QByteArray numberWithSign(long long value);

// The shortest decimal text that reads back as the same single-precision
// number, never in exponent form: 12.5f gives "12.5", 10.0f gives "10".
QByteArray shortestDecimal(float value);

// The leading decimal number of the trimmed text: an optional sign, digits
// and an optional fraction. "12abc" gives 12, "12.5" gives 12.5, "abc" and
// "" give 0.
double leadingNumber(const QByteArray& text);

// The text with %1, %2 ... replaced by the values in one pass, so that a
// value holding "%2" comes out as written; a placeholder without a value,
// and a text without placeholders, stay as they are. Every message with
// more than one value is filled by this.
QString fillIn(const QString& text, const QStringList& values);

// Rounds to the nearest whole number, halves to even, saturating at the
// range of int.
int roundToInt(double value);

} // namespace kt::shell
