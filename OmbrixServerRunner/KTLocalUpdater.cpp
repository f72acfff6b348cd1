#include "KTLocalUpdater.h"

#include "KTPreviousRelease.h"
#include "ui_uiLocalUpdater.h"

#include <KT.h>
#include <KTFileReplacer.h>
#include <KTVersion.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSettings>

namespace {

const QString clientIndex = QStringLiteral("DownloadedClientVersion.txt");
const QString serverIndex = QStringLiteral("DownloadedServerVersion.txt");
const QString helperScript = QStringLiteral("UpgradeHelper.bat");
const QString pendingCommands = QStringLiteral("PendingServerCommands.txt");

bool windowsBuild()
{
    const int platform = KTVersion::operatingSystem().toInt();
    return platform == KT::Windows32 || platform == KT::Windows64;
}

} // namespace

KTLocalUpdater::KTLocalUpdater(QWidget* parent)
    : QDialog(parent)
    , _ui(new Ui::uiLocalUpdater)
    , _applicationDirectory(QCoreApplication::applicationDirPath())
{
    _ui->setupUi(this);
    _ui->lblVersion->setText(KTVersion::ombrixServerVersionSimplified());
    _ui->lblVersionAlias->setText(KTVersion::ombrixServerAlias());
    adjustSize();
    centre();
}

KTLocalUpdater::~KTLocalUpdater()
{
    delete _ui;
}

void KTLocalUpdater::centre()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move((screen->geometry().width() - width()) / 2, (screen->geometry().height() - height()) / 2);
}

bool KTLocalUpdater::fail(const QString& message)
{
    // Never start a server on a partly installed release.
    _exitType = StartNothing;
    if (_interactive)
        QMessageBox::warning(this, tr("Error"), message, QMessageBox::Ok);
    else
        qWarning().noquote() << message;
    return false;
}

bool KTLocalUpdater::checkForUpdates(const QString& dirName)
{
    _exitType = StartPanel;
    const QString downloads = QDir(_applicationDirectory).filePath(dirName);
    if (!QFileInfo::exists(downloads)) {
        QDir().mkpath(downloads);
        return true;
    }
    const bool client = QFile::exists(downloads + QLatin1Char('/') + clientIndex);
    const bool server = QFile::exists(downloads + QLatin1Char('/') + serverIndex);
    if (client && !updateClient(downloads))
        return false;
    if (server && !updateServer(downloads, dirName))
        return false;
    return true;
}

// Copies source over folder/target, creating the folder first; the copy is
// renamed into place, so that a failure leaves an older copy working.
bool KTLocalUpdater::installFile(const QString& source, const QString& folder, const QString& target,
                                 const QString& folderName)
{
    if (!QDir().mkpath(folder))
        return fail(tr("No se puede crear directorio : %1").arg(folderName));
    if (!KTFileReplacer::copy(source, target))
        return fail(tr("No se puede copiar el archivo : %1").arg(QFileInfo(target).fileName()));
    return true;
}

// The files an index lists, with the platform code and relative path of
// each, after its version is shown; false, after the error box, when an
// entry would leave the folder it belongs in.
bool KTLocalUpdater::readIndex(const QString& path, const QString& versionKey, const QString& status,
                               QList<IndexEntry>* entries)
{
    QSettings index(path, QSettings::IniFormat);
    _ui->lblSystemObject->setText(status.arg(index.value(versionKey).toString()));
    index.beginGroup(QStringLiteral("Files"));
    for (const QString& fileName : index.childKeys()) {
        const QStringList value = index.value(fileName).toString().split(QLatin1Char(','));
        const IndexEntry entry{fileName, value.value(0).toInt(), value.value(1)};
        // Index entries come from the download: nothing may land outside its folder.
        if (!KTVersion::isPlainFileName(entry.fileName) || !KTVersion::isInsidePath(entry.relativePath))
            return fail(tr("El archivo %1 tiene una ruta no válida : %2").arg(entry.fileName, entry.relativePath));
        entries->append(entry);
    }
    return true;
}

bool KTLocalUpdater::updateClient(const QString& downloads)
{
    QList<IndexEntry> entries;
    if (!readIndex(downloads + QLatin1Char('/') + clientIndex, QStringLiteral("ClientValues/ClientVersion"),
                   tr("Actualizando software cliente a version : %1"), &entries))
        return false;
    for (const IndexEntry& entry : entries) {
        const QString platformFolder = QStringLiteral("OmbrixClient-") + KTVersion::operatingSystemLiteral(entry.platform);
        const QString folder = downloads + QLatin1Char('/') + platformFolder + QLatin1Char('/') + entry.relativePath;
        if (!installFile(downloads + QLatin1Char('/') + platformFolder + QStringLiteral("-Download/") + entry.fileName,
                         folder, folder + QLatin1Char('/') + entry.fileName, platformFolder))
            return false;
    }
    if (!KTFileReplacer::copy(downloads + QLatin1Char('/') + clientIndex, downloads + QStringLiteral("/ClientVersion.txt")))
        return fail(tr("No se puede actualizar el archivo actual de definiciones del cliente"));
    if (!QFile::remove(downloads + QLatin1Char('/') + clientIndex))
        return fail(tr("No se puede actualizar el archivo descargado de definiciones del cliente"));
    return true;
}

