#include "frmMain.h"

#include "ui_frmMain.h"

#include "Accessibility.h"
#include "FixedWindow.h"
#include "Messages.h"
#include "TitleSearch.h"
#include "TitleSelector.h"
#include "VolumeCursor.h"
#include "VolumeGrid.h"
#include "WindowStyle.h"

#include "core/Conversions.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShortcut>
#include <QStringListModel>
#include <QTimer>

// How the window looks and takes keys: fonts, colours, names for screen readers.
namespace kav {

namespace {

const QString Gothic = QStringLiteral("ＭＳ Ｐゴシック");
const QString Serif = QStringLiteral("Times New Roman");

// The fonts the window names, mapped onto the ones Debian ships.
void installFontSubstitutes()
{
    static const bool done = [] {
        QFont::insertSubstitutions(Gothic, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
        QFont::insertSubstitutions(Serif, {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
        return true;
    }();
    Q_UNUSED(done);
}

QFont windowFont(const QString& family, int pixels)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setWeight(QFont::Normal);
    return font;
}

// Qt reports an item as chosen when typed text that equals it is left (focus moves
// away, Enter): that is no pick. Such a report comes while the text field handles
// that event, so the gate stays shut until the event loop's next turn.
class PickGate final : public QObject
{
public:
    // The box hands its focus and key events to the text field directly, so both are watched.
    explicit PickGate(QComboBox* box) : QObject(box)
    {
        box->installEventFilter(this);
        if (box->lineEdit())
            box->lineEdit()->installEventFilter(this);
    }
    bool open() const { return !m_shut; }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        const bool leaving =
            event->type() == QEvent::FocusOut ||
            (event->type() == QEvent::KeyPress && (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                                                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter));
        if (leaving && !m_shut) {
            m_shut = true;
            QTimer::singleShot(0, this, [this] { m_shut = false; });
        }
        return false;
    }

private:
    bool m_shut = false;
};

void setLabelColour(QLabel* label, const QColor& colour)
{
    if (label->autoFillBackground() && label->palette().color(QPalette::Window) == colour)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

} // namespace

frmMain::frmMain(const Services& services, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmMain>()), m_services(services),
      m_store(services.files, services.watcher)
{
    installFontSubstitutes();
    ui->setupUi(this);
    setUpControls();
    connectEvents();
}

frmMain::~frmMain() = default;

QLabel* frmMain::volumeLabel(int index) const
{
    return ui->Frame1->label(index);
}

QColor frmMain::flagColour(qint16 flag)
{
    return VolumeGrid::flagColour(flag);
}

void frmMain::setUpControls()
{
    setFixedSize(631, 452);
    // A fixed window: no maximize button, just the menu, minimize and close.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/pictures/kavurio.ico")));

    // The GIF at 100 %; on a scaled screen the same logo drawn twice as large, brought to the
    // screen's own pixels, not the small one blown up.
    const qreal ratio = devicePixelRatioF();
    if (ratio > 1) {
        QPixmap logo = QPixmap(QStringLiteral(":/pictures/logo@2x.png"))
                           .scaled((QSizeF(243, 61) * ratio).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        logo.setDevicePixelRatio(ratio);
        ui->Image1->setPixmap(logo);
    } else {
        ui->Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/logo.gif")));
    }
    // Paper has more dots than a screen: the printout draws the large pictures.
    WindowStyle::addSharpVariant(ui->Image1->pixmap(), QPixmap(QStringLiteral(":/pictures/logo@2x.png")));

    const struct
    {
        QToolButton* button;
        const char16_t* icon;
    } buttons[] = {
        {ui->cmdNew, u":/pictures/new.ico"},     {ui->cmdDel, u":/pictures/del.ico"},
        {ui->cmdHozon, u":/pictures/hozon.ico"}, {ui->cmdPrint, u":/pictures/print.ico"},
        {ui->cmdHelp, u":/pictures/help.ico"},   {ui->cmdShoukai, u":/pictures/pro.ico"},
        {ui->cmdEnd, u":/pictures/end.ico"},
    };
    for (const auto& b : buttons) {
        const QString file = QString::fromUtf16(b.icon);
        b.button->setIcon(QIcon(file));
        b.button->setAutoRaise(false);
        WindowStyle::addSharpVariant(b.button->icon().pixmap(b.button->iconSize()),
                                     QPixmap(QString(file).replace(QStringLiteral(".ico"), QStringLiteral("@2x.ico"))));
    }

    auto paintLine = [](QFrame* line, const QColor& colour) {
        line->setFrameShape(QFrame::NoFrame);
        line->setAutoFillBackground(true);
        QPalette palette = line->palette();
        palette.setColor(QPalette::Window, colour);
        line->setPalette(palette);
    };
    paintLine(ui->Line1_0, Qt::black);
    paintLine(ui->Line1_1, Qt::white);

    m_selector = std::make_unique<TitleSelector>(ui->cboName);
    ui->cboName->setFont(windowFont(Gothic, 35));
    ui->cboName->setEditText(QStringLiteral("Combo1"));
    ui->cboSyo->setFont(windowFont(Gothic, 19));
    ui->cboSyo->setEditText(QStringLiteral("1"));
    for (QComboBox* box : {ui->cboName, ui->cboSyo})
        box->lineEdit()->installEventFilter(this);
    ui->cboName->installEventFilter(this);
    ui->cboSyo->installEventFilter(this);
    {
        QPalette palette = ui->cboSyo->palette();
        palette.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xC0));
        palette.setColor(QPalette::Text, Qt::black);
        ui->cboSyo->setPalette(palette);
    }

    const QColor cyan(0xC0, 0xFF, 0xFF);
    const QColor yellow(0xFF, 0xFF, 0xC0);
    for (QLabel* label : {ui->Label1_0, ui->lblKansu, ui->Label1_1}) {
        label->setFont(windowFont(Gothic, 21));
        label->setFrameShape(QFrame::Box);
        label->setLineWidth(1);
        label->setAlignment(Qt::AlignCenter);
        label->setFocusPolicy(Qt::NoFocus);
    }
    setLabelColour(ui->Label1_0, cyan);
    setLabelColour(ui->lblKansu, cyan);
    setLabelColour(ui->Label1_1, yellow);
    ui->lblKansu->installEventFilter(this);

    ui->lblKensu->setFont(windowFont(Gothic, 16));
    ui->lblKensu->setFocusPolicy(Qt::NoFocus);

    // What is typed into a selector stays as typed: a completed name would be a title
    // the user never named. The title selector's search offers names beside it instead.
    ui->cboName->setCompleter(nullptr);
    ui->cboSyo->setCompleter(nullptr);

    ui->Image1->setFocusPolicy(Qt::NoFocus);
    ui->Frame1->setFocusPolicy(Qt::NoFocus);
    ui->hsbData->setFocus();

    setUpDesktop();
}

void frmMain::fillStartVolumes()
{
    for (int k = 0; k <= 500; k += 50) {
        // Qt puts the first item into an empty box's text; the text stays as shown.
        const QString text = ui->cboSyo->currentText();
        ui->cboSyo->addItem(IntText(k + 1));
        ui->cboSyo->setCurrentIndex(-1);
        ui->cboSyo->setEditText(text);
    }
}

QKeySequence frmMain::volumeGridKey()
{
    return QKeySequence(Qt::Key_F6);
}

QKeySequence frmMain::countKey()
{
    return QKeySequence(Qt::Key_F2);
}

void frmMain::setUpDesktop()
{
    new FixedWindow(this);

    // Text and borders on the window's own light colours stay black under a dark theme.
    auto blackText = [](QWidget* widget) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        widget->setPalette(palette);
    };
    QList<QLabel*> boxed = {ui->Label1_0, ui->lblKansu, ui->Label1_1};
    for (QLabel* label : boxed)
        blackText(label);
    for (int i = 1; i <= storage::FlagCount; ++i)
        boxed.append(ui->Frame1->label(i)); // black since they were made

