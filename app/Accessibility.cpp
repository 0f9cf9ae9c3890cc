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
    const QColor colour = label->palette().color(label->backgroundRole());
    if (colour == frmMain::flagColour(1))
        return QStringLiteral("未収集");
    if (colour == frmMain::flagColour(0))
        return QStringLiteral("収集済み");
    return QStringLiteral("不明な値");
}

// The window's labels. Interfaces are made as soon as a widget exists, before
// it has its name, so what a label is gets decided when it is asked.
class WindowLabel final : public QAccessibleWidget
{
public:
    explicit WindowLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QLabel* label() const { return static_cast<QLabel*>(object()); }
    // A volume label or the count label: clicked like a button.
    bool pressable() const { return volumeIndex(label()) > 0 || isCountLabel(label()); }

    QAccessible::Role role() const override
    {
        if (pressable())
            return QAccessible::Button;
        return label()->pixmap().isNull() ? QAccessible::StaticText : QAccessible::Graphic;
    }

    QString text(QAccessible::Text t) const override
    {
        if (!pressable()) {
            if (t == QAccessible::Name && label()->accessibleName().isEmpty())
                return label()->text();
            return QAccessibleWidget::text(t);
        }
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

    QStringList actionNames() const override
    {
        return pressable() ? QStringList{pressAction()} : QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (!pressable() || action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        auto* window = qobject_cast<frmMain*>(label()->window());
        if (!window || label()->isHidden())
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
        if (t == QAccessible::Value || (t == QAccessible::Name && box()->accessibleName().isEmpty()))
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
    if (!object || !object->isWidgetType() || !qobject_cast<frmMain*>(static_cast<QWidget*>(object)->window()))
        return nullptr;
    if (className == QLatin1String("QComboBox"))
        return new NamedComboBox(static_cast<QComboBox*>(object));
    if (className == QLatin1String("QLabel"))
        return new WindowLabel(static_cast<QLabel*>(object));
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

void announce(QWidget* control, const QString& text)
{
    if (!QAccessible::isActive())
        return;
    // The control's own description, kept while announcements follow each other.
    static constexpr char Own[] = "kavurioOwnDescription";
    if (!control->property(Own).isValid())
        control->setProperty(Own, control->accessibleDescription());
    control->setAccessibleDescription(text);
    QAccessibleEvent event(control, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
    QTimer::singleShot(5000, control, [control, text] {
        if (control->accessibleDescription() != text)
            return;
        control->setAccessibleDescription(control->property(Own).toString());
        control->setProperty(Own, QVariant());
    });
}

} // namespace kav::accessibility
