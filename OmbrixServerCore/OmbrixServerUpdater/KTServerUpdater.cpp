#include "KTServerUpdater.h"

#include "KTDownloadThread.h"
#include "KTReleaseCommands.h"
#include "KTReleaseRecord.h"

#include <KT.h>
#include <KTFileReplacer.h>
#include <KTVersion.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

namespace {

const QString installSource = QStringLiteral("KTServerUpdater::performInstall()");
const QString pendingSource = QStringLiteral("KTServerUpdater::runPendingCommands()");
const QString pendingFile = QStringLiteral("/Downloads/PendingServerCommands.txt");
const QString downloadedIndex = QStringLiteral("/Downloads/DownloadedServerVersion.txt");
const QString tablesDirectory = QStringLiteral("/OmbrixDbData/Tables");
const QString versionKey = QStringLiteral("ServerValues/ServerVersion");

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
    _downloadThread->requestInterruption();
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

// The SQL lines go first: when one fails nothing else has changed, and the
// server goes on with the release it has.
void KTServerUpdater::performInstall(const QString& serverCommands)
{
    emit eventMessage(tr("Comenzando instalación de nuevas versiones"), KT::InformationMessage, installSource);
    const QString release = QSettings(_applicationDirectory + downloadedIndex, QSettings::IniFormat)
                                .value(versionKey).toString();
    if (!runCommands(serverCommands, release, installSource))
        return;
    markCommandsExecuted();
    // A runner started by the panel would end with the service's processes:
    // the service runs it itself, with root's rights, before it starts the
    // panel again. It puts the new runner in place with the other programs,
    // which the service's user may not write.
    if (qEnvironmentVariableIsSet("OMBRIX_SERVICE")) {
        QCoreApplication::exit(serviceRestartExitCode);
        return;
    }
    if (!replaceRunner())
        return;
    connect(qApp, &QCoreApplication::aboutToQuit, this, &KTServerUpdater::executeProcess);
    QCoreApplication::quit();
}

// The database records each release whose lines ran, in their transaction:
// a release recorded there is not run again, whatever the files say.
bool KTServerUpdater::runCommands(const QString& commands, const QString& release, const QString& source)
{
    KTReleaseCommands lines(commands);
    KTReleaseRecord record(_dbController, _applicationDirectory + tablesDirectory);
    if (lines.run(_dbController, release, &record)) {
        if (lines.alreadyRun())
            emit eventMessage(tr("Las sentencias SQL de la versión %1 ya se habían ejecutado en la BD; no se ejecutan "
                                 "de nuevo").arg(release), KT::InformationMessage, source);
        return true;
    }
    if (source == pendingSource)
        emit eventMessage(tr("Fallaron las sentencias SQL pendientes de la versión %1: falló la sentencia '%2'. BD: '%3'. "
                             "El servidor no atenderá clientes con esta versión. Corrija el error y reinicie el "
                             "servidor, o vuelva a la versión anterior: detenga el servidor y ejecute "
                             "'OmbrixServerRunner --rollback', que restituye los archivos guardados en "
                             "Downloads/Previous y descarta las sentencias pendientes.")
                              .arg(release, lines.failedStatement(), lines.error()),
                          KT::ErrorMessage, source);
    else
        emit eventMessage(tr("La instalación de la nueva versión se detuvo: falló la sentencia '%1'. BD: '%2'. El "
                             "servidor sigue en la versión instalada; corrija el error e instale de nuevo.")
                              .arg(lines.failedStatement(), lines.error()),
                          KT::ErrorMessage, source);
    return false;
}

// The runner then knows the lines have run and leaves none pending.
void KTServerUpdater::markCommandsExecuted()
{
    const QString index = _applicationDirectory + downloadedIndex;
    if (!QFile::exists(index))
        return;
    QSettings settings(index, QSettings::IniFormat);
    settings.setValue(QStringLiteral("ServerValues/CommandsExecuted"), true);
    settings.sync();
}

bool KTServerUpdater::runPendingCommands()
{
    const QString path = _applicationDirectory + pendingFile;
    if (!QFile::exists(path))
        return true;
    const QSettings pending(path, QSettings::IniFormat);
    const QString version = pending.value(versionKey).toString();
    emit eventMessage(tr("Ejecutando las sentencias SQL pendientes de la versión %1").arg(version),
                      KT::InformationMessage, pendingSource);
    if (!runCommands(pending.value(QStringLiteral("ServerValues/ServerCommands")).toString(), version, pendingSource))
        return false;
    if (!QFile::remove(path)) {
        emit eventMessage(tr("No se pudo borrar archivo : %1").arg(path), KT::ErrorMessage, pendingSource);
        return false;
    }
    emit eventMessage(tr("Se ejecutaron las sentencias SQL de la versión %1").arg(version), KT::SuccessMessage,
                      pendingSource);
    return true;
}

bool KTServerUpdater::replaceRunner()
{
    const QDir folder(_applicationDirectory + QStringLiteral("/Downloads/OmbrixServer-")
                      + KTVersion::operatingSystemLiteral());
    for (const QString& name : folder.entryList(QDir::Files | QDir::NoSymLinks)) {
        if (KTVersion::file2Object(name, 0) != QLatin1String("OmbrixServerRunner"))
            continue;
        // Written next to the old runner and renamed over it: a failed copy leaves the old one working.
        if (!KTFileReplacer::copy(folder.filePath(name), _applicationDirectory + QLatin1Char('/') + name)) {
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
