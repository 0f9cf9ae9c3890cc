#pragma once

#include "frmMain.h"
#include "support/FailingFileService.h"
#include "support/FixedClock.h"
#include "support/ManualWatcher.h"
#include "support/RecordingHelpViewer.h"
#include "support/RecordingPrinter.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedDialogs.h"
#include "support/TestData.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace kav::test {

// A window over a scratch folder, with every platform service scripted or recorded.
struct WindowFixture
{
    ScratchFolder dir;
    FailingFileService files{dir.path()};
    ScriptedDialogs dialogs;
    RecordingPrinter printer;
    RecordingHelpViewer help;
    FixedClock clock{QDate(2026, 12, 6)};
    ManualWatcher watcher;
    // Started as the program starts it: the disk's own file service and the kernel's notices.
    bool asProgram = false;
    std::unique_ptr<DiskFileWatcher> diskWatcher;
    std::unique_ptr<frmMain> window;

    QString path(const QString& name) const { return dir.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) const { dir.put(name, bytes); }
    void writeText(const QString& name, const QString& text) const { write(name, sjis(text)); }

    QByteArray read(const QString& name) const { return dir.contents(name); }
    // A file's bytes under any letter case of its name, or "<missing>".
    QByteArray readAnyCase(const QString& name) const
    {
        for (const QString& entry : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden)) {
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                return read(entry);
        }
        return QByteArrayLiteral("<missing>");
    }
    bool exists(const QString& name) const { return QFile::exists(path(name)); }

    frmMain& start()
    {
        window.reset();
        if (asProgram) {
            diskWatcher = std::make_unique<DiskFileWatcher>(dir.path());
            window =
                std::make_unique<frmMain>(Services{dialogs, files.disk(), printer, help, clock, diskWatcher.get()});
        } else {
            window = std::make_unique<frmMain>(Services{dialogs, files, printer, help, clock, &watcher});
        }
        window->Form_Load();
        return *window;
    }

    template <typename T> T* child(const QString& name) const
    {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no child %s", qPrintable(name));
        return found;
    }
    QComboBox* cboName() const { return child<QComboBox>(QStringLiteral("cboName")); }
    QComboBox* cboSyo() const { return child<QComboBox>(QStringLiteral("cboSyo")); }
    QLabel* lblKansu() const { return child<QLabel>(QStringLiteral("lblKansu")); }
    QLabel* lblKensu() const { return child<QLabel>(QStringLiteral("lblKensu")); }
    QScrollBar* hsbData() const { return child<QScrollBar>(QStringLiteral("hsbData")); }

    // Captions of the visible volume labels, in index order.
    QStringList visibleCaptions() const
    {
        QStringList out;
        for (int i = 1; i <= 50; ++i) {
            if (!window->volumeLabel(i)->isHidden())
                out.append(window->volumeLabel(i)->text());
        }
        return out;
    }

    // The colour painted in the middle-left of a volume label, read from the screen image.
    QColor labelColour(int index) const
    {
        QLabel* label = window->volumeLabel(index);
        const QImage image = label->grab().toImage();
        return image.pixelColor(4, image.height() / 2);
    }
};

} // namespace kav::test
