#include "KTDownloadThread.h"

#include "KTDownloader.h"

#include <QCoreApplication>
#include <QSqlDatabase>

KTDownloadThread::KTDownloadThread(QObject* parent)
    : QThread(parent)
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &QThread::quit);
}

void KTDownloadThread::setAccount(const QString& companyName, const QString& password)
{
    _companyName = companyName;
    _password = password;
}

void KTDownloadThread::run()
{
    KTDownloader downloader(_applicationDirectory, _companyName, _password);
    connect(&downloader, &KTDownloader::eventMessage, this, &KTDownloadThread::eventMessage);
    connect(&downloader, &KTDownloader::upgradeStatusChanged, this, &KTDownloadThread::upgradeStatusChanged);
    connect(&downloader, &KTDownloader::downloadListUpdated, this, &KTDownloadThread::downloadListUpdated);
    connect(&downloader, &KTDownloader::objectDownloadStatusUpdated, this,
            &KTDownloadThread::objectDownloadStatusUpdated);
    connect(&downloader, &KTDownloader::clientObjectDownloadStatusUpdated, this,
            &KTDownloadThread::clientObjectDownloadStatusUpdated);
    connect(&downloader, &KTDownloader::downloadCompleted, this, &KTDownloadThread::downloadCompleted);
    // Queued to the thread object's (main) thread, which handles the
    // published tables first: a download request they trigger is posted
    // before the quit.
    connect(&downloader, &KTDownloader::upgradeTerminated, this, &QThread::quit, Qt::QueuedConnection);
    connect(this, &KTDownloadThread::downloadUpdatesRequested, &downloader, &KTDownloader::downloadUpdates);
    downloader.checkUpdates();
    exec();
    // The quit may end the event loop before it has run that request (or
    // before the loop has even started): serve what was posted in time.
    QCoreApplication::sendPostedEvents(&downloader, QEvent::MetaCall);
    QSqlDatabase::removeDatabase(QStringLiteral("checkUpdates"));
}
