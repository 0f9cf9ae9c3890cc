#pragma once

#include <QString>

class QWidget;

namespace kav {

constexpr int HH_DISPLAY_TOPIC = 0;
constexpr int HH_CLOSE_ALL = 18;

class HelpViewer
{
public:
    virtual ~HelpViewer() = default;
    // HH_DISPLAY_TOPIC opens file in a viewer window owned by owner at its default
    // topic; HH_CLOSE_ALL closes every viewer window opened so far. The result is
    // nonzero when something was shown or closed; callers do not rely on it.
    virtual int HtmlHelpA(QWidget* owner, const QString& file, int command, quintptr data) = 0;
};

} // namespace kav
