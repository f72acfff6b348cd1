#ifndef KTTLSCERTIFICATEWATCHER_H
#define KTTLSCERTIFICATEWATCHER_H

#include <QObject>
#include <QSslConfiguration>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

// Keeps the encrypted port's certificate current: reads the certificate,
// key and chain files at start and again whenever one of them (or the
// folder holding it, where renewals swap files and links) changes. A
// renewal that cannot be used yet keeps the certificate in force.
class KTTlsCertificateWatcher : public QObject
{
    Q_OBJECT
public:
    explicit KTTlsCertificateWatcher(QObject* parent = nullptr);

    // Reads the files now and watches them; false when they cannot be used.
    bool watch(const QString& certificateFile, const QString& keyFile, const QString& caFile);
    QSslConfiguration configuration() const { return _configuration; }
    // Time to let a renewal write all its files before they are read.
    void setSettleTime(int ms);

Q_SIGNALS:
    // A certificate different from the one in force is ready for new connections.
    void configurationChanged(const QSslConfiguration& configuration);
    void eventMessage(const QString& message, int type, const QString& objectLocation);

private:
    void reload();
    void watchPaths();
    bool sameCredentials(const QSslConfiguration& configuration) const;

    QFileSystemWatcher* _watcher;
    QTimer* _settle;
    QStringList _files;
    QSslConfiguration _configuration;
    QString _lastFailure;
};

#endif
