#include "KTLoginThrottle.h"

#include <QtGlobal>

namespace {

// Records are forgotten a quarter of an hour after their last attempt, and
// looked through only when there are many, so that a flood of invented names
// cannot grow them without bound.
constexpr qint64 forgetAfterMs = 15 * 60 * 1000;
constexpr int manyRecords = 10000;

} // namespace

KTLoginThrottle::KTLoginThrottle()
{
    _clock.start();
}

// The database's collation decides which logins are one user; folding case
// and blanks may join a few more names than it does, never fewer.
QString KTLoginThrottle::loginKey(const QString& login)
{
    return login.trimmed().toCaseFolded();
}

int KTLoginThrottle::failures(const QString& login, const QString& address) const
{
    return qMax(_logins.value(loginKey(login)).failures, _addresses.value(address).failures);
}

int KTLoginThrottle::admit(const QString& login, const QString& address)
{
    const int counted = failures(login, address);
    const qint64 now = _clock.elapsed();
    for (auto* records : {&_logins, &_addresses}) {
        if (records->size() > manyRecords)
            forgetStale(*records);
        Record& record = (*records)[records == &_logins ? loginKey(login) : address];
        ++record.failures;
        record.lastAttemptMs = now;
    }
    if (counted < freeAttempts)
        return 0;
    const int doublings = qMin(counted - freeAttempts, 16);
    return int(qMin<qint64>(qint64(firstDelayMs) << doublings, maxDelayMs));
}

void KTLoginThrottle::succeeded(const QString& login, const QString& address)
{
    _logins.remove(loginKey(login));
    _addresses.remove(address);
}

void KTLoginThrottle::forgetStale(QHash<QString, Record>& records) const
{
    const qint64 now = _clock.elapsed();
    for (auto it = records.begin(); it != records.end();) {
        // Names that were never slowed down cost an attacker nothing to forget.
        const bool stale = now - it->lastAttemptMs > forgetAfterMs || it->failures < freeAttempts;
        it = stale ? records.erase(it) : std::next(it);
    }
}
