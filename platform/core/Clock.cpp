#include "core/Clock.h"

namespace kav {

QDate SystemClock::today() const
{
    return QDate::currentDate();
}

QString FormatDate(const QDate& date, QStringView pattern)
{
    const auto digits = [](int value, int width) { return QString::number(value).rightJustified(width, u'0'); };
    QString text;
    text.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size();) {
        const QStringView rest = pattern.mid(i);
        if (rest.startsWith(u"yyyy")) {
            text += digits(date.year(), 4);
            i += 4;
        } else if (rest.startsWith(u"mm")) {
            text += digits(date.month(), 2);
            i += 2;
        } else if (rest.startsWith(u"dd")) {
            text += digits(date.day(), 2);
            i += 2;
        } else {
            text += pattern[i++];
        }
    }
    return text;
}

} // namespace kav
