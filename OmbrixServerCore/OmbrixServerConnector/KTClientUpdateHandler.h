#ifndef KTCLIENTUPDATEHANDLER_H
#define KTCLIENTUPDATEHANDLER_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

class KTConnectionSession;
class KTReplyChannel;

// Sends the client program for the client's platform, file by file, each
// only when the client's copy differs, and lets the client take what is
// pending before writing more.
class KTClientUpdateHandler : public QObject
{
    Q_OBJECT
public:
    KTClientUpdateHandler(const KTConnectionSession& session, KTReplyChannel& channel);

    void setApplicationDirectory(const QString& directory) { _applicationDirectory = directory; }
    void handle(const QMap<QString, QString>& params);

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);

private:
    void sendFolder(const QMap<QString, QString>& params, const QString& folder, const QString& root);
    void sendFile(const QString& folder, const QString& name, const QString& clientSha1, const QString& relativePath);
    // Update replies carry their Message as the panel message.
    void reply(const QString& tag, const QList<QPair<QString, QString> >& children);

    const KTConnectionSession& _session;
    KTReplyChannel& _channel;
    QString _applicationDirectory;
    bool _success = false;
};

#endif
