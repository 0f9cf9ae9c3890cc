#include "Accessibility.h"

#include "frmMain.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace kav::accessibility {

namespace {

constexpr const char* VolumePrefix = "lblKan_";

int volumeIndex(const QObject* object)
{
    const QString name = object->objectName();
    if (!name.startsWith(QLatin1String(VolumePrefix)))
        return 0;
    bool ok = false;
    const int index = name.mid(int(qstrlen(VolumePrefix))).toInt(&ok);
    return ok ? index : 0;
}

bool isCountLabel(const QObject* object)
{
    return object->objectName() == QLatin1String("lblKansu");
}

QString stateText(const QLabel* label)
{
    if (!label->autoFillBackground())
        return {};
    const QColor colour = label->palette().color(QPalette::Window);
    if (colour == frmMain::flagColour(1))
        return QStringLiteral("未収集");
    if (colour == frmMain::flagColour(0))
        return QStringLiteral("収集済み");
    return QStringLiteral("不明な値");
}

// A label that is clicked like a button.
class PressableLabel final : public QAccessibleWidget
{
public:
    explicit PressableLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::Button) {}

    QLabel* label() const { return static_cast<QLabel*>(object()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            if (isCountLabel(label()))
                return QStringLiteral("巻数 ") + label()->text();
            return volumeName(label());
        case QAccessible::Description:
            if (isCountLabel(label()))
                return QStringLiteral("押すと巻数を修正できます（F2キー）");
            return QStringLiteral("押すと収集済みと未収集が切り替わります（F6キーで巻を選び、スペースキーで切り替え）");
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& action) override
    {
        if (action != pressAction() || label()->isHidden())
            return;
        auto* window = qobject_cast<frmMain*>(label()->window());
        if (!window)
            return;
        // After the call returns: the handler may open a modal dialog, and the
        // screen reader waits for its answer.
        QPointer<frmMain> target(window);
        const int index = volumeIndex(label());
        QTimer::singleShot(0, window, [target, index] {
            if (!target)
                return;
            if (index > 0)
                target->lblKan_Click(index);
            else
                target->lblKansu_Click();
        });
    }

    QStringList keyBindingsForAction(const QString& action) const override
    {
        if (action == pressAction() && isCountLabel(label()))
            return {QStringLiteral("F2")};
        return {};
    }
};

// Qt names an editable combo box after its text on Linux; a selector whose name
// changes with every title says nothing about what it selects. This one is named
// by its accessible name and keeps the text as its value.
class NamedComboBox final : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QComboBox* box() const { return static_cast<QComboBox*>(object()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return box()->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = box()->isEditable();
        s.expandable = true;
        s.expanded = box()->view() && box()->view()->isVisible();
        return s;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction())
            box()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("QComboBox")) {
        auto* box = static_cast<QComboBox*>(object);
        // Asked for while the window is still being built: decide by the control, not its name yet.
        const bool selector =
            box->objectName() == QLatin1String("cboName") || box->objectName() == QLatin1String("cboSyo");
        return selector && qobject_cast<frmMain*>(box->window()) ? new NamedComboBox(box) : nullptr;
    }
    if (className != QLatin1String("QLabel"))
        return nullptr;
    auto* label = static_cast<QLabel*>(object);
    if (volumeIndex(label) > 0 || isCountLabel(label)) {
        if (qobject_cast<frmMain*>(label->window()))
            return new PressableLabel(label);
    }
    return nullptr;
}

} // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString volumeName(const QLabel* label)
{
    const QString number = label->text();
    if (number.isEmpty())
        return QStringLiteral("巻%1").arg(volumeIndex(label));
    const QString state = stateText(label);
    return state.isEmpty() ? number + QStringLiteral("巻") : number + QStringLiteral("巻 ") + state;
}

void nameChanged(QLabel* label)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

} // namespace kav::accessibility
