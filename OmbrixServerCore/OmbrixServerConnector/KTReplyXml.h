#ifndef KTREPLYXML_H
#define KTREPLYXML_H

#include "KTUserList.h"

#include <QList>
#include <QPair>
#include <QString>

// The small replies the server writes itself, as text ready to frame.
class KTReplyXml
{
public:
    static QString keepAlive();
    // The request's root with a failed status and the message.
    static QString refusal(const QString& root, const QString& message);
    // The not-found reply's shape, for the given client object.
    static QString requestFailure(const QString& objectType, const QString& objectName, const QString& message);
    // A user list only goes with a successful negotiation.
    static QString negotiation(bool success, const QString& message, const QString& messageBox,
                               const QList<KTUserList::User>& users);
    // A flat element of text children, in the given order.
    static QString flat(const QString& tag, const QList<QPair<QString, QString> >& children);
};

#endif
