#ifndef KTNEGOTIATIONHANDLER_H
#define KTNEGOTIATIONHANDLER_H

#include "KTConnectionContext.h"

#include <QMap>
#include <QObject>
#include <QString>

class KTConnectionSession;
class KTReplyChannel;

// A connection's negotiation: the company's credentials, the client's
// version and parameters, and the reply with the users it may log in as.
class KTNegotiationHandler : public QObject
{
    Q_OBJECT
public:
    KTNegotiationHandler(KTConnectionSession& session, KTReplyChannel& channel, const QString& companyName,
                         const QString& connectivityPassword);

    void setContext(const KTConnectionContext& context) { _context = context; }
    void handle(const QString& peerAddress, const QMap<QString, QString>& params);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);

private:
    // Answers and reports the first check the request fails; false when it passes them all.
    bool refused(const QMap<QString, QString>& params);
    bool versionRefused();
    QString minimumClientVersion() const;
    void reply(bool success, const QString& message, const QString& messageBox);

    KTConnectionSession& _session;
    KTReplyChannel& _channel;
    KTConnectionContext _context;
    QString _companyName;
    QString _connectivityPassword;
};

#endif
