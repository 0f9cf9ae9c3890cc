#pragma once

#include <QDir>
#include <QProcess>
#include <QString>

namespace kav::test {

// An exFAT file system mounted through FUSE on a new folder for as long as this
// lives (scripts/exfat-mount.sh); where the machine cannot, skipReason() says why.
class ExfatMount
{
public:
    explicit ExfatMount(const QString& folder) : m_folder(folder)
    {
        QProcess script;
        script.start(QStringLiteral(KAVURIO_SCRIPTS "/exfat-mount.sh"), {QStringLiteral("mount"), m_folder});
        if (!script.waitForFinished(60000) || script.exitStatus() != QProcess::NormalExit) {
            m_skip = QStringLiteral("the mount script did not finish");
            return;
        }
        const QString said = QString::fromLocal8Bit(script.readAllStandardError()).trimmed();
        if (script.exitCode() == 77)
            m_skip = QStringLiteral("no exFAT through FUSE here: ") + said;
        else if (script.exitCode() != 0)
            m_error = QStringLiteral("mounting exFAT failed: ") + said;
        else
            m_mounted = true;
    }
    ~ExfatMount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral(KAVURIO_SCRIPTS "/exfat-mount.sh"), {QStringLiteral("umount"), m_folder});
    }
    Q_DISABLE_COPY_MOVE(ExfatMount)

    bool mounted() const { return m_mounted; }
    // Set when the machine has no FUSE or loop devices: the test skips with it.
    const QString& skipReason() const { return m_skip; }
    // Set when the machine could but the mount failed: the test fails with it.
    const QString& error() const { return m_error; }
    const QString& path() const { return m_folder; }

private:
    QString m_folder;
    QString m_skip;
    QString m_error;
    bool m_mounted = false;
};

} // namespace kav::test
