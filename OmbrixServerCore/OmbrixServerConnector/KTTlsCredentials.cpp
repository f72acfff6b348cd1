#include "KTTlsCredentials.h"

#include <QDateTime>
#include <QFile>
#include <QSslCipher>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QObject>
#include <QSslSocket>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace {

// Certificates and keys are a few kilobytes; a bigger file is not one.
constexpr qint64 maxFileSize = 1024 * 1024;

QSslConfiguration fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return QSslConfiguration();
}

} // namespace

QByteArray KTTlsCredentials::readFile(const QString& path, QString* error)
{
    // Only a regular file: opening a FIFO would block the thread, and a
    // device (a link to /dev/zero) reads without end.
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        fail(error, QObject::tr("%1 no es un archivo").arg(path));
        return QByteArray();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QObject::tr("no se puede leer %1: %2").arg(path, file.errorString()));
        return QByteArray();
    }
    if (file.size() > maxFileSize) {
        fail(error, QObject::tr("%1 es demasiado grande para ser un archivo PEM").arg(path));
        return QByteArray();
    }
    return file.read(maxFileSize + 1);
}

QSslConfiguration KTTlsCredentials::load(const QString& certificateFile, const QString& keyFile,
                                         const QString& caFile, QString* error)
{
    QString reason;
    const QByteArray certificatePem = readFile(certificateFile, &reason);
    const QByteArray keyPem = reason.isEmpty() ? readFile(keyFile, &reason) : QByteArray();
    const QByteArray chainPem = reason.isEmpty() && !caFile.isEmpty() ? readFile(caFile, &reason) : QByteArray();
    if (!reason.isEmpty())
        return fail(error, reason);
    QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return fail(error, QObject::tr("%1 no contiene un certificado PEM").arg(certificateFile));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (chain.first().expiryDate() < now || chain.first().effectiveDate() > now)
        return fail(error, QObject::tr("el certificado de %1 no es válido hoy (válido del %2 al %3)")
                               .arg(certificateFile, chain.first().effectiveDate().toString(Qt::ISODate),
                                    chain.first().expiryDate().toString(Qt::ISODate)));
    if (!caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromData(chainPem, QSsl::Pem);
        if (authorities.isEmpty())
            return fail(error, QObject::tr("%1 no contiene certificados PEM").arg(caFile));
        chain += authorities;
    }
    const QSslKey key = readKey(keyPem);
    if (key.isNull())
        return fail(error, QObject::tr("%1 no contiene una clave privada PEM sin contraseña").arg(keyFile));
    if (!keyMatches(certificatePem, keyPem))
        return fail(error, QObject::tr("la clave de %1 no corresponde al certificado de %2").arg(keyFile, certificateFile));
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setCiphers(forwardSecretCiphers(configuration.ciphers()));
    // Clients prove who they are by the company password and their login.
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (error)
        error->clear();
    return configuration;
}

// TLS 1.3's suites, and of TLS 1.2's only those with an ephemeral key
// exchange and an authenticated cipher: a key that leaks later must not
// open recorded sessions, which carry the company's and users' passwords.
QList<QSslCipher> KTTlsCredentials::forwardSecretCiphers(const QList<QSslCipher>& ciphers)
{
    QList<QSslCipher> kept;
    for (const QSslCipher& cipher : ciphers) {
        const QString encryption = cipher.encryptionMethod();
        const bool aead = encryption.contains(QLatin1String("GCM")) || encryption.contains(QLatin1String("CHACHA20"));
        if (cipher.protocol() == QSsl::TlsV1_3 || (cipher.keyExchangeMethod().startsWith(QLatin1String("ECDH")) && aead))
            kept << cipher;
    }
    return kept;
}

QSslKey KTTlsCredentials::readKey(const QByteArray& pem)
{
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return QSslKey();
}

// A renewed certificate put in place before its new key would make every
// handshake fail: the pair is checked before it is used.
bool KTTlsCredentials::keyMatches(const QByteArray& certificatePem, const QByteArray& keyPem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> certificateBio(BIO_new_mem_buf(certificatePem.constData(),
                                                                            int(certificatePem.size())), BIO_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())),
                                                     BIO_free);
    if (!certificateBio || !keyBio)
        return false;
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr), X509_free);
    // An empty passphrase: a key that asks for one is refused, not waited on.
    char noPassphrase[] = "";
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, noPassphrase), EVP_PKEY_free);
    return certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
}
