#include "KTReplyXml.h"

#include <KTVersion.h>

#include <QXmlStreamWriter>

namespace {

// Every reply is indented and opens with the XML declaration, as clients
// have always received them.
struct ReplyWriter
{
    QString text;
    QXmlStreamWriter writer{&text};
    ReplyWriter()
    {
        writer.setAutoFormatting(true);
        writer.writeStartDocument();
    }
    QString finish()
    {
        writer.writeEndDocument();
        return text;
    }
};

} // namespace

QString KTReplyXml::keepAlive()
{
    ReplyWriter reply;
    reply.writer.writeEmptyElement(QStringLiteral("KeepAliveAnswer"));
    return reply.finish();
}

QString KTReplyXml::refusal(const QString& root, const QString& message)
{
    ReplyWriter reply;
    reply.writer.writeStartElement(root);
    reply.writer.writeTextElement(QStringLiteral("Status"), QStringLiteral("0"));
    reply.writer.writeTextElement(QStringLiteral("Message"), message);
    reply.writer.writeEndElement();
    return reply.finish();
}

QString KTReplyXml::requestFailure(const QString& objectType, const QString& objectName, const QString& message)
{
    ReplyWriter reply;
    QXmlStreamWriter& writer = reply.writer;
    writer.writeStartElement(QStringLiteral("ActionRequest"));
    writer.writeAttribute(QStringLiteral("ObjectType"), objectType);
    writer.writeAttribute(QStringLiteral("ObjectName"), objectName);
    writer.writeStartElement(QStringLiteral("LogMessage"));
    writer.writeTextElement(QStringLiteral("Status"), QStringLiteral("0"));
    writer.writeTextElement(QStringLiteral("Message"), message);
    writer.writeEndElement();
    writer.writeEndElement();
    return reply.finish();
}

QString KTReplyXml::negotiation(bool success, const QString& message, const QString& messageBox,
                                const QList<KTUserList::User>& users)
{
    ReplyWriter reply;
    QXmlStreamWriter& writer = reply.writer;
    writer.writeStartElement(QStringLiteral("NegotiateConnection"));
    writer.writeTextElement(QStringLiteral("Status"), success ? QStringLiteral("1") : QStringLiteral("0"));
    writer.writeTextElement(QStringLiteral("ServerVersion"), KTVersion::ombrixServerVersionSimplified());
    writer.writeTextElement(QStringLiteral("Message"), message);
    if (!messageBox.isEmpty())
        writer.writeTextElement(QStringLiteral("MessageBox"), messageBox);
    if (success) {
        writer.writeStartElement(QStringLiteral("UserList"));
        for (const KTUserList::User& user : users) {
            writer.writeStartElement(QStringLiteral("User"));
            writer.writeTextElement(QStringLiteral("Key"), user.key);
            writer.writeTextElement(QStringLiteral("Login"), user.login);
            writer.writeTextElement(QStringLiteral("IconSha1"), user.iconSha1);
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
    return reply.finish();
}

QString KTReplyXml::flat(const QString& tag, const QList<QPair<QString, QString> >& children)
{
    ReplyWriter reply;
    reply.writer.writeStartElement(tag);
    for (const auto& child : children)
        reply.writer.writeTextElement(child.first, child.second);
    return reply.finish();
}
