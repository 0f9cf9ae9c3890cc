#include "frmMain.h"

#include "ui_frmMain.h"

#include "Accessibility.h"
#include "FixedWindow.h"
#include "VolumeCursor.h"
#include "WindowStyle.h"

#include "core/Clock.h"
#include "core/Codec.h"
#include "core/Conversions.h"
#include "core/FileService.h"
#include "storage/Record.h"
#include "ui/Dialogs.h"
#include "ui/HelpViewer.h"
#include "ui/Printer.h"

#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShortcut>

#include <cmath>

// The pictures live in a static library: pull them in by name.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace kav {

namespace {

const QColor ColourUnflagged(0xC0, 0xFF, 0xC0); // flag 0
const QColor ColourFlagged(0xFF, 0xC0, 0xFF);   // flag 1
const QColor ColourOther(0, 0, 0);              // any other value

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

// Forbidden in a title, in the order they are tested: a title also names a file.
const QString ForbiddenCharacters = QStringLiteral("\\/:,;*?\"<>|");

QString crlf()
{
    return QStringLiteral("\r\n");
}

// Longest name (in UTF-8 bytes) that still leaves room for ".TXT" and the
// temporary suffix a safe rewrite appends, within the usual 255-byte limit.
constexpr int MaxNameBytes = 240;

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

// Characters that input methods on Linux type where a Windows user's code page 932
// text holds a look-alike: the title is stored as such a file would hold it.
QString windowsForms(QString text)
{
    static const std::pair<char16_t, char16_t> map[] = {
        {u'\u301C', u'\uFF5E'}, // wave dash -> full-width tilde (0x8160)
        {u'\u2212', u'\uFF0D'}, // minus sign -> full-width hyphen-minus (0x817C)
        {u'\u2016', u'\u2225'}, // double vertical line -> parallel to (0x8161)
        {u'\u2014', u'\u2015'}, // em dash -> horizontal bar (0x815C)
        {u'\u00A2', u'\uFFE0'}, {u'\u00A3', u'\uFFE1'}, {u'\u00AC', u'\uFFE2'},
    };
    for (const auto& [from, to] : map)
        text.replace(QChar(from), QChar(to));
    return text;
}

struct Piece
{
    QString name;
    qint16 count;
    qint16 offset;
};

} // namespace

frmMain::frmMain(const Services& services, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmMain>()), m_services(services)
{
    initResources();
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

    ui->Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/logo.gif")));

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
        lblKan[i] = label;
    }
    setLabelColour(lblKan[9], ColourFlagged);
    setLabelColour(lblKan[10], ColourUnflagged);

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
    for (int i = 1; i <= storage::FlagCount; ++i)
        boxed.append(lblKan[i]);
    for (QLabel* label : boxed)
        blackText(label);

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
    connect(ui->cboName, &QComboBox::activated, this, &frmMain::cboName_Click);
    connect(ui->cboSyo, &QComboBox::activated, this, &frmMain::cboSyo_Click);
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
}

void frmMain::LoadTitles()
{
    ui->cboName->clear();
    ui->cboName->clearEditText();
    ui->cboName->repaint();

    const storage::LoadReport report = storage::LoadTitles(m_services.files, m_cat);

    QStringList names;
    names.reserve(m_cat.intKensu);
    for (int p = 1; p <= m_cat.intKensu; ++p)
        names.append(m_cat.strName[p]);
    ui->cboName->addItems(names);
    ui->cboName->setCurrentIndex(-1);
    ui->cboName->clearEditText();

    {
        // Qt would drag the minimum below 1 for an empty catalogue, or move the
        // value (and show a title) when the maximum drops below it.
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setRange(1, std::max<int>(1, m_cat.intKensu));
    }
    if (m_shown > m_cat.intKensu)
        m_shown = m_cat.intKensu;

    if (report.failure && !m_titlesLocked) {
        m_titlesLocked = true;
        const Error& e = *report.failure;
        QString where = e.line > 0 ? QStringLiteral("%1行目").arg(e.line) : QString();
        m_services.dialogs.MsgBox(
            QStringLiteral("「%1」の%2を読み込めませんでした。").arg(e.file, where) + crlf() +
                QStringLiteral("（%1）").arg(e.message) + crlf() + crlf() +
                QStringLiteral("読み込めた%1件だけを表示します。").arg(m_cat.intKensu) + crlf() +
                QStringLiteral("ファイルを守るため、起動し直すまで登録・変更・削除はできません。"),
            mb::Exclamation, QStringLiteral("読み込みエラー"));
    }
}