    // Created after the widgets it draws, so it is deleted after them too.
    auto* style = new WindowStyle;
    style->setParent(this);
    for (QLabel* label : boxed)
        label->setStyle(style);
    ui->hsbData->setStyle(style);
    ui->Image1->setStyle(style);
    for (QToolButton* button : findChildren<QToolButton*>())
        button->setStyle(style);
    ui->hsbData->installEventFilter(this);

    fitPositionLabel();

    // Names for screen readers where the control's text would say nothing.
    const words::Labels text = words::labels(volumeGridKey().toString(QKeySequence::NativeText),
                                             countKey().toString(QKeySequence::NativeText));
    ui->hsbData->setAccessibleName(text.positionBar);
    ui->cboName->setAccessibleName(text.title);
    ui->cboName->lineEdit()->setAccessibleName(text.title);
    ui->cboSyo->setAccessibleName(text.startVolume);
    ui->cboSyo->lineEdit()->setAccessibleName(text.startVolume);
    ui->lblKensu->setAccessibleDescription(text.positionText);
    ui->Image1->setAccessibleName(text.logo);
    ui->Frame1->setAccessibleName(text.grid);
    ui->Line1_0->setAccessibleName(text.rule);
    ui->Line1_1->setAccessibleName(text.rule);
    accessibility::install();

