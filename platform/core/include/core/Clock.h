#pragma once

#include <QDate>
#include <QString>
#include <QStringView>

namespace kav {

class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDate today() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDate today() const override;
};

// "yyyy" four-digit year, "mm" two-digit month, "dd" two-digit day; every other
// character is copied as it stands.
QString FormatDate(const QDate& date, QStringView pattern);

} // namespace kav