void frmMain::hsbData_Change()
{
    ShowTitle();
}

void frmMain::cboName_Click(int index)
{
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

    strFile = name + QStringLiteral(".TXT");
    setSelectorText(name, m_shown);
    ui->lblKansu->setText(IntText(count) + QStringLiteral("巻"));
    ui->cboSyo->setEditText(IntText(offset + 1));
    ShowVolumes();
    ui->lblKensu->setText(IntText(p) + QStringLiteral(" / ") + IntText(m_cat.intKensu));
}

void frmMain::ShowVolumes()
{
    storage::LoadVolumes(m_services.files, strFile, intKan);

    // Each label is shown or hidden once, so the grid does not flicker.
    const double count = LeadingValue(ui->lblKansu->text());
    const double first = LeadingValue(ui->cboSyo->currentText());
    for (int i = 1; i <= storage::FlagCount; ++i) {
        QLabel* label = lblKan[i];
        if (count < i) {
            label->setVisible(false);
            continue;
        }
        label->setText(RealText(i + first - 1));
        setLabelColour(label, flagColour(intKan[i]));
        label->setVisible(true);
    }
}

// ---- Marking volumes -------------------------------------------------------

void frmMain::lblKan_Click(int index)
{
    if (index < 1 || index > storage::FlagCount || m_shown < 1 || m_shown > m_cat.intKensu)
        return;
    const qint16 old = intKan[index];
    // A hand-edited 32767 cannot be incremented; it wraps to 0 like any value above 1.
    qint16 flag = old == 32767 ? qint16(0) : qint16(old + 1);
    if (flag > 1)
        flag = 0;
    intKan[index] = flag;
    setLabelColour(lblKan[index], flag != 0 ? ColourFlagged : ColourUnflagged);
    SaveVolumesOfShownTitle(index, old);
}

void frmMain::SaveVolumesOfShownTitle(int index, qint16 oldFlag)
{
    // The flags belong to the title on display, whatever was typed into the selector.
    const QString name = m_cat.strName[m_shown];
    setSelectorText(name, m_shown);
    strFile = name + QStringLiteral(".txt");
    const Status saved = storage::SaveVolumes(m_services.files, strFile, intKan);
    if (!saved) {
        intKan[index] = oldFlag;
        setLabelColour(lblKan[index], flagColour(oldFlag));
        tellWriteFailure(saved.error());
    }
}

// ---- Failures --------------------------------------------------------------

