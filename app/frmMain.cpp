#include "frmMain.h"

#include "BusyCursor.h"
#include "ui_frmMain.h"

#include "Accessibility.h"
#include "FixedWindow.h"
#include "VolumeCursor.h"
#include "WindowStyle.h"

#include "core/Clock.h"
#include "core/Codec.h"
#include "core/Conversions.h"
#include "core/FileService.h"
#include "core/FileWatcher.h"
#include "storage/Commands.h"
#include "storage/Conflicts.h"
#include "storage/Record.h"
#include "ui/Dialogs.h"
#include "ui/HelpViewer.h"
#include "ui/Printer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShortcut>
#include <QStringListModel>
#include <QTimer>

#include <utility>

namespace kav {

namespace {

const QColor ColourUnflagged(0xC0, 0xFF, 0xC0); // flag 0
const QColor ColourFlagged(0xFF, 0xC0, 0xFF);   // flag 1
const QColor ColourOther(0, 0, 0);              // any other value

// A volume label holds the three colours in three roles of its palette: showing a flag
// switches the role, which costs a fraction of resolving and spreading a new palette.
// Not Window: a label given its own Window colour is filled with it before any flag is shown.
constexpr QPalette::ColorRole RoleUnflagged = QPalette::Base;
constexpr QPalette::ColorRole RoleFlagged = QPalette::AlternateBase;
constexpr QPalette::ColorRole RoleOther = QPalette::Midlight;

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

QString crlf()
{
    return QStringLiteral("\r\n");
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

} // namespace

frmMain::frmMain(const Services& services, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmMain>()), m_services(services)
{
    installFontSubstitutes();
    ui->setupUi(this);
    setUpControls();
    connectEvents();
}

frmMain::~frmMain() = default;

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
        b.button->setIcon(QIcon(QString::fromUtf16(b.icon)));
        b.button->setAutoRaise(false);
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

    m_nameModel = new QStringListModel(ui->cboName);
    ui->cboName->setModel(m_nameModel);
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

    const QFont volumeFont = windowFont(Serif, 27);
    for (int i = 1; i <= storage::FlagCount; ++i) {
        const int c = (i - 1) % 10;
        const int r = (i - 1) / 10;
        auto* label = new QLabel(ui->Frame1);
        label->setObjectName(QStringLiteral("lblKan_%1").arg(i));
        label->setGeometry((465 + 825 * c) / 15, (345 + 675 * r) / 15, 765 / 15, 615 / 15);
        label->setFont(volumeFont);
        label->setFrameShape(QFrame::Box);
        label->setLineWidth(1);
        label->setAlignment(Qt::AlignCenter);
        label->setFocusPolicy(Qt::NoFocus);
        label->installEventFilter(this);
        QPalette palette = label->palette();
        palette.setColor(RoleUnflagged, ColourUnflagged);
        palette.setColor(RoleFlagged, ColourFlagged);
        palette.setColor(RoleOther, ColourOther);
        // Black on the light colours under any theme; one palette, not two, for each of the fifty.
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
        // Otherwise the text would take the colour that goes with the background role (Text on Base).
        label->setForegroundRole(QPalette::WindowText);
        lblKan[i] = label;
    }
    showFlag(lblKan[9], 1);
    showFlag(lblKan[10], 0);

    // What is typed into a selector stays as typed: a completed name would be a title
    // the user never named (and completing walks the whole list on every change).
    ui->cboName->setCompleter(nullptr);
    ui->cboSyo->setCompleter(nullptr);

    ui->Image1->setFocusPolicy(Qt::NoFocus);
    ui->Frame1->setFocusPolicy(Qt::NoFocus);
    ui->hsbData->setFocus();

    setUpDesktop();
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
        boxed.append(lblKan[i]); // black since they were made

    // Created after the widgets it draws, so it is deleted after them too.
    auto* style = new WindowStyle;
    style->setParent(this);
    for (QLabel* label : boxed)
        label->setStyle(style);
    ui->hsbData->setStyle(style);
    ui->hsbData->installEventFilter(this);

    fitPositionLabel();

    // Names for screen readers where the control's text would say nothing.
    ui->hsbData->setAccessibleName(QStringLiteral("表示中の題名の位置"));
    ui->cboName->setAccessibleName(QStringLiteral("題名"));
    ui->cboName->lineEdit()->setAccessibleName(QStringLiteral("題名"));
    ui->cboSyo->setAccessibleName(QStringLiteral("開始巻"));
    ui->cboSyo->lineEdit()->setAccessibleName(QStringLiteral("開始巻"));
    ui->lblKensu->setAccessibleDescription(QStringLiteral("表示中の題名の位置と題名の数"));
    ui->Image1->setAccessibleName(QStringLiteral("カヴリオ"));
    ui->Frame1->setAccessibleName(QStringLiteral("巻の一覧"));
    ui->Line1_0->setAccessibleName(QStringLiteral("区切り線"));
    ui->Line1_1->setAccessibleName(QStringLiteral("区切り線"));
    accessibility::install();

    m_cursor = new VolumeCursor(
        ui->Frame1, storage::FlagCount, [this](int i) { return lblKan[i]; }, [this](int i) { lblKan_Click(i); });