bool KTLocalUpdater::updateServer(const QString& downloads, const QString& dirName)
{
    QList<IndexEntry> entries;
    if (!readIndex(downloads + QLatin1Char('/') + serverIndex, QStringLiteral("ServerValues/ServerVersion"),
                   tr("Actualizando software servidor a version : %1"), &entries))
        return false;
    KTPreviousRelease previous(_applicationDirectory, downloads);
    if (!windowsBuild()
        && !previous.begin(QSettings(downloads + QLatin1Char('/') + serverIndex, QSettings::IniFormat)
                               .value(QStringLiteral("ServerValues/ServerVersion")).toString()))
        return fail(previous.error());
    QFile script(_applicationDirectory + QLatin1Char('/') + helperScript);
    script.remove();
    script.open(QIODevice::WriteOnly | QIODevice::Text);
    script.write("@ping 127.0.0.1 -n 2 -w 1000 > nul \n");
    script.write("@ping 127.0.0.1 -n 2 -w 1000> nul \r\n");
    for (const IndexEntry& entry : entries) {
        const QString platformFolder = QStringLiteral("OmbrixServer-") + KTVersion::operatingSystemLiteral(entry.platform);
        if (windowsBuild()) {
            script.write(QStringLiteral("copy /Y %1\\%2\\%3 %4\\%3\r\n")
                             .arg(dirName, platformFolder, entry.fileName,
                                  QString(entry.relativePath).replace(QLatin1Char('/'), QLatin1Char('\\')))
                             .toUtf8());
            continue;
        }
        const QString folder = _applicationDirectory + QLatin1Char('/') + entry.relativePath;
        // The file in place goes to the Previous folder first, for a rollback.
        if (!previous.keep(QDir::cleanPath(entry.relativePath.isEmpty() ? entry.fileName
                                                                          : entry.relativePath + QLatin1Char('/')
                                                                                + entry.fileName)))
            return fail(previous.error());
        if (!installFile(downloads + QLatin1Char('/') + platformFolder + QLatin1Char('/') + entry.fileName, folder,
                         folder + QLatin1Char('/') + entry.fileName, entry.relativePath))
            return false;
    }
    if (windowsBuild()) {
        script.write("OmbrixServerRunner");
        _exitType = StartUpgradeHelper;
    }
    script.close();
    if (!keepPendingCommands(downloads))
        return false;
    if (!QFile::remove(downloads + QLatin1Char('/') + serverIndex))
        return fail(tr("No se puede actualizar el archivo descargado de definiciones del servidor"));
    return true;
}

// A release put in place without the panel's Install has not run its SQL
// lines: they are kept for the panel, which runs them before it serves.
bool KTLocalUpdater::keepPendingCommands(const QString& downloads)
{
    const QSettings index(downloads + QLatin1Char('/') + serverIndex, QSettings::IniFormat);
    const QString commands = index.value(QStringLiteral("ServerValues/ServerCommands")).toString();
    if (index.value(QStringLiteral("ServerValues/CommandsExecuted")).toBool() || commands.trimmed().isEmpty())
        return true;
    QSettings pending(downloads + QLatin1Char('/') + pendingCommands, QSettings::IniFormat);
    // An earlier release whose lines have not run yet keeps them, ahead of this one's.
    const QString earlier = pending.value(QStringLiteral("ServerValues/ServerCommands")).toString();
    pending.setValue(QStringLiteral("ServerValues/ServerVersion"), index.value(QStringLiteral("ServerValues/ServerVersion")));
    pending.setValue(QStringLiteral("ServerValues/ServerCommands"), earlier + commands);
    pending.sync();
    if (pending.status() != QSettings::NoError)
        return fail(tr("No se puede guardar las sentencias pendientes de la versión : %1").arg(pendingCommands));
    return true;
}

bool KTLocalUpdater::rollback(const QString& dirName)
{
    _exitType = StartNothing;
    _ui->lblSystemObject->setText(tr("Restituyendo la versión anterior del servidor"));
    KTPreviousRelease previous(_applicationDirectory, QDir(_applicationDirectory).filePath(dirName));
    if (!previous.restore())
        return fail(previous.error());
    return true;
}

void KTLocalUpdater::executeProcess()
{
    QString program;
    if (_exitType == StartPanel)
        program = windowsBuild() ? QStringLiteral("OmbrixServerPanel.exe") : QStringLiteral("OmbrixServerPanel");
    else if (_exitType == StartUpgradeHelper)
        program = helperScript;
    if (!program.isEmpty())
        QProcess::startDetached(_applicationDirectory + QLatin1Char('/') + program, {}, _applicationDirectory);
}
