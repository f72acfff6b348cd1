#include "KTServerUpdater.h"

#include "KTDownloadThread.h"

#include <KT.h>
#include <KTVersion.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

const QString installSource = QStringLiteral("KTServerUpdater::performInstall()");

QString runnerName()
{
    const int platform = KTVersion::operatingSystem().toInt();
    return platform == KT::Windows32 || platform == KT::Windows64 ? QStringLiteral("OmbrixServerRunner.exe")
                                                                   : QStringLiteral("OmbrixServerRunner");
}

} // namespace

KTServerUpdater::KTServerUpdater(QObject* parent)
    : QObject(parent)
    , _downloadThread(new KTDownloadThread(this))
    , _applicationDirectory(QCoreApplication::applicationDirPath())
{
    connect(_downloadThread, &KTDownloadThread::eventMessage, this, &KTServerUpdater::eventMessage);
    connect(_downloadThread, &KTDownloadThread::upgradeStatusChanged, this, &KTServerUpdater::upgradeStatusChanged);
    connect(_downloadThread, &KTDownloadThread::downloadListUpdated, this, &KTServerUpdater::downloadListUpdated);
    connect(_downloadThread, &KTDownloadThread::objectDownloadStatusUpdated, this,
            &KTServerUpdater::objectDownloadStatusUpdated);
    connect(_downloadThread, &KTDownloadThread::clientObjectDownloadStatusUpdated, this,
            &KTServerUpdater::clientObjectDownloadStatusUpdated);
    connect(_downloadThread, &KTDownloadThread::downloadCompleted, this, &KTServerUpdater::downloadCompleted);
    connect(_downloadThread, &QThread::started, this, &KTServerUpdater::upgradeThreadStarted);
    connect(_downloadThread, &QThread::finished, this, &KTServerUpdater::upgradeThreadFinished);
    connect(this, &KTServerUpdater::downloadUpdatesRequested, _downloadThread,
            &KTDownloadThread::downloadUpdatesRequested);
}

KTServerUpdater::~KTServerUpdater()
{
    stop();
}

void KTServerUpdater::stop()
{
    _downloadThread->quit();
    _downloadThread->wait();
}

bool KTServerUpdater::isRunning() const
{
    return _downloadThread->isRunning();
}

// One check at a time: a request while one runs is ignored.
void KTServerUpdater::checkUpdates(const QString& companyName, const QString& password)
{
    if (_downloadThread->isRunning())
        return;
    _downloadThread->setAccount(companyName, password);
    _downloadThread->setApplicationDirectory(_applicationDirectory);
    _downloadThread->start();
}

void KTServerUpdater::downloadUpdates()
{
    emit downloadUpdatesRequested();
}

void KTServerUpdater::performInstall(const QString& serverCommands)
{
    emit eventMessage(tr("Comenzando instalación de nuevas versiones"), KT::InformationMessage, installSource);
    if (!replaceRunner())
        return;
    for (const QString& line : serverCommands.split(QLatin1Char('\n')))
        if (line.section(QLatin1Char('|'), 0, 0).simplified() == QLatin1String("SQL"))
            emit customQueryRequested(line.section(QLatin1Char('|'), 1, 1).simplified());
    // A runner started by the panel would end with the service's processes:
    // the service runs it itself before it starts the panel again.
    if (qEnvironmentVariableIsSet("OMBRIX_SERVICE")) {
        QCoreApplication::exit(serviceRestartExitCode);
        return;
    }
    connect(qApp, &QCoreApplication::aboutToQuit, this, &KTServerUpdater::executeProcess);
    QCoreApplication::quit();
}

bool KTServerUpdater::replaceRunner()
{
    const QDir folder(_applicationDirectory + QStringLiteral("/Downloads/OmbrixServer-")
                      + KTVersion::operatingSystemLiteral());
    for (const QString& name : folder.entryList(QDir::Files | QDir::NoSymLinks)) {
        if (KTVersion::file2Object(name, 0) != QLatin1String("OmbrixServerRunner"))
            continue;
        const QString target = _applicationDirectory + QLatin1Char('/') + name;
        if (QFile::exists(target) && !QFile::remove(target)) {
            emit eventMessage(tr("No se pudo borrar archivo : %1").arg(target), KT::ErrorMessage, installSource);
            return false;
        }
        if (!QFile::copy(folder.filePath(name), target)) {
            emit eventMessage(tr("No se pudo copiar archivo : %1").arg(name), KT::ErrorMessage, installSource);
            return false;
        }
    }
    return true;
}

void KTServerUpdater::executeProcess()
{
    QProcess::startDetached(_applicationDirectory + QLatin1Char('/') + runnerName(), {});
}