    const QString gridKey = volumeGridKey().toString(QKeySequence::NativeText);
    const QString countKeyText = countKey().toString(QKeySequence::NativeText);
    ui->Frame1->setToolTip(
        QStringLiteral("クリックで収集済み／未収集を切り替えます") + QLatin1Char('\n') +
        QStringLiteral("%1キーで巻を選び、矢印キーで移動、スペースキーで切り替え、Escキーで戻ります").arg(gridKey));
    ui->lblKansu->setToolTip(ui->lblKansu->toolTip() + QLatin1Char('\n') +
                             QStringLiteral("%1キーでも修正できます").arg(countKeyText));
    ui->hsbData->setToolTip(QStringLiteral("→キーで次の題名、←キーで前の題名を表示します"));
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
    connect(ui->cmdNew, &QToolButton::clicked, this, &frmMain::cmdNew_Click);
    connect(ui->cmdDel, &QToolButton::clicked, this, &frmMain::cmdDel_Click);
    connect(ui->cmdHozon, &QToolButton::clicked, this, &frmMain::cmdHozon_Click);
    connect(ui->cmdPrint, &QToolButton::clicked, this, &frmMain::cmdPrint_Click);
    connect(ui->cmdHelp, &QToolButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(ui->cmdShoukai, &QToolButton::clicked, this, &frmMain::cmdShoukai_Click);
    connect(ui->cmdEnd, &QToolButton::clicked, this, &frmMain::cmdEnd_Click);

    auto* gridKey = new QShortcut(volumeGridKey(), this);
    connect(gridKey, &QShortcut::activated, m_cursor, &VolumeCursor::enter);
    auto* countKeyShortcut = new QShortcut(countKey(), this);
    connect(countKeyShortcut, &QShortcut::activated, this, &frmMain::lblKansu_Click);
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
        for (int i = 1; i <= storage::FlagCount; ++i) {
            if (watched == lblKan[i]) {
                lblKan_Click(static_cast<qint16>(i));
                return true;
            }
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
    case QEvent::PaletteChange:
        // A volume's colour is its state: a screen reader hears of the change.
        if (auto* label = qobject_cast<QLabel*>(watched); label && label->parentWidget() == ui->Frame1)
            accessibility::nameChanged(label);
        break;
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

QColor frmMain::flagColour(qint16 flag)
{
    if (flag == 0)
        return ColourUnflagged;
    if (flag == 1)
        return ColourFlagged;
    return ColourOther;
}

void frmMain::showFlag(QLabel* label, qint16 flag)
{
    const QPalette::ColorRole role = flag == 0 ? RoleUnflagged : flag == 1 ? RoleFlagged : RoleOther;
    if (label->backgroundRole() != role)
        label->setBackgroundRole(role);
    label->setAutoFillBackground(true);
}

void frmMain::setLabelColour(QLabel* label, const QColor& colour)
{
    if (!label)
        return;
    if (label->autoFillBackground() && label->palette().color(QPalette::Window) == colour)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

// ---- Loading and browsing ----------------------------------------------------

void frmMain::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    const Busy busy(*this);

    LoadTitles();
    {
        // The bar already holds 1; assigning it again raises no Change.
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(1);
    }
    ShowTitle();
    for (int k = 0; k <= 500; k += 50) {
        // Qt puts the first item into an empty box's text; the text stays as shown.
        const QString text = ui->cboSyo->currentText();
        ui->cboSyo->addItem(IntText(k + 1));
        ui->cboSyo->setCurrentIndex(-1);
        ui->cboSyo->setEditText(text);
    }
    OfferSystemSpelling();
    tellConflictCopies();
    if (m_services.watcher) {
        connect(m_services.watcher, &FileWatcher::changed, this, &frmMain::followDisk);
        watchShownFiles();
    }
}

void frmMain::OfferSystemSpelling()
{
    const QStringList names = m_services.files.foreignNames();
    if (names.isEmpty())
        return;
    constexpr int Shown = 5;
    QString list = QStringLiteral("「%1」").arg(names.mid(0, Shown).join(QStringLiteral("」「")));
    if (names.size() > Shown)
        list += QStringLiteral("ほか%1個").arg(names.size() - Shown);
    const int answer = m_services.dialogs.MsgBox(
        QStringLiteral("このフォルダーには、名前がWindowsの文字コード（シフトJIS）の") + crlf() +
            QStringLiteral("ファイルが%1個あります。").arg(names.size()) + crlf() + list + crlf() + crlf() +
            QStringLiteral("このままでも使えますが、ほかのプログラムでも正しい名前で") + crlf() +
            QStringLiteral("見えるように、名前をUTF-8に変えますか？（中身は変わりません）"),
        mb::YesNo | mb::Question, QStringLiteral("ファイル名の変換"));
    if (answer != mb::Yes)
        return;
    QStringList failed;
    for (const QString& name : names) {
        if (const Status renamed = m_services.files.renameToSystemSpelling(name); !renamed)
            failed.append(QStringLiteral("「%1」: %2").arg(name, renamed.error().message));
    }
    if (!failed.isEmpty())
        m_services.dialogs.MsgBox(
            QStringLiteral("次のファイルは名前を変えられませんでした（元の名前のまま使えます）。") + crlf() + crlf() +
                failed.join(crlf()),
            mb::Exclamation, QStringLiteral("ファイル名の変換"));
}

void frmMain::LoadTitles()
{
    if (const Status here = m_services.files.checkFolder(); !here) {
        showUnreachable(here.error());
        return;
    }
    const storage::LoadReport report = storage::LoadTitles(m_services.files, m_cat);
    m_listToShare = !report.failure;
    showLoadedTitles(report);
}

void frmMain::shareLoadedList()
{
    if (!m_listToShare || !m_listSeen)
        return;
    m_listToShare = false;
    // Only the titles the list holds: what lies past them in m_cat is left from earlier lists.
    auto read = std::make_shared<storage::Catalogue>();
    for (int p = 1; p <= m_cat.intKensu; ++p) {
        read->strName[p] = m_cat.strName[p];
        read->intKansu[p] = m_cat.intKansu[p];
        read->intSyo[p] = m_cat.intSyo[p];
    }
    read->intKensu = m_cat.intKensu;
    storage::RememberTitles(*m_listSeen, std::move(read));
}

void frmMain::showLoadedTitles(const storage::LoadReport& report)
{
    // What was read, also when it could not be read to its end; nothing when it could not be read at all.
    m_listSeen = report.failure && report.failure->kind != ErrorKind::Format ? std::optional<QByteArray>()
                                                                             : std::optional<QByteArray>(report.bytes);

    // A count or start-volume edit leaves every name where it was, a deletion takes one out:
    // the selector's list of up to 2000 names is then kept, or loses that one item, instead
    // of being built again. It ends as a new list would.
    // The model's own list, shared, not 2000 texts asked of the combo box one by one.
    const QStringList had = m_nameModel->stringList();
    const auto count = int(had.size());
    int same = 0; // leading names that are where they were
    while (same < count && same < m_cat.intKensu && had[same] == m_cat.strName[same + 1])
        ++same;
    bool oneGone = count == m_cat.intKensu + 1 && same < count;
    for (int p = same + 1; oneGone && p <= m_cat.intKensu; ++p)
        oneGone = had[p] == m_cat.strName[p];
    if (oneGone) {
        // Unselected first: Qt would otherwise select and lay out the next name, soon cleared.
        ui->cboName->setCurrentIndex(-1);
        ui->cboName->removeItem(same);
    } else if (!(count == m_cat.intKensu && same == count)) {
        QStringList names;
        names.reserve(m_cat.intKensu);
        for (int p = 1; p <= m_cat.intKensu; ++p)
            names.append(m_cat.strName[p]);
        // One reset of a list model, not 2000 items made one by one.
        m_nameModel->setStringList(names);
    }
    ui->cboName->setCurrentIndex(-1);
    ui->cboName->clearEditText();
    ui->cboName->repaint();

    {
        // Qt would drag the minimum below 1 for an empty catalogue, or move the
        // value (and show a title) when the maximum drops below it.
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setRange(1, std::max<int>(1, m_cat.intKensu));
    }
    if (m_shown > m_cat.intKensu)
        m_shown = m_cat.intKensu;

    if (report.encoding != storage::ListEncoding::ShiftJis && !report.failure && !m_toldUtf8) {
        m_toldUtf8 = true;
        tellSavedAs(storage::TitleListLower(),
                    report.encoding == storage::ListEncoding::Utf8 ? cp932::Mark::Utf8 : cp932::Mark::Utf16LE,
                    QStringLiteral("題名はそのまま読み込みました。次に登録・変更・削除をしたときに、"));
    }
    if (report.failure && report.failure->kind == ErrorKind::Unreachable) {
        showUnreachable(*report.failure);
    } else if (report.failure && !m_titlesLocked) {
        m_titlesLocked = true;
        tellListFailure(*report.failure, report.missing);
    }
}

void frmMain::tellSavedAs(const QString& file, cp932::Mark form, const QString& read)
{
    const Busy busy(*this);
    m_services.dialogs.MsgBox(
        QStringLiteral("「%1」は%2で保存されています。")
                .arg(file, form == cp932::Mark::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("UTF-16（Unicode）")) +
            crlf() + QStringLiteral("このソフトはデータをシフトJISで保存します。") + crlf() + crlf() + read + crlf() +
            QStringLiteral("「%1」をシフトJISで保存し直します。").arg(file),
        mb::Information, QStringLiteral("文字コード"));
}

void frmMain::tellListFailure(const Error& e, bool missing)
{
    QString prompt;
    switch (e.kind) {
    case ErrorKind::Clash:
    case ErrorKind::Unsafe:
    case ErrorKind::NotAFile:
        prompt = QStringLiteral("「%1」を使えません。").arg(e.file) + crlf() + QStringLiteral("（%1）").arg(e.message) +
                 crlf() + crlf() + QStringLiteral("ファイルを守るため、登録・変更・削除はできません。") + crlf() +
                 QStringLiteral("ファイルを直してから起動し直して下さい。");
        break;
    default:
        if (missing) {
            // Nothing to read and nothing could be made: the folder does not take files.
            prompt = QStringLiteral("「%1」がないため作成しようとしましたが、作成できませんでした。").arg(e.file) +
                     crlf() + QStringLiteral("（%1）").arg(e.message) + crlf() + crlf() +
                     QStringLiteral("書き込みのできるフォルダーで起動し直して下さい。");
            break;
        }
        prompt = (e.line > 0 ? QStringLiteral("「%1」の%2行目を読み込めませんでした。").arg(e.file).arg(e.line)
                             : QStringLiteral("「%1」を読み込めませんでした。").arg(e.file)) +
                 crlf() + QStringLiteral("（%1）").arg(e.message) + crlf() + crlf() +
                 QStringLiteral("読み込めた%1件だけを表示します。").arg(m_cat.intKensu) + crlf() +
                 QStringLiteral("ファイルを守るため、起動し直すまで登録・変更・削除はできません。");
        break;
    }
    m_services.dialogs.MsgBox(prompt, mb::Exclamation, QStringLiteral("読み込みエラー"));
}

void frmMain::hsbData_Change()
{
    const Busy busy(*this);
    ShowTitle();
}

void frmMain::cboName_Click(int index)
{
    const Busy busy(*this);
    // Picking the title already shown leaves the value alone and so changes nothing.
    ui->hsbData->setValue(index + 1);
}

void frmMain::setSelectorText(const QString& name, int position)
{
    if (position >= 1 && position <= ui->cboName->count())
        ui->cboName->setCurrentIndex(position - 1);
    else
        ui->cboName->setCurrentIndex(-1);
    // Also when the index did not change: the user may have typed over the text.
    ui->cboName->setEditText(name);
}

void frmMain::ShowTitle()
{
    const int p = ui->hsbData->value();
    // With an empty catalogue the bar still stands at 1; show the empty slot,
    // never a title left over from an earlier, longer load.
    const bool inCatalogue = p >= 1 && p <= m_cat.intKensu;
    const QString name = inCatalogue ? m_cat.strName[p] : QString();
    const qint16 count = inCatalogue ? m_cat.intKansu[p] : 0;
    const qint16 offset = inCatalogue ? m_cat.intSyo[p] : 0;
    m_shown = inCatalogue ? p : 0;

    strFile = storage::FlagFileUpper(name);
    setSelectorText(name, m_shown);
    ui->lblKansu->setText(IntText(count) + QStringLiteral("巻"));
    ui->cboSyo->setEditText(IntText(offset + 1));
    ShowVolumes();
    ui->lblKensu->setText(IntText(p) + QStringLiteral(" / ") + IntText(m_cat.intKensu));
}

void frmMain::ShowVolumes()
{
    LoadVolumes();
    paintVolumes();
    watchShownFiles();
}

void frmMain::LoadVolumes()
{
    intKan.fill(0);
    m_flagsSeen.reset();
    m_volumesUnknown = false;
    // A title named like the list or the report has no flag file: its flags are zeros.
    if (storage::IsProgramFile(strFile))
        return;
    const Result<QByteArray> bytes = m_services.files.readAll(strFile);
    std::optional<Error> problem;
    if (bytes) {
        m_flagsSeen = bytes.value();
        const storage::FlagsRead read = storage::ParseVolumes(bytes.value(), strFile, intKan);
        if (read.unreadable)
            problem = read.failure;
        else if (read.mark != cp932::Mark::None && !m_toldSavedAs.contains(strFile.toCaseFolded())) {
            m_toldSavedAs.insert(strFile.toCaseFolded());
            tellSavedAs(strFile, read.mark,
                        QStringLiteral("巻の状態はそのまま読み込みました。次に巻をクリックしたときに、"));
        }
        if (!problem)
            return;
    } else if (bytes.error().kind == ErrorKind::NotFound) {
        m_flagsSeen = QByteArray(); // no file: changes when one appears
        return;
    }
    const Error& e = problem ? *problem : bytes.error();
    if (e.kind == ErrorKind::Unreachable) {
        m_volumesUnknown = true; // no flags rather than zeros that are not there
        showUnreachable(e);
        return;
    }
    // A flag file that cannot be used is said once for each title shown, not at every repaint.
    if ((problem || e.kind == ErrorKind::Clash || e.kind == ErrorKind::Unsafe || e.kind == ErrorKind::NotAFile) &&
        m_toldFlagProblem != strFile) {
        m_toldFlagProblem = strFile;
        const Busy busy(*this);
        m_services.dialogs.MsgBox(QStringLiteral("「%1」を使えません。").arg(e.file) + crlf() +
                                      QStringLiteral("（%1）").arg(e.message) + crlf() + crlf() +
                                      QStringLiteral("この題名の巻の状態は表示も保存もできません。"),
                                  mb::Exclamation, QStringLiteral("読み込みエラー"));
    }
}

void frmMain::paintVolumes()
{
    // Each label is shown or hidden once, so the grid does not flicker.
    const double count = m_volumesUnknown ? 0 : LeadingValue(ui->lblKansu->text());
    const double first = LeadingValue(ui->cboSyo->currentText());
    // Most titles start at volume 1: the fifty captions are made again only when the
    // start changes, and a label is told only a caption it does not already show.
    if (first != m_captionsFirst) {
        for (int i = 1; i <= storage::FlagCount; ++i)
            m_captions[i] = RealText(i + first - 1);
        m_captionsFirst = first;
    }
    for (int i = 1; i <= storage::FlagCount; ++i) {
        QLabel* label = lblKan[i];
        if (count < i) {
            label->setVisible(false);
            continue;
        }
        if (label->text() != m_captions[i])
            label->setText(m_captions[i]);
        showFlag(label, intKan[i]);
        label->setVisible(true);
    }
}

// ---- Following the disk ----------------------------------------------------

void frmMain::watchShownFiles()
{
    if (!m_services.watcher)
        return;
    QStringList names{storage::TitleListUpper()};
    if (m_shown > 0 && !storage::IsProgramFile(strFile))
        names.append(strFile);
    m_services.watcher->watch(names);
}

void frmMain::endBusy()
{
    if (--m_busy == 0 && m_followPending) {
        m_followPending = false;
        QTimer::singleShot(0, this, &frmMain::followDisk);
    }
}

void frmMain::followDisk()
{
    if (!m_loaded)
        return;
    // Never while a handler or one of its dialogs runs: the change waits until it ends.
    if (m_busy > 0 || QApplication::activeModalWidget()) {
        m_followPending = true;
        if (m_busy == 0) // a dialog not of a handler: look again shortly
            QTimer::singleShot(200, this, &frmMain::followDisk);
        return;
    }
    if (const Status here = m_services.files.checkFolder(); !here) {
        if (!m_unreachable) {
            const Busy busy(*this);
            tellUnreachable(here.error(), true);
        }
        return;
    }
    if (m_unreachable) {
        // The same folder back: what is on it now, whatever was read before it went.
        m_unreachable = false;
        m_lostNote->hide();
        reloadShowing(m_shown > 0 ? m_cat.strName[m_shown] : QString());
        return;
    }
    followFiles();
    tellConflictCopies();
}

void frmMain::followFiles()
{
    const Result<QByteArray> list = m_services.files.readAll(storage::TitleListUpper());
    const std::optional<QByteArray> listNow = list ? std::optional<QByteArray>(list.value()) : std::nullopt;
    if (listNow != m_listSeen) {
        reloadShowing(m_shown > 0 ? m_cat.strName[m_shown] : QString());
        return;
    }
    if (m_shown == 0 || storage::IsProgramFile(strFile))
        return;
    const Result<QByteArray> flags = m_services.files.readAll(strFile);
    std::optional<QByteArray> flagsNow;
    if (flags)
        flagsNow = flags.value();
    else if (flags.error().kind == ErrorKind::NotFound)
        flagsNow = QByteArray();
    if (flagsNow != m_flagsSeen) {
        const Busy busy(*this);
        ShowVolumes();
    }
}

namespace {

// The first few of names, each in 「」 unless it holds them already.
QString someNames(const QStringList& names, bool quoted = true)
{
    constexpr int Shown = 5;
    QString list = quoted ? QStringLiteral("「%1」").arg(names.mid(0, Shown).join(QStringLiteral("」「")))
                          : names.mid(0, Shown).join(QStringLiteral("　"));
    if (names.size() > Shown)
        list += QStringLiteral("ほか%1件").arg(names.size() - Shown);
    return list;
}

QString volumeList(const QList<int>& volumes)
{
    constexpr int Shown = 12;
    QStringList texts;
    for (const int v : volumes.mid(0, Shown))
        texts.append(IntText(v) + QStringLiteral("巻"));
    QString list = texts.join(QStringLiteral("、"));
    if (volumes.size() > Shown)
        list += QStringLiteral("ほか%1冊").arg(volumes.size() - Shown);
    return list;
}

} // namespace

void frmMain::tellConflictCopies()
{
    QList<storage::ConflictCopy> fresh;
    for (const storage::ConflictCopy& copy :
         storage::FindConflictCopies(m_services.files.names(storage::MayBeConflictCopy), m_cat)) {
        if (!m_toldCopies.contains(copy.copy))
            fresh.append(copy);
        m_toldCopies.insert(copy.copy);
    }
    if (fresh.isEmpty())
        return;
    const Busy busy(*this);
    constexpr int Shown = 6;
    QStringList lines;
    for (qsizetype k = 0; k < fresh.size() && k < Shown; ++k) {
        const storage::ConflictCopy& copy = fresh[k];
        const storage::ConflictDifference d = storage::CompareConflict(m_services.files, copy, m_cat);
        const QString original =
            copy.position == 0 ? storage::TitleListLower() : storage::FlagFileUpper(m_cat.strName[copy.position]);
        lines.append(QStringLiteral("「%1」（「%2」のコピー）").arg(copy.copy, original));
        if (d.unreadable)
            lines.append(QStringLiteral("　コピーを最後まで読み込めませんでした（%1）").arg(d.unreadable->message));
        if (!d.onlyInCopy.isEmpty())
            lines.append(QStringLiteral("　コピーにだけある題名：") + someNames(d.onlyInCopy));
        if (!d.onlyInUse.isEmpty())
            lines.append(QStringLiteral("　「%1」にだけある題名：").arg(original) + someNames(d.onlyInUse));
        QStringList counts;
        for (const storage::CountChange& c : d.otherCounts)
            counts.append(QStringLiteral("「%1」（%2巻・%3巻から、コピーでは%4巻・%5巻から）")
                              .arg(c.title)
                              .arg(c.count)
                              .arg(c.offset + 1)
                              .arg(c.copyCount)
                              .arg(c.copyOffset + 1));
        if (!counts.isEmpty())
            lines.append(QStringLiteral("　巻数か初巻の違う題名：") + someNames(counts, false));
        if (!d.setOnlyInCopy.isEmpty())
            lines.append(QStringLiteral("　コピーでだけ未収集の巻：") + volumeList(d.setOnlyInCopy));
        if (!d.setOnlyInUse.isEmpty())
            lines.append(QStringLiteral("　「%1」でだけ未収集の巻：").arg(original) + volumeList(d.setOnlyInUse));
        if (lines.last().startsWith(u'「') && !d.unreadable)
            lines.append(QStringLiteral("　（中身は同じです）"));
    }
    if (fresh.size() > Shown)
        lines.append(QStringLiteral("ほか%1個のコピーがあります。").arg(fresh.size() - Shown));
    m_services.dialogs.MsgBox(QStringLiteral("同期サービスが作った競合コピーがフォルダーにあります。") + crlf() +
                                  QStringLiteral("このソフトはコピーを読み込まず、書き換えもしません。") + crlf() +
                                  crlf() + lines.join(crlf()) + crlf() + crlf() +
                                  QStringLiteral("内容を確かめ、必要な分を登録・変更や巻のクリックで入れ直してから、") +
                                  crlf() + QStringLiteral("コピーを削除するか、フォルダーの外へ移して下さい。"),
                              mb::Exclamation, QStringLiteral("同期の競合"));
}

void frmMain::reloadShowing(const QString& name)
{
    const Busy busy(*this);
    const int before = m_shown > 0 ? m_shown : ui->hsbData->value();
    LoadTitles();
    if (m_cat.intKensu == 0) {
        showEmptyCatalogue();
        ui->cboName->setEditText(QString());
        return;
    }
    // The same title by name; where it is gone, the one that took its place.
    int p = name.isEmpty() ? 0 : storage::FindTitle(m_cat, name);
    if (p == 0)
        p = std::clamp(before, 1, int(m_cat.intKensu));
    {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(p);
    }
    ShowTitle();
}

void frmMain::tellGone(const QString& name)
{
    m_services.dialogs.MsgBox(
        QStringLiteral("「%1」は、ほかの画面やソフトで削除されたか名前が変わっています。").arg(name) + crlf() +
            QStringLiteral("ファイルの今の内容を表示します。"),
        mb::Information, QStringLiteral("データ更新"));
}

// Whatever a command could not do, the window shows the disk afterwards.
void frmMain::afterFailedChange(const storage::Change& change, const QString& name)
{
    if (change.error && change.error->kind == ErrorKind::Unreachable) {
        tellUnreachable(*change.error);
        return; // what the window shows is all there is to show
    }
    switch (change.outcome) {
    case storage::Change::Done:
        return;
    case storage::Change::Gone:
        tellGone(name);
        break;
    case storage::Change::ListUnreadable:
        if (!m_titlesLocked) {
            m_titlesLocked = true;
            tellListFailure(*change.error, false);
        }
        break;
    case storage::Change::Refused:
    case storage::Change::Failed:
        tellWriteFailure(*change.error);
        break;
    }
    reloadShowing(name);
}

// ---- Marking volumes -------------------------------------------------------

void frmMain::lblKan_Click(int index)
{
    if (index < 1 || index > storage::FlagCount || m_shown < 1 || m_shown > m_cat.intKensu)
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    // The flags belong to the title on display, whatever was typed into the selector.
    const QString name = m_cat.strName[m_shown];
    setSelectorText(name, m_shown);
    strFile = storage::FlagFileLower(name);
    if (storage::NamesProgramFile(name)) {
        m_services.dialogs.MsgBox(
            QStringLiteral("「%1」は、このソフトのデータファイル（%2）と同じ名前になるため、").arg(name, strFile) +
                crlf() + QStringLiteral("巻の状態を保存できません。") + crlf() + crlf() +
                QStringLiteral("題名を変えて登録し直して下さい。"),
            mb::Exclamation, QStringLiteral("保存エラー"));
        return;
    }
    SaveVolumes(index);
}

void frmMain::SaveVolumes(int index)
{
    storage::Flags after{};
    shareLoadedList();
    const storage::Change change = storage::ToggleFlag(m_services.files, strFile.chopped(4), index, after);
    if (change.outcome == storage::Change::Refused || change.outcome == storage::Change::Failed) {
        // The file is as it was, and so are the label and the flag.
        tellWriteFailure(*change.error);
        return;
    }
    if (!change.ok()) {
        afterFailedChange(change, strFile.chopped(4));
        return;
    }
    // Flags someone else set meanwhile are in the file now, and on screen.
    intKan = after;
    m_flagsSeen = storage::EncodeVolumes(after);
    paintVolumes();
    // A clicked label shows any value but 0 as set.
    showFlag(lblKan[index], after[index] != 0 ? 1 : 0);
}

// ---- Failures --------------------------------------------------------------

// A file that was written but whose folder could not be flushed is not said to be unsaved.
QString frmMain::writeFailureText(const Error& error)
{
    return (error.kind == ErrorKind::NotDurable ? QStringLiteral("「%1」の保存を確かめられませんでした。")
                                                : QStringLiteral("「%1」に保存できませんでした。"))
               .arg(error.file) +
           crlf() + crlf() + error.message;
}

void frmMain::tellWriteFailure(const Error& error)
{
    if (error.kind == ErrorKind::Unreachable) {
        tellUnreachable(error);
        return;
    }
    m_services.dialogs.MsgBox(writeFailureText(error), mb::Exclamation, QStringLiteral("保存エラー"));
}

bool frmMain::refuseWhileLocked()
{
    if (!m_titlesLocked)
        return false;
    m_services.dialogs.MsgBox(QStringLiteral("「データ.txt」を最後まで読み込めなかったため、") + crlf() +
                                  QStringLiteral("ファイルを守るために登録・変更・削除はできません。") + crlf() +
                                  crlf() + QStringLiteral("ファイルを直してから起動し直して下さい。"),
                              mb::Exclamation, QStringLiteral("読み込みエラー"));
    return true;
}

bool frmMain::refuseUnreachable()
{
    const Status here = m_services.files.checkFolder();
    if (!here)
        tellUnreachable(here.error());
    return !here;
}

void frmMain::tellUnreachable(const Error& error, bool noticed)
{
    showUnreachable(error);
    const QString whatNow =
        noticed ? QStringLiteral("ドライブをつなぎ直す（マウントし直す）か、フォルダーを元の場所に戻して下さい。") +
                      crlf() + QStringLiteral("戻れば、元どおり表示します。")
                : QStringLiteral("ドライブをつなぎ直す（マウントし直す）か、フォルダーを元の場所に戻してから、") +
                      crlf() + QStringLiteral("もう一度やり直して下さい。何も保存していません。");
    m_services.dialogs.MsgBox(QStringLiteral("フォルダー「%1」につながりません。").arg(error.file) + crlf() +
                                  QStringLiteral("（%1）").arg(error.message) + crlf() + crlf() + whatNow,
                              mb::Exclamation, QStringLiteral("接続エラー"));
}

void frmMain::showUnreachable(const Error& error)
{
    m_unreachable = true;
    // In the volume frame, above the labels, where a line has room: no control moves.
    if (!m_lostNote) {
        m_lostNote = new QLabel(ui->Frame1);
        m_lostNote->setGeometry(8, 2, ui->Frame1->width() - 16, 20);
        QPalette palette = m_lostNote->palette();
        palette.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
        m_lostNote->setPalette(palette);
    }
    const QString note = QStringLiteral("フォルダー「%1」につながりません。ドライブかフォルダーを戻して下さい。");
    const QFontMetrics metrics(m_lostNote->font());
    const int room = m_lostNote->width() - metrics.horizontalAdvance(note.arg(QString()));
    m_lostNote->setText(note.arg(metrics.elidedText(error.file, Qt::ElideMiddle, room)));
    m_lostNote->show();
}

void frmMain::showEmptyCatalogue()
{
    for (int i = 1; i <= storage::FlagCount; ++i)
        lblKan[i]->setVisible(false);
    {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setRange(1, 1);
        ui->hsbData->setValue(1);
    }
    ui->lblKansu->setText(QString());
    ui->cboSyo->setEditText(QString());
    m_shown = 0;
    watchShownFiles();
}

// ---- Registration ----------------------------------------------------------

void frmMain::cmdNew_Click()
{
    if (refuseWhileLocked())
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    Dialogs& dialogs = m_services.dialogs;

    QString defaultText;
    QString title;
    for (;;) {
        title = dialogs.InputBox(QStringLiteral("題名を入力して下さい"), QStringLiteral("題名入力"), defaultText);
        if (title.isEmpty())
            return;
        title = storage::WindowsForms(title);
        const storage::TitleProblem problem = storage::CheckTitle(title);
        if (problem == storage::TitleProblem::Forbidden) {
            dialogs.MsgBox(QStringLiteral("\\ / : , ; * ? < > |　の文字は使えません。"), mb::Exclamation,
                           QStringLiteral("入力制限"));
            continue;
        }
        if (storage::FindTitle(m_cat, title) != 0) {
            tellDuplicate();
            defaultText = title;
            continue;
        }
        // A title names a file and a line of a Shift-JIS file: both must be able to hold it.
        QString why;
        switch (problem) {
        case storage::TitleProblem::Control:
            why = QStringLiteral("題名に制御文字（改行やタブなど）は使えません。");
            break;
        case storage::TitleProblem::NotCp932:
            why = QStringLiteral("題名にシフトJISで表せない文字が含まれています。") + crlf() +
                  QStringLiteral("別の文字に置き換えて下さい。");
            break;
        case storage::TitleProblem::TooLong:
            why = QStringLiteral("題名が長すぎます。短くして下さい。");
            break;
        case storage::TitleProblem::Reserved:
            why = QStringLiteral("「%1」はファイル名に使えない名前です。").arg(title) + crlf() +
                  QStringLiteral("（CON・PRN・AUX・NUL・COM1～9・LPT1～9や、空白・ピリオドで終わる名前）") + crlf() +
                  QStringLiteral("題名を変えて下さい。");
            break;
        default:
            break;
        }
        if (!why.isEmpty()) {
            dialogs.MsgBox(why, mb::Exclamation, QStringLiteral("入力制限"));
            defaultText = title;
            continue;
        }
        break;
    }

    const QString entry = dialogs.InputBox(QStringLiteral("トータル巻数を入力して下さい。（半角入力で）"),
                                           QStringLiteral("巻数入力"), {});
    if (entry.isEmpty() || LeadingValue(entry) < 1)
        return;
    const std::optional<qint16> floored = FloorToInt16(LeadingValue(entry));
    if (!floored) {
        dialogs.MsgBox(QStringLiteral("巻数は32767巻までにして下さい。"), mb::Exclamation, QStringLiteral("巻数入力"));
        return;
    }
    const qint16 n = *floored;
    const QList<storage::Piece> pieces = storage::SplitIntoPieces(title, n);

    // Everything is checked before the first file is written, against the catalogue
    // shown here and again against the list on disk.
    if (m_cat.intKensu + pieces.size() > storage::MaxTitles) {
        tellNoRoom(pieces.size(), storage::MaxTitles - m_cat.intKensu);
        return;
    }
    const storage::FileClashes clashes(m_cat);
    for (const storage::Piece& piece : pieces) {
        if (const QString clash = clashes(piece.name); !clash.isEmpty()) {
            tellClash(piece.name, clash);
            return;
        }
    }

    if (n > 50)
        dialogs.MsgBox(QStringLiteral("自動的に５０巻ずつのデータに分けます"), mb::Information,
                       QStringLiteral("１データ５０件制限"));

    BusyCursor cursor;
    shareLoadedList();
    const storage::Change change = storage::RegisterPieces(m_services.files, pieces, title);
    cursor.release();
    if (change.outcome == storage::Change::Refused) {
        const Error& e = *change.error;
        if (e.kind == ErrorKind::Clash && e.message.isEmpty())
            tellDuplicate();
        else if (e.kind == ErrorKind::Clash)
            tellClash(e.file.chopped(4), e.message);
        else
            tellNoRoom(pieces.size(), e.message.toInt());
        reloadShowing(m_shown > 0 ? m_cat.strName[m_shown] : QString());
        return;
    }
    if (!change.ok()) {
        afterFailedChange(change, m_shown > 0 ? m_cat.strName[m_shown] : QString());
        return;
    }

    const storage::Piece& shown = pieces.first();
    LoadTitles();
    m_shown = storage::FindTitle(m_cat, shown.name);
    strFile = storage::FlagFileUpper(shown.name);
    setSelectorText(shown.name, m_shown);
    ui->lblKansu->setText(IntText(n <= 50 ? n : 50) + QStringLiteral("巻"));
    ui->cboSyo->setEditText(QStringLiteral("1"));
    ShowVolumes();
}

void frmMain::tellDuplicate()
{
    m_services.dialogs.MsgBox(QStringLiteral("既に同じ題名で登録されているものがあります。") + crlf() + crlf() +
                                  QStringLiteral("題名の後ろに作者名を入れるなどして区別して下さい"),
                              mb::Exclamation, QStringLiteral("二重登録"));
}

void frmMain::tellNoRoom(qsizetype needed, int left)
{
    m_services.dialogs.MsgBox(
        QStringLiteral("登録できるのは%1件までです。").arg(storage::MaxTitles) + crlf() +
            QStringLiteral("この登録には%1件の空きが必要ですが、残りは%2件です。").arg(needed).arg(std::max(0, left)),
        mb::Exclamation, QStringLiteral("登録制限"));
}

void frmMain::tellClash(const QString& pieceName, const QString& clash)
{
    m_services.dialogs.MsgBox(QStringLiteral("「%1」は「%2」と同じファイルになるため登録できません。")
                                      .arg(storage::FlagFileUpper(pieceName), clash) +
                                  crlf() + QStringLiteral("題名を変えて登録し直して下さい。"),
                              mb::Exclamation, QStringLiteral("二重登録"));
}

// ---- Count and start volume ------------------------------------------------

void frmMain::lblKansu_Click()
{
    // With no title there is nothing whose count could change.
    if (m_shown < 1 || m_shown > m_cat.intKensu)
        return;
    if (refuseWhileLocked())
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    Dialogs& dialogs = m_services.dialogs;
    QString entry = dialogs.InputBox(QStringLiteral("トータル巻数を変更します。巻数を入力して下さい"),
                                     QStringLiteral("巻数に入力"), {});
    if (entry.isEmpty())
        return;
    const std::optional<double> value = StrictValue(entry);
    if (!value || *value < 1)
        return;
    if (*value > 50) {
        dialogs.MsgBox(QStringLiteral("最大５０をこえてはいけません"), mb::Information,
                       QStringLiteral("１データ５０件制限"));
        entry = QStringLiteral("50");
    }

    // The count belongs to the title on display, not to text typed into the selector.
    const QString name = m_cat.strName[m_shown];
    setSelectorText(name, m_shown);
    shareLoadedList();
    const storage::Change change =
        storage::SetVolumeCount(m_services.files, name, RoundToInt16(LeadingValue(entry)).value_or(0));
    if (!change.ok()) {
        afterFailedChange(change, name);
        return;
    }
    ui->lblKansu->setText(entry);
    showEdited(name, change);
}

void frmMain::cboSyo_Click(int /*index*/)
{
    if (m_shown < 1 || m_shown > m_cat.intKensu) {
        ui->cboSyo->setEditText(QString());
        return;
    }
    if (refuseWhileLocked()) {
        ui->cboSyo->setEditText(IntText(m_cat.intSyo[m_shown] + 1));
        return;
    }
    const Busy busy(*this);
    if (refuseUnreachable()) {
        ui->cboSyo->setEditText(IntText(m_cat.intSyo[m_shown] + 1));
        return;
    }
    // The start volume belongs to the title on display, whatever the selector shows.
    const QString name = m_cat.strName[m_shown];
    setSelectorText(name, m_shown);
    shareLoadedList();
    const storage::Change change = storage::SetStartOffset(
        m_services.files, name, RoundToInt16(LeadingValue(ui->cboSyo->currentText()) - 1).value_or(0));
    if (!change.ok()) {
        afterFailedChange(change, name);
        return;
    }
    showEdited(name, change);
}

void frmMain::showWritten(const storage::Change& change)
{
    if (change.written) {
        // The list as the command replaced it is what a read of the file gives now.
        m_cat = *change.written;
        m_listToShare = false; // the command has left it with the commands already
        storage::LoadReport report;
        report.bytes = change.bytes;
        showLoadedTitles(report);
    } else {
        LoadTitles();
    }
}

void frmMain::showEdited(const QString& name, const storage::Change& change)
{
    showWritten(change);
    // Others may have added or removed titles before this one: it is found again by name.
    m_shown = storage::FindTitle(m_cat, name);
    if (m_shown > 0 && m_shown != ui->hsbData->value()) {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(m_shown);
        ui->lblKensu->setText(IntText(m_shown) + QStringLiteral(" / ") + IntText(m_cat.intKensu));
    }
    strFile = storage::FlagFileUpper(name);
    setSelectorText(name, m_shown);
    ShowVolumes();
}

// ---- Deletion --------------------------------------------------------------

void frmMain::cmdDel_Click()
{
    if (refuseWhileLocked())
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    // The title on display is the one deleted, whatever was typed into the selector.
    const QString name = m_shown > 0 ? m_cat.strName[m_shown] : QString();
    setSelectorText(name, m_shown);
    const int answer = m_services.dialogs.MsgBox(name + QStringLiteral("のデータを削除していいですか？"),
                                                 mb::OKCancel + mb::Exclamation, QStringLiteral("削除確認"));
    if (answer != mb::OK)
        return;

    if (m_shown == 0) {
        showEmptyCatalogue();
        return;
    }
    shareLoadedList();
    const storage::Change change = storage::DeleteTitle(m_services.files, name);
    if (!change.ok()) {
        afterFailedChange(change, name);
        return;
    }

    showWritten(change);
    if (m_cat.intKensu > 0) {
        {
            // The title that followed takes the deleted one's place; after the last, the one before.
            const QSignalBlocker block(ui->hsbData);
            ui->hsbData->setValue(std::min<int>(change.position, m_cat.intKensu));
        }
        ShowTitle();
    } else {
        showEmptyCatalogue();
    }
}

// ---- Report and printing ---------------------------------------------------

void frmMain::cmdHozon_Click()
{
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    Dialogs& dialogs = m_services.dialogs;
    const bool printing = dialogs.MsgBox(QStringLiteral("未収集分のデータを『残巻データ.txt』に保存します。") + crlf() +
                                             crlf() + QStringLiteral("印刷もしますか？"),
                                         mb::YesNo + mb::Question, QStringLiteral("残巻データ出力")) == mb::Yes;

    const QString reportFile = QStringLiteral("残巻データ.txt");
    const QString pattern = QStringLiteral("yyyy年mm月dd日現在の未収集状況");
    BusyCursor cursor;
    const storage::ReportCollection collected = storage::CollectReport(m_services.files, m_cat);
    QList<QStringList> records;
    records.append({FormatDate(m_services.clock.today(), pattern)});
    records.append({QString()});
    for (const storage::ReportLine& line : collected.lines)
        records.append({line.title, line.indexes});

    QByteArray bytes;
    Status written;
    for (const QStringList& record : records) {
        const Result<QByteArray> encoded =
            record.size() == 1 ? storage::EncodeRecord({record[0]}) : storage::EncodeRecord({record[0], record[1]});
        if (!encoded) {
            Error e = encoded.error();
            e.file = reportFile;
            written = e;
            break;
        }
        bytes += encoded.value();
    }
    if (written)
        written = m_services.files.replace(reportFile, bytes);
    cursor.release();

    if (printing) {
        Printer& printer = m_services.printer;
        Status printed;
        // The heading is formatted again for the printer, as the file got its own.
        records[0] = {FormatDate(m_services.clock.today(), pattern)};
        for (qsizetype r = 0; printed && r < records.size(); ++r)
            printed = printer.printLine(records[r]);
        if (printed)
            printed = printer.endDoc();
        else
            (void)printer.endDoc();
        if (!printed)
            dialogs.MsgBox(QStringLiteral("印刷できませんでした。") + crlf() + crlf() + printed.error().message,
                           mb::Exclamation, QStringLiteral("印刷エラー"));
    }

    if (!collected.notCreated.isEmpty())
        dialogs.MsgBox(QStringLiteral("次の巻データファイルが見つからず、作成もできませんでした。") + crlf() +
                           collected.notCreated.join(crlf()),
                       mb::Exclamation, QStringLiteral("保存エラー"));
    if (!collected.unusable.isEmpty()) {
        QStringList lines;
        for (const Error& e : collected.unusable)
            lines.append(QStringLiteral("%1（%2）").arg(e.file, e.message));
        dialogs.MsgBox(QStringLiteral("次の巻データファイルは読み込めないため、未収集の巻を出力していません。") +
                           crlf() + lines.join(crlf()),
                       mb::Exclamation, QStringLiteral("保存エラー"));
    }
    if (!written) {
        Error e = written.error();
        e.file = reportFile;
        dialogs.MsgBox(writeFailureText(e), mb::Exclamation, QStringLiteral("保存エラー"));
        return;
    }
    dialogs.MsgBox(QStringLiteral("まだ集めてない情報を <残巻データ.txt>として保存しました。") + crlf() + crlf() +
                       QStringLiteral("データはメモ帳などで開くことができます。"),
                   mb::Information, QStringLiteral("保存終了"));
}

void frmMain::cmdPrint_Click()
{
    const Status printed = m_services.printer.printWidget(*this);
    if (!printed)
        m_services.dialogs.MsgBox(QStringLiteral("印刷できませんでした。") + crlf() + crlf() + printed.error().message,
                                  mb::Exclamation, QStringLiteral("印刷エラー"));
}

// ---- Help and exit ---------------------------------------------------------

void frmMain::cmdHelp_Click()
{
    strHelp = QStringLiteral("QvHelp.chm");
    m_services.help.HtmlHelpA(this, strHelp, HH_DISPLAY_TOPIC, 0);
}

void frmMain::cmdShoukai_Click()
{
    const QStringList lines = {
        QStringLiteral("よりコレクション性を重視した「カヴリオＰｒｏ」をぜひどうぞ！"),
        QString(),
        QStringLiteral("コミック本の表紙やお気に入りのページを画像として表示させたり"),
        QStringLiteral("著者名や掲載雑誌名、発行日､自己評価などを記録することができます。"),
        QStringLiteral("より楽しく便利にコミック本の管理ができます。"),
        QString(),
        QStringLiteral("どんなことができるソフトなのかはカヴリオＰｒｏのヘルプをぜひご覧ください。"),
    };
    m_services.dialogs.MsgBox(lines.join(crlf()), mb::Information, QStringLiteral("カヴリオＰｒｏのご紹介"));
    strHelp = QStringLiteral("TandrelHelp.chm");
    m_services.help.HtmlHelpA(this, strHelp, HH_DISPLAY_TOPIC, 0);
}

void frmMain::cmdEnd_Click()
{
    strHelp = QStringLiteral("QvHelp.chm");
    m_services.help.HtmlHelpA(this, strHelp, HH_CLOSE_ALL, 0);
    strHelp = QStringLiteral("TandrelHelp.chm");
    m_services.help.HtmlHelpA(this, strHelp, HH_CLOSE_ALL, 0);
    close();
    QCoreApplication::exit(0);
}

} // namespace kav
