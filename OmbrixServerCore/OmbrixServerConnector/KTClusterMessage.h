#ifndef KTCLUSTERMESSAGE_H
#define KTCLUSTERMESSAGE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One message instances exchange through the broker: a committed request's
// pushes, one table's statistic deltas, or the order to close a session.
// Every message names its origin (one run of one instance) and that
// origin's sequence number, so that a receiver can tell when it missed some.
// What arrives is another process's data: decoded() accepts only a
// well-formed message and gives Invalid for anything else.
class KTClusterMessage
{
public:
    enum Kind { Invalid, Push, Statistics, CloseSession };

    static constexpr int maxEntries = 10000;
    static constexpr qsizetype maxBytes = 64 * 1024 * 1024;

    static KTClusterMessage push(const QList<QStringList>& entries, const QString& users);
    static KTClusterMessage statistics(const QString& table, const QList<int>& modifiers);
    static KTClusterMessage closeSession(const QString& target, const QString& user, int connectionID);

    QByteArray encoded() const;
    static KTClusterMessage decoded(const QByteArray& bytes);

    Kind kind = Invalid;
    QString origin;
    quint64 sequence = 0;
    // Push: the broadcast entries (five texts each) and the users named.
    QList<QStringList> entries;
    QString users;
    // Statistics: the table and its fourteen deltas.
    QString table;
    QList<int> modifiers;
    // CloseSession: the origin that holds the session, its user and connection.
    QString target;
    QString user;
    int connectionID = 0;
};

#endif
