#include "KTKeyHash.h"

#include <QByteArray>
#include <QStringList>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

const QString scheme = QStringLiteral("pbkdf2-sha256");
constexpr int saltSize = 16;
constexpr int hashSize = 32;
constexpr auto base64Options = QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals;

QByteArray derive(const QString& key, const QByteArray& salt, int rounds)
{
    const QByteArray text = key.toUtf8();
    QByteArray derived(hashSize, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(text.constData(), int(text.size()), reinterpret_cast<const unsigned char*>(salt.constData()),
                          int(salt.size()), rounds, EVP_sha256(), hashSize,
                          reinterpret_cast<unsigned char*>(derived.data())) != 1)
        return QByteArray();
    return derived;
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

} // namespace

QString KTKeyHash::hash(const QString& key, int rounds)
{
    QByteArray salt(saltSize, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), saltSize) != 1)
        return QString();
    const QByteArray derived = derive(key, salt, rounds);
    if (derived.isEmpty())
        return QString();
    return QStringList{scheme, QString::number(rounds), QString::fromLatin1(salt.toBase64(base64Options)),
                       QString::fromLatin1(derived.toBase64(base64Options))}
        .join(QLatin1Char('$'));
}

bool KTKeyHash::isHashed(const QString& stored)
{
    return stored.startsWith(scheme + QLatin1Char('$'));
}

bool KTKeyHash::matches(const QString& key, const QString& stored)
{
    if (!isHashed(stored))
        return sameBytes(key.toUtf8(), stored.toUtf8());
    const QStringList parts = stored.split(QLatin1Char('$'));
    bool numeric = false;
    const int rounds = parts.value(1).toInt(&numeric);
    const auto decoded = [](const QString& text) {
        return QByteArray::fromBase64Encoding(text.toLatin1(),
                                              QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    };
    const auto salt = decoded(parts.value(2));
    const auto expected = decoded(parts.value(3));
    // A damaged hash matches no key, rather than failing open.
    if (parts.size() != 4 || !numeric || rounds < 1 || rounds > maxRounds || !salt || salt.decoded.isEmpty()
        || !expected || expected.decoded.size() != hashSize)
        return false;
    return sameBytes(derive(key, salt.decoded, rounds), expected.decoded);
}
