#include "core/Conversions.h"

#include <QLocale>

#include <cmath>

namespace kav {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

qsizetype skipBlanks(QStringView text, qsizetype i)
{
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

// An optional sign, then digits with at most one decimal point; returns where the scan stopped.
qsizetype scanNumber(QStringView text, qsizetype i, bool& sawDigit)
{
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    bool sawPoint = false;
    for (; i < text.size(); ++i) {
        if (isDigit(text[i]))
            sawDigit = true;
        else if (text[i] == u'.' && !sawPoint)
            sawPoint = true;
        else
            break;
    }
    return i;
}

std::optional<qint16> toInt16(double whole)
{
    if (!std::isfinite(whole) || whole < -32768.0 || whole > 32767.0)
        return std::nullopt;
    return static_cast<qint16>(whole);
}

} // namespace

std::optional<double> LeadingNumber(QStringView text)
{
    const qsizetype start = skipBlanks(text, 0);
    bool sawDigit = false;
    const qsizetype end = scanNumber(text, start, sawDigit);
    if (!sawDigit)
        return std::nullopt;
    const double value = text.sliced(start, end - start).toDouble();
    return value == 0 ? 0 : value; // no "-0"
}

double LeadingValue(QStringView text)
{
    return LeadingNumber(text).value_or(0);
}

QString NarrowDigits(QStringView text)
{
    QString out = text.toString();
    for (QChar& c : out) {
        if (c.unicode() < 0x80 || !(c.isDigit() || c.isSpace()))
            continue;
        const QString folded = QString(c).normalized(QString::NormalizationForm_KC);
        if (folded.size() == 1 && folded[0].unicode() < 0x80)
            c = folded[0];
    }
    return out;
}

std::optional<double> StrictValue(QStringView text)
{
    const qsizetype start = skipBlanks(text, 0);
    bool sawDigit = false;
    qsizetype end = scanNumber(text, start, sawDigit);
    if (!sawDigit)
        return std::nullopt;
    if (end < text.size() && (text[end] == u'e' || text[end] == u'E')) {
        qsizetype i = end + 1;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        const qsizetype digitsStart = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        if (i == digitsStart)
            return std::nullopt;
        end = i;
    }
    if (skipBlanks(text, end) != text.size())
        return std::nullopt;
    bool ok = false;
    const double value = text.sliced(start, end - start).toDouble(&ok);
    if (!ok) // overflow or underflow
        return std::nullopt;
    return value == 0 ? 0 : value;
}

std::optional<qint16> FloorToInt16(double x)
{
    return toInt16(std::floor(x));
}

std::optional<qint16> RoundToInt16(double x)
{
    // The default rounding mode is to nearest, ties to even; nothing here changes it.
    return toInt16(std::nearbyint(x));
}

QString IntText(int value)
{
    return QString::number(value);
}

QString RealText(double value)
{
    // Plain digits where they stay readable; 'g' alone would write 100000 as "1e+05".
    const double size = std::fabs(value);
    // Whole numbers (every volume label) take the integer path: the same digits, a tenth of the work.
    if (size < 1e15 && value == std::trunc(value))
        return QString::number(qint64(value));
    const bool plain = value == 0 || (size >= 1e-4 && size < 1e15);
    return QString::number(value == 0 ? 0.0 : value, plain ? 'f' : 'g', QLocale::FloatingPointShortest);
}

} // namespace kav
