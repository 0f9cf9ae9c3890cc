#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace kav {

// Leading-number value: leading blanks, an optional sign, digits with one decimal
// point; stops at the first other character. No number gives 0 ("50巻" is 50).
double LeadingValue(QStringView text);

// The leading number, or nothing when the text does not start with one.
std::optional<double> LeadingNumber(QStringView text);

// A number as an input method types it, for the rules above: full-width digits and
// spaces (the ideographic space too) become ASCII; everything else stays as typed.
QString NarrowDigits(QStringView text);

// Strict text-to-number: the whole text (blanks around it allowed) must be a number.
std::optional<double> StrictValue(QStringView text);

// Largest integer not above x, as a signed 16-bit integer; nullopt outside the range.
std::optional<qint16> FloorToInt16(double x);

// Nearest integer, ties to the even one; nullopt outside the signed 16-bit range.
std::optional<qint16> RoundToInt16(double x);

// Decimal digits, "-" before a negative value, no leading zeros or blanks.
QString IntText(int value);

// Shortest decimal form, without a trailing ".0".
QString RealText(double value);

} // namespace kav
