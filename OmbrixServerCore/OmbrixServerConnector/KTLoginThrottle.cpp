#include "KTLoginThrottle.h"

#include <QtGlobal>

namespace {

// Records are forgotten a quarter of an hour after their last failure, and
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

QString KTLoginThrottle::attemptKey(const QString& login, const QString& address)
{
    return loginKey(login) + QLatin1Char('\n') + address;
}

int KTLoginThrottle::delayAfter(int failures, int free)
{
    if (failures < free)
        return 0;
    const int doublings = qMin(failures - free, 16);
    return int(qMin<qint64>(qint64(firstDelayMs) << doublings, maxDelayMs));
}

int KTLoginThrottle::failures(const QString& login, const QString& address) const
{
    const Record record = _attempts.value(attemptKey(login, address));
    return _clock.elapsed() - record.lastFailureMs > forgetAfterMs ? 0 : record.failures;
}

int KTLoginThrottle::addressFailures(const QString& address) const
{
    const Record record = _addresses.value(address);
    return _clock.elapsed() - record.lastFailureMs > forgetAfterMs ? 0 : record.failures;
}

QString KTLoginThrottle::turnKey(const QString& login, const QString& address) const
{
    return addressFailures(address) >= freeAddressFailures ? QLatin1Char('\n') + address : attemptKey(login, address);
}

int KTLoginThrottle::delay(const QString& login, const QString& address) const
{
    return qMax(delayAfter(failures(login, address), freeAttempts),
                delayAfter(addressFailures(address), freeAddressFailures));
}

bool KTLoginThrottle::answered(const QString& login, const QString& address, bool granted)
{
    const QString key = attemptKey(login, address);
    if (granted) {
        _attempts.remove(key);
        return false;
    }
    const qint64 now = _clock.elapsed();
    for (auto* records : {&_attempts, &_addresses}) {
        if (records->size() > manyRecords)
            forgetStale(*records);
        Record& record = (*records)[records == &_attempts ? key : address];
        if (now - record.lastFailureMs > forgetAfterMs)
            record.failures = 0;
        ++record.failures;
        record.lastFailureMs = now;
    }
    if (_spreads.size() > manyRecords)
        forgetStale(_spreads);
    Spread& spread = _spreads[loginKey(login)];
    if (now - spread.lastFailureMs > forgetAfterMs)
        spread = Spread();
    spread.lastFailureMs = now;
    if (spread.reported)
        return false;
    spread.addresses.insert(address);
    if (spread.addresses.size() < sprayAddresses)
        return false;
    spread.reported = true;
    spread.addresses.clear();
    return true;
}

template <class Map>
void KTLoginThrottle::forgetStale(Map& records) const
{
    const qint64 now = _clock.elapsed();
    for (auto it = records.begin(); it != records.end();) {
        const bool stale = now - it->lastFailureMs > forgetAfterMs;
        it = stale ? records.erase(it) : std::next(it);
    }
}
