#pragma once

#include "core/Clock.h"

namespace kav::test {

class FixedClock final : public Clock
{
public:
    explicit FixedClock(QDate date) : m_date(date) {}
    QDate today() const override { return m_date; }
    void set(QDate date) { m_date = date; }

private:
    QDate m_date;
};

} // namespace kav::test