void frmMain::tellWriteFailure(const Error& error)
{
    m_services.dialogs.MsgBox(QStringLiteral("「%1」に保存できませんでした。").arg(error.file) + crlf() + crlf() +
                                  error.message,
                              mb::Exclamation, QStringLiteral("保存エラー"));
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

void frmMain::reloadAfterFailure()
{
    const int keep = m_shown;
    LoadTitles();
    if (m_cat.intKensu == 0) {
        showEmptyCatalogue();
        return;
    }
    {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(std::clamp<int>(keep, 1, m_cat.intKensu));
    }
    ShowTitle();
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
}

// ---- Registration ----------------------------------------------------------

void frmMain::cmdNew_Click()
{
    if (refuseWhileLocked())
        return;
    Dialogs& dialogs = m_services.dialogs;

    QString defaultText;
    QString title;
    for (;;) {
        title = dialogs.InputBox(QStringLiteral("題名を入力して下さい"), QStringLiteral("題名入力"), defaultText);
        if (title.isEmpty())
            return;
        title = windowsForms(title);
        const bool forbidden = std::any_of(ForbiddenCharacters.begin(), ForbiddenCharacters.end(),
                                           [&](QChar c) { return title.contains(c); });
        if (forbidden) {
            dialogs.MsgBox(QStringLiteral("\\ / : , ; * ? < > |　の文字は使えません。"), mb::Exclamation,
                           QStringLiteral("入力制限"));
            continue;
        }
        bool duplicate = false;
        for (int i = 1; i <= m_cat.intKensu; ++i) {
            if (m_cat.strName[i] == title) {
                duplicate = true;
                break;
            }
        }
        if (duplicate) {
            dialogs.MsgBox(QStringLiteral("既に同じ題名で登録されているものがあります。") + crlf() + crlf() +
                               QStringLiteral("題名の後ろに作者名を入れるなどして区別して下さい"),
                           mb::Exclamation, QStringLiteral("二重登録"));
            defaultText = title;
            continue;
        }
        // A title names a file and a line of a Shift-JIS file: both must be able to hold it.
        QString problem;
        if (hasControlCharacter(title))
            problem = QStringLiteral("題名に制御文字（改行やタブなど）は使えません。");
        else if (!cp932::canEncode(title))
            problem = QStringLiteral("題名にシフトJISで表せない文字が含まれています。") + crlf() +
                      QStringLiteral("別の文字に置き換えて下さい。");
        else if (title.toUtf8().size() > MaxNameBytes - 10)
            problem = QStringLiteral("題名が長すぎます。短くして下さい。");
        if (!problem.isEmpty()) {
            dialogs.MsgBox(problem, mb::Exclamation, QStringLiteral("入力制限"));
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

    QList<Piece> pieces;
    if (n <= 50) {
        pieces.append({title, n, 0});
    } else {
        const int count = static_cast<int>(std::floor(n / 50.0 + 0.9999));
        for (int j = 1; j <= count; ++j) {
            const int first = (j - 1) * 50 + 1;
            const int last = j < count ? j * 50 : n;
            pieces.append({title + QStringLiteral("(%1_%2)").arg(IntText(first), IntText(last)),
                           static_cast<qint16>(last - first + 1), static_cast<qint16>((j - 1) * 50)});
        }
    }

    // Everything is checked before the first record is written.
    if (m_cat.intKensu + pieces.size() > storage::MaxTitles) {
        dialogs.MsgBox(QStringLiteral("登録できるのは%1件までです。").arg(storage::MaxTitles) + crlf() +
                           QStringLiteral("この登録には%1件の空きが必要ですが、残りは%2件です。")
                               .arg(pieces.size())
                               .arg(storage::MaxTitles - m_cat.intKensu),
                       mb::Exclamation, QStringLiteral("登録制限"));
        return;
    }
    const QString reserved[] = {QStringLiteral("データ"), QStringLiteral("残巻データ")};
    for (const Piece& piece : pieces) {
        const QString folded = piece.name.toCaseFolded();
        QString clash;
        for (const QString& r : reserved) {
            if (folded == r.toCaseFolded())
                clash = r + QStringLiteral(".txt");
        }
        for (int i = 1; clash.isEmpty() && i <= m_cat.intKensu; ++i) {
            if (m_cat.strName[i].toCaseFolded() == folded)
                clash = m_cat.strName[i] + QStringLiteral(".TXT");
        }
        if (clash.isEmpty() && !FileService::isSafeName(piece.name + QStringLiteral(".TXT")))
            clash = piece.name;
        if (!clash.isEmpty()) {
            dialogs.MsgBox(QStringLiteral("「%1」は「%2」と同じファイルになるため登録できません。")
                                   .arg(piece.name + QStringLiteral(".TXT"), clash) +
                               crlf() + QStringLiteral("題名を変えて登録し直して下さい。"),
                           mb::Exclamation, QStringLiteral("二重登録"));
            return;
        }
    }

    if (n > 50)
        dialogs.MsgBox(QStringLiteral("自動的に５０巻ずつのデータに分けます"), mb::Information,
                       QStringLiteral("１データ５０件制限"));

    const int firstPosition = m_cat.intKensu + 1;
    for (const Piece& piece : pieces) {
        Status status = storage::AppendTitle(m_services.files, piece.name, piece.count, piece.offset);
        if (status)
            status = storage::CreateVolumes(m_services.files, piece.name + QStringLiteral(".TXT"));
        if (!status) {
            tellWriteFailure(status.error());
            reloadAfterFailure();
            return;
        }
    }

    const Piece& shown = pieces.first();
    LoadTitles();
    m_shown = firstPosition <= m_cat.intKensu ? firstPosition : 0;
    strFile = shown.name + QStringLiteral(".TXT");
    setSelectorText(shown.name, m_shown);
    ui->lblKansu->setText(IntText(n <= 50 ? n : 50) + QStringLiteral("巻"));
    ui->cboSyo->setEditText(QStringLiteral("1"));
    ShowVolumes();
}

// ---- Count and start volume ------------------------------------------------

void frmMain::lblKansu_Click()
{
    // With no title there is nothing whose count could change.
    if (m_shown < 1 || m_shown > m_cat.intKensu)
        return;
    if (refuseWhileLocked())
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
    int position = 0;
    for (int i = 1; i <= m_cat.intKensu; ++i) {
        if (m_cat.strName[i] == name) {
            position = i;
            break;
        }
    }
    m_cat.intKansu[position] = RoundToInt16(LeadingValue(entry)).value_or(0);
    ui->lblKansu->setText(entry);

    SaveEditedTitles(name, m_shown);
}

void frmMain::cboSyo_Click(int /*index*/)
{
    if (refuseWhileLocked()) {
        ui->cboSyo->setEditText(m_shown > 0 ? IntText(m_cat.intSyo[m_shown] + 1) : QString());
        return;
    }
    // The selector's selection follows the title shown.
    const int position = ui->cboName->currentIndex() + 1;
    const QString name = position > 0 ? m_cat.strName[position] : ui->cboName->currentText();
    setSelectorText(name, position);
    m_cat.intSyo[position] = RoundToInt16(LeadingValue(ui->cboSyo->currentText()) - 1).value_or(0);

    SaveEditedTitles(name, position);
}

void frmMain::SaveEditedTitles(const QString& name, int position)
{
    const Status saved = storage::SaveTitles(m_services.files, m_cat, 0, storage::TitleListLower());
    if (!saved) {
        tellWriteFailure(saved.error());
        reloadAfterFailure();
        return;
    }
    const int shown = m_shown;
    LoadTitles();
    m_shown = shown;
    strFile = name + QStringLiteral(".TXT");
    setSelectorText(name, position);
    ShowVolumes();
}

// ---- Deletion --------------------------------------------------------------

void frmMain::cmdDel_Click()
{
    if (refuseWhileLocked())
        return;
    const QString name = ui->cboName->currentText();
    const int answer = m_services.dialogs.MsgBox(name + QStringLiteral("のデータを削除していいですか？"),
                                                 mb::OKCancel + mb::Exclamation, QStringLiteral("削除確認"));
    if (answer != mb::OK)
        return;

    const int oldCount = m_cat.intKensu;
    if (oldCount == 0) {
        showEmptyCatalogue();
        return;
    }
    int found = 0;
    for (int i = 1; i <= oldCount; ++i) {
        if (m_cat.strName[i] == name) {
            found = i;
            break;
        }
    }
    if (found == 0) {
        // Typed text that names no title: nothing to delete, the title shown stays.
        if (m_shown > 0)
            setSelectorText(m_cat.strName[m_shown], m_shown);
        return;
    }

    // The list goes first: if it cannot be rewritten, the title keeps its flags.
    const Status saved = storage::SaveTitles(m_services.files, m_cat, found, storage::TitleListUpper());
    if (!saved) {
        tellWriteFailure(saved.error());
        reloadAfterFailure();
        return;
    }
    (void)m_services.files.remove(name + QStringLiteral(".TXT")); // a missing flag file is fine

    LoadTitles();
    if (m_cat.intKensu > 0) {
        {
            const QSignalBlocker block(ui->hsbData);
            ui->hsbData->setValue(found == oldCount ? found - 1 : found);
        }
        ShowTitle();
    } else {
        showEmptyCatalogue();
    }
}

// ---- Report and printing ---------------------------------------------------

void frmMain::cmdHozon_Click()
{
    Dialogs& dialogs = m_services.dialogs;
    const bool printing = dialogs.MsgBox(QStringLiteral("未収集分のデータを『残巻データ.txt』に保存します。") + crlf() +
                                             crlf() + QStringLiteral("印刷もしますか？"),
                                         mb::YesNo + mb::Question, QStringLiteral("残巻データ出力")) == mb::Yes;

    const QString reportFile = QStringLiteral("残巻データ.txt");
    const QString pattern = QStringLiteral("yyyy年mm月dd日現在の未収集状況");
    QList<QStringList> records;
    records.append({FormatDate(m_services.clock.today(), pattern)});
    records.append({QString()});

    FileService& files = m_services.files;
    QStringList notCreated;
    const int count = m_cat.intKensu;
    for (int p = 1; p <= count; ++p) {
        const QString name = m_cat.strName[p];
        const QString flagFile = name + QStringLiteral(".txt");
        storage::Flags flags{};
        const storage::FlagsRead read = storage::LoadVolumes(files, flagFile, flags, 2, storage::OnReadFailure::Stop);
        if (read.missing) {
            // Only a file that is really absent is created; one that exists but
            // would not open is left as it is.
            if (files.exists(flagFile) || !storage::CreateVolumes(files, flagFile, 2))
                notCreated.append(flagFile);
            continue;
        }
        QStringList indexes;
        for (int i = 1; i <= storage::FlagCount; ++i) {
            if (flags[i] == 1)
                indexes.append(IntText(i));
        }
        if (!indexes.isEmpty())
            records.append({name, indexes.join(QLatin1Char('_'))});
    }

    Status written = files.open(1, reportFile, FileMode::Output);
    for (qsizetype r = 0; written && r < records.size(); ++r) {
        const QStringList& record = records[r];
        written = record.size() == 1 ? storage::WriteRecord(files, 1, {record[0]})
                                     : storage::WriteRecord(files, 1, {record[0], record[1]});
    }
    if (written)
        written = files.close(1);
    else
        files.discard(1);

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

    if (!notCreated.isEmpty())
        dialogs.MsgBox(QStringLiteral("次の巻データファイルが見つからず、作成もできませんでした。") + crlf() +
                           notCreated.join(crlf()),
                       mb::Exclamation, QStringLiteral("保存エラー"));
    if (!written) {
        dialogs.MsgBox(QStringLiteral("「%1」に保存できませんでした。").arg(reportFile) + crlf() + crlf() +
                           written.error().message,
                       mb::Exclamation, QStringLiteral("保存エラー"));
        return;
    }
    dialogs.MsgBox(QStringLiteral("まだ集めてない情報を <残巻データ.txt>として保存しました。") + crlf() + crlf() +
                       QStringLiteral("データはメモ帳などで開くことができます。"),
                   mb::Information, QStringLiteral("保存終了"));
}

void frmMain::cmdPrint_Click()
{
    const Status printed = m_services.printer.printImage(grab().toImage());
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
    (void)m_services.files.closeAll();
    close();
    QCoreApplication::exit(0);
}

} // namespace kav
