#ifndef KTLOGINTHROTTLE_H
#define KTLOGINTHROTTLE_H

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>

// Slows down the guessing of keys without slowing down the people who own
// them. Only answered attempts that failed count, per login name and client
// address together: past a few, each further attempt of that name from that
// address waits, twice as long as the one before, up to a cap. One user's
// failures therefore never delay another user, nor the same user elsewhere.
// An address is slowed down as a whole only past a number of failures that
// an office's typing mistakes do not reach. A name that fails from many
// addresses is reported, never locked out. Parallel attempts gain nothing:
// the connector answers one attempt of a name and address at a time, and
// one attempt of a slowed address at a time.
class KTLoginThrottle
{
public:
    static constexpr int freeAttempts = 3;
    static constexpr int freeAddressFailures = 20;
    static constexpr int sprayAddresses = 5;
    static constexpr int firstDelayMs = 1000;
    static constexpr int maxDelayMs = 30000;

    KTLoginThrottle();

    // The one key of a name and address.
    static QString attemptKey(const QString& login, const QString& address);
    // The key under which this attempt waits its turn: its name and address,
    // or the address alone once the address is slowed as a whole, so that
    // guesses at many names from it are answered one at a time too.
    QString turnKey(const QString& login, const QString& address) const;
    // The milliseconds the next attempt of login from address waits before it is answered.
    int delay(const QString& login, const QString& address) const;
    // The failures counted for this name from this address.
    int failures(const QString& login, const QString& address) const;
    // Records an answered attempt. True, once per name and quarter of an
    // hour, when the name has now failed from sprayAddresses addresses.
    bool answered(const QString& login, const QString& address, bool granted);

private:
    struct Record {
        int failures = 0;
        qint64 lastFailureMs = 0;
    };
    struct Spread {
        QSet<QString> addresses;
        qint64 lastFailureMs = 0;
        bool reported = false;
    };

    static QString loginKey(const QString& login);
    int addressFailures(const QString& address) const;
    static int delayAfter(int failures, int free);
    template <class Map>
    void forgetStale(Map& records) const;

    QElapsedTimer _clock;
    QHash<QString, Record> _attempts;
    QHash<QString, Record> _addresses;
    QHash<QString, Spread> _spreads;
};

#endif
