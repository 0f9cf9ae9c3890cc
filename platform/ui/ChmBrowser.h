#pragma once

#include <QTextBrowser>

#include <memory>

namespace kav {

class ChmFile;

// Shows the pages of a help file, reading pages, pictures and stylesheets from the
// file and nowhere else. Pages have "chm:" addresses ("chm:/pages/a.htm").
class ChmBrowser final : public QTextBrowser
{
public:
    ChmBrowser(std::unique_ptr<ChmFile> chm, QWidget* parent);
    ~ChmBrowser() override;

    const ChmFile& chm() const { return *m_chm; }

    static QUrl urlOf(const QString& objectPath);
    // Any link into the file: a relative path, an object path or an ms-its: address.
    void showPage(const QString& link);

    QVariant loadResource(int type, const QUrl& name) override;

private:
    void follow(const QUrl& url);

    std::unique_ptr<ChmFile> m_chm;
};

} // namespace kav
