#ifndef KTLOGINTHROTTLE_H
#define KTLOGINTHROTTLE_H

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// Slows down the guessing of keys. Every login attempt counts as failed
// until it succeeds, per login name and per client address; past a few
// failures each further attempt waits before it is answered, twice as long
// as the one before, up to a cap. A success clears both counts. Counting
// attempts (not answers) keeps parallel connections from guessing faster.
class KTLoginThrottle
{
public:
    static constexpr int freeAttempts = 3;
    static constexpr int firstDelayMs = 1000;
    static constexpr int maxDelayMs = 30000;

    KTLoginThrottle();

    // The milliseconds this attempt waits before it is answered; counts it.
    int admit(const QString& login, const QString& address);
    // The failures counted so far for the login or the address, whichever is more.
    int failures(const QString& login, const QString& address) const;
    void succeeded(const QString& login, const QString& address);

private:
    struct Record {
        int failures = 0;
        qint64 lastAttemptMs = 0;
    };

    static QString loginKey(const QString& login);
    void forgetStale(QHash<QString, Record>& records) const;

    QElapsedTimer _clock;
    QHash<QString, Record> _logins;
    QHash<QString, Record> _addresses;
};

#endif
