#include "KTClusterMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int entrySize = 5;
constexpr int modifierCount = 14;

const QString kindKey = QStringLiteral("k");
const QString originKey = QStringLiteral("o");
const QString sequenceKey = QStringLiteral("s");

const char* kindName(KTClusterMessage::Kind kind)
{
    switch (kind) {
    case KTClusterMessage::Push: return "push";
    case KTClusterMessage::Statistics: return "stats";
    case KTClusterMessage::CloseSession: return "close";
    default: return "";
    }
}

bool readEntries(const QJsonValue& value, QList<QStringList>* entries)
{
    if (!value.isArray() || value.toArray().size() > KTClusterMessage::maxEntries)
        return false;
    for (const QJsonValue& item : value.toArray()) {
        const QJsonArray texts = item.toArray();
        if (!item.isArray() || texts.size() != entrySize)
            return false;
        QStringList entry;
        for (const QJsonValue& text : texts) {
            if (!text.isString())
                return false;
            entry << text.toString();
        }
        *entries << entry;
    }
    return !entries->isEmpty();
}

bool readModifiers(const QJsonValue& value, QList<int>* modifiers)
{
    const QJsonArray deltas = value.toArray();
    if (!value.isArray() || deltas.size() != modifierCount)
        return false;
    for (const QJsonValue& delta : deltas) {
        const double number = delta.toDouble(0.5);
        if (!delta.isDouble() || number != double(qint64(number)) || number < INT_MIN || number > INT_MAX)
            return false;
        *modifiers << int(number);
    }
    return true;
}

bool readBody(KTClusterMessage& message, const QJsonObject& object)
{
    switch (message.kind) {
    case KTClusterMessage::Push:
        message.users = object.value(QStringLiteral("u")).toString();
        return object.value(QStringLiteral("u")).isString()
            && readEntries(object.value(QStringLiteral("e")), &message.entries);
    case KTClusterMessage::Statistics:
        message.table = object.value(QStringLiteral("t")).toString();
        return !message.table.isEmpty() && readModifiers(object.value(QStringLiteral("m")), &message.modifiers);
    case KTClusterMessage::CloseSession: {
        message.target = object.value(QStringLiteral("target")).toString();
        message.user = object.value(QStringLiteral("u")).toString();
        const double connection = object.value(QStringLiteral("c")).toDouble(-1);
        message.connectionID = int(connection);
        return !message.target.isEmpty() && !message.user.isEmpty() && connection >= 1 && connection <= INT_MAX
            && connection == double(message.connectionID);
    }
    default:
        return false;
    }
}

} // namespace

KTClusterMessage KTClusterMessage::push(const QList<QStringList>& entries, const QString& users)
{
    KTClusterMessage message;
    message.kind = Push;
    message.entries = entries;
    message.users = users;
    return message;
}

KTClusterMessage KTClusterMessage::statistics(const QString& table, const QList<int>& modifiers)
{
    KTClusterMessage message;
    message.kind = Statistics;
    message.table = table;
    message.modifiers = modifiers;
    return message;
}

KTClusterMessage KTClusterMessage::closeSession(const QString& target, const QString& user, int connectionID)
{
    KTClusterMessage message;
    message.kind = CloseSession;
    message.target = target;
    message.user = user;
    message.connectionID = connectionID;
    return message;
}

QByteArray KTClusterMessage::encoded() const
{
    QJsonObject object{{kindKey, QLatin1String(kindName(kind))}, {originKey, origin},
                       // Text: a JSON number would lose a large sequence's last digits.
                       {sequenceKey, QString::number(sequence)}};
    if (kind == Push) {
        QJsonArray list;
        for (const QStringList& entry : entries)
            list.append(QJsonArray::fromStringList(entry.mid(0, entrySize)));
        object.insert(QStringLiteral("e"), list);
        object.insert(QStringLiteral("u"), users);
    } else if (kind == Statistics) {
        QJsonArray deltas;
        for (int delta : modifiers)
            deltas.append(delta);
        object.insert(QStringLiteral("t"), table);
        object.insert(QStringLiteral("m"), deltas);
    } else if (kind == CloseSession) {
        object.insert(QStringLiteral("target"), target);
        object.insert(QStringLiteral("u"), user);
        object.insert(QStringLiteral("c"), connectionID);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

KTClusterMessage KTClusterMessage::decoded(const QByteArray& bytes)
{
    KTClusterMessage message;
    if (bytes.size() > maxBytes)
        return message;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return message;
    const QJsonObject object = document.object();
    const QString kind = object.value(kindKey).toString();
    bool sequenceOk = false;
    message.origin = object.value(originKey).toString();
    message.sequence = object.value(sequenceKey).toString().toULongLong(&sequenceOk);
    for (Kind candidate : {Push, Statistics, CloseSession})
        if (kind == QLatin1String(kindName(candidate)))
            message.kind = candidate;
    if (!sequenceOk || message.sequence == 0 || message.origin.isEmpty() || !readBody(message, object))
        return KTClusterMessage();
    return message;
}
