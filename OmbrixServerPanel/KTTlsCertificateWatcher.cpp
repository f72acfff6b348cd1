#include "KTTlsCertificateWatcher.h"

#include <KT.h>
#include <KTTlsCredentials.h>

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSslCertificate>
#include <QSslKey>
#include <QTimer>

namespace {

constexpr int defaultSettleMs = 1000;
const QString location = QStringLiteral("KTTlsCertificateWatcher::reload()");

} // namespace

KTTlsCertificateWatcher::KTTlsCertificateWatcher(QObject* parent)
    : QObject(parent)
    , _watcher(new QFileSystemWatcher(this))
    , _settle(new QTimer(this))
{
    _settle->setSingleShot(true);
    _settle->setInterval(defaultSettleMs);
    connect(_settle, &QTimer::timeout, this, &KTTlsCertificateWatcher::reload);
    connect(_watcher, &QFileSystemWatcher::fileChanged, _settle, qOverload<>(&QTimer::start));
    connect(_watcher, &QFileSystemWatcher::directoryChanged, _settle, qOverload<>(&QTimer::start));
}

void KTTlsCertificateWatcher::setSettleTime(int ms)
{
    _settle->setInterval(ms);
}

bool KTTlsCertificateWatcher::watch(const QString& certificateFile, const QString& keyFile, const QString& caFile)
{
    _files = QStringList{certificateFile, keyFile, caFile};
    watchPaths();
    QString error;
    _configuration = KTTlsCredentials::load(certificateFile, keyFile, caFile, &error);
    if (error.isEmpty())
        return true;
    _lastFailure = error;
    emit eventMessage(tr("El puerto cifrado no puede abrirse: %1").arg(error), KT::ErrorMessage,
                      QStringLiteral("KTTlsCertificateWatcher::watch()"));
    return false;
}

// A file replaced by another (a rename, a new link target) is no longer the
// one watched: the paths and their folders are watched again each time.
void KTTlsCertificateWatcher::watchPaths()
{
    for (const QString& file : std::as_const(_files)) {
        if (file.isEmpty())
            continue;
        if (QFileInfo::exists(file) && !_watcher->files().contains(file))
            _watcher->addPath(file);
        const QString folder = QFileInfo(file).absolutePath();
        if (!_watcher->directories().contains(folder))
            _watcher->addPath(folder);
    }
}

void KTTlsCertificateWatcher::reload()
{
    watchPaths();
    QString error;
    const QSslConfiguration configuration = KTTlsCredentials::load(_files.value(0), _files.value(1), _files.value(2),
                                                                   &error);
    if (!error.isEmpty()) {
        // Told once per reason, however often the folder changes meanwhile.
        if (error != _lastFailure)
            emit eventMessage(tr("El certificado TLS renovado no puede usarse (%1); se sigue usando el anterior")
                                  .arg(error), KT::WarningMessage, location);
        _lastFailure = error;
        return;
    }
    _lastFailure.clear();
    if (sameCredentials(configuration))
        return;
    _configuration = configuration;
    emit eventMessage(tr("Certificado TLS renovado: las nuevas conexiones cifradas usan el certificado de %1, "
                         "válido hasta %2").arg(_files.value(0),
                                                configuration.localCertificate().expiryDate().toString(Qt::ISODate)),
                      KT::InformationMessage, location);
    emit configurationChanged(_configuration);
}

bool KTTlsCertificateWatcher::sameCredentials(const QSslConfiguration& configuration) const
{
    return configuration.localCertificateChain() == _configuration.localCertificateChain()
        && configuration.privateKey() == _configuration.privateKey();
}
