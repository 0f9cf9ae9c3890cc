#pragma once

#include <QTextBrowser>

#include <memory>

class QTextDocument;

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

    // Text and pictures grow together, whatever sizes the page's stylesheet fixes;
    // 1 is the page as written. Kept from page to page.
    qreal zoom() const { return m_zoom; }
    void setZoom(qreal factor);
    // Steps along the usual factors, from 50 % to 300 %.
    void zoomBy(int steps);
    // The page shown, at its own size whatever the zoom: for printing.
    std::unique_ptr<QTextDocument> pageAsWritten() const;

protected:
    void wheelEvent(QWheelEvent* event) override;

private:
    void follow(const QUrl& url);
    void scalePage();

    std::unique_ptr<ChmFile> m_chm;
    qreal m_zoom = 1;
    qreal m_shown = 1; // the factor the page now holds
    bool m_scaling = false;
    int m_wheel = 0; // the part of a wheel step not yet taken
};

} // namespace kav
