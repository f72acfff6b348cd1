#ifndef KTTESTCERTIFICATES_H
#define KTTESTCERTIFICATES_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throwaway certificate authority made with the openssl command in a
// temporary folder, and server certificates it signs: nothing secret is
// kept with the tests.
class KTTestCertificates
{
public:
    explicit KTTestCertificates(const QString& authorityName = QStringLiteral("Ombrix Prueba CA"));

    // False when the authority could not be made; errorString() says why.
    bool isValid() const { return _valid; }
    QString errorString() const { return _error; }
    QString authority() const { return path(QStringLiteral("ca.pem")); }
    // The server certificate signed at construction, for 127.0.0.1 and localhost.
    QString certificate() const { return path(QStringLiteral("server.pem")); }
    QString key() const { return path(QStringLiteral("server.key")); }
    // Signs a new certificate with a new key for host into the two paths.
    bool issue(const QString& certificatePath, const QString& keyPath, const QString& host);
    // A file name in the folder.
    QString path(const QString& name) const { return _dir.filePath(name); }

private:
    bool openssl(const QStringList& arguments);

    QTemporaryDir _dir;
    QString _error;
    bool _valid = false;
};

#endif
