#ifndef KTTLSCREDENTIALS_H
#define KTTLSCREDENTIALS_H

#include <QList>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QString>

// The server's side of encrypted connections, read from PEM files: its
// certificate (and the chain up to its authority), its private key, and
// what a connection negotiates with them. A configuration is only handed
// out when every part is sound, so that a half-renewed certificate never
// reaches a client.
class KTTlsCredentials
{
public:
    // The server configuration for the three files (caFile may be empty);
    // a null configuration and the reason in *error when one is unusable.
    static QSslConfiguration load(const QString& certificateFile, const QString& keyFile, const QString& caFile,
                                  QString* error);

private:
    static bool keyMatches(const QByteArray& certificatePem, const QByteArray& keyPem);
    static QSslKey readKey(const QByteArray& pem);
    static QList<QSslCipher> forwardSecretCiphers(const QList<QSslCipher>& ciphers);
    static QByteArray readFile(const QString& path, QString* error);
};

#endif
