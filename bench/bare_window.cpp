// A bare Qt window of the main window's size that draws text in the same fonts: what
// any Qt program of this kind costs to start, for the start-up timing to compare with.
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QWidget>

namespace {
QFont font(const QString& family, int pixels)
{
    QFont f(family);
    f.setPixelSize(pixels);
    return f;
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString gothic = QStringLiteral("ＭＳ Ｐゴシック");
    const QString serif = QStringLiteral("Times New Roman");
    QFont::insertSubstitutions(gothic, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    QFont::insertSubstitutions(serif, {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});

    QWidget window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.setFixedSize(631, 452);
    auto* name = new QComboBox(&window);
    name->setEditable(true);
    name->setFont(font(gothic, 35));
    name->setEditText(QStringLiteral("コミック第1集"));
    name->setGeometry(8, 8, 400, 48);
    auto* count = new QLabel(QStringLiteral("50巻"), &window);
    count->setFont(font(gothic, 21));
    count->setGeometry(420, 8, 100, 40);
    auto* volume = new QLabel(QStringLiteral("51"), &window);
    volume->setFont(font(serif, 27));
    volume->setGeometry(8, 80, 60, 40);
    window.show();
    return app.exec();
}