    m_cursor = new VolumeCursor(
        ui->Frame1, storage::FlagCount, [this](int i) { return ui->Frame1->label(i); },
        [this](int i) { lblKan_Click(i); });

    ui->Frame1->setToolTip(text.gridTip);
    ui->lblKansu->setToolTip(ui->lblKansu->toolTip() + QLatin1Char('\n') + text.countTip);
    ui->hsbData->setToolTip(text.positionBarTip);
}

void frmMain::fitPositionLabel()
{
    // The widest caption the label can get, with the widest digit of its font: it
    // must show whole in the label's own width, so letters close up where needed.
    QFont font = ui->lblKensu->font();
    auto widest = [&](const QFont& f) {
        const QFontMetrics metrics(f);
        int most = 0;
        for (char16_t d = u'0'; d <= u'9'; ++d) {
            const QString four(4, QChar(d));
            most = std::max(most, metrics.horizontalAdvance(four + QStringLiteral(" / ") + four));
        }
        return most;
    };
    const int room = ui->lblKensu->contentsRect().width();
    qreal spacing = 0;
    while (widest(font) > room && spacing > -2.0) {
        spacing -= 0.25;
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    }
    ui->lblKensu->setFont(font);
}

void frmMain::connectEvents()
{
    connect(ui->hsbData, &QScrollBar::valueChanged, this, &frmMain::hsbData_Change);
    auto* namePick = new PickGate(ui->cboName);
    auto* syoPick = new PickGate(ui->cboSyo);
    connect(ui->cboName, &QComboBox::activated, this, [this, namePick](int index) {
        if (namePick->open())
            cboName_Click(index);
    });
    connect(ui->cboSyo, &QComboBox::activated, this, [this, syoPick](int index) {
        if (syoPick->open())
            cboSyo_Click(index);
    });
    // A name taken from the search's offer is a pick as one from the list is.
    connect(m_selector->search(), &TitleSearch::picked, this, [this](int row) {
        ui->cboName->setEditText(ui->cboName->itemText(row));
        cboName_Click(row);
    });
    connect(ui->cmdNew, &QToolButton::clicked, this, &frmMain::cmdNew_Click);
    connect(ui->cmdDel, &QToolButton::clicked, this, &frmMain::cmdDel_Click);
    connect(ui->cmdHozon, &QToolButton::clicked, this, &frmMain::cmdHozon_Click);
    connect(ui->cmdPrint, &QToolButton::clicked, this, &frmMain::cmdPrint_Click);
    connect(ui->cmdHelp, &QToolButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(ui->cmdShoukai, &QToolButton::clicked, this, &frmMain::cmdShoukai_Click);
    connect(ui->cmdEnd, &QToolButton::clicked, this, &frmMain::cmdEnd_Click);
    connect(ui->Frame1, &VolumeGrid::clicked, this, &frmMain::lblKan_Click);
    connect(&m_store, &storage::Collection::changed, this, &frmMain::followDisk);

    auto* gridKey = new QShortcut(volumeGridKey(), this);
    connect(gridKey, &QShortcut::activated, m_cursor, &VolumeCursor::enter);
    auto* countKeyShortcut = new QShortcut(countKey(), this);
    connect(countKeyShortcut, &QShortcut::activated, this, &frmMain::lblKansu_Click);
    connectSteps();
    connectKeys();
}

void frmMain::showEvent(QShowEvent* event)
{
    Form_Load();
    QWidget::showEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (mouse->button() != Qt::LeftButton || !widget || !widget->rect().contains(mouse->position().toPoint()))
            break;
        if (watched == ui->lblKansu) {
            lblKansu_Click();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Qt's horizontal scroll bar steps back on Right; the titles go forward.
        if (watched == ui->hsbData && (key == Qt::Key_Right || key == Qt::Key_Left)) {
            ui->hsbData->triggerAction(key == Qt::Key_Right ? QAbstractSlider::SliderSingleStepAdd
                                                            : QAbstractSlider::SliderSingleStepSub);
            return true;
        }
        // Enter in a selector's text would pick a matching item; only a real pick may.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
            (watched == ui->cboName->lineEdit() || watched == ui->cboSyo->lineEdit()))
            return true;
        break;
    }
    case QEvent::Wheel:
        // A wheel turned over a closed selector is no pick either.
        if (watched == ui->cboName || watched == ui->cboSyo)
            return true;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kav
