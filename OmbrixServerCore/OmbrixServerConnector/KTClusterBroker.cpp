#include "KTClusterBroker.h"

#include <KT.h>

#include <QSocketNotifier>
#include <QTimer>

#include <hiredis/hiredis.h>

#include <vector>

namespace {

const QString location = QStringLiteral("KTClusterBroker");
constexpr int retryMs = 1000;
constexpr int keepAliveMs = 5000;
// Origins remembered for their sequence; more than this many means someone
// is inventing them, and forgetting costs at most one reload of the statistics.
constexpr int maxOrigins = 1000;
const timeval commandTimeout{2, 0};

QString where(const char* operation)
{
    return location + QStringLiteral("::") + QLatin1String(operation) + QStringLiteral("()");
}

QByteArray replyText(const redisReply* reply)
{
    return reply && (reply->type == REDIS_REPLY_STRING || reply->type == REDIS_REPLY_STATUS)
        ? QByteArray(reply->str, int(reply->len))
        : QByteArray();
}

struct ReplyFree {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using ReplyPointer = std::unique_ptr<redisReply, ReplyFree>;

// Deletes a session key only while it still names this session.
const QByteArray deleteIfOurs = "if redis.call('get', KEYS[1]) == ARGV[1] then return redis.call('del', KEYS[1]) end "
                                "return 0";
const QByteArray refreshIfOurs = "if redis.call('get', KEYS[1]) == ARGV[1] then "
                                 "return redis.call('expire', KEYS[1], ARGV[2]) end return 0";

} // namespace

KTClusterBroker::KTClusterBroker(const KTBrokerAddress& address, const QString& origin, const QString& channel,
                                 QObject* parent)
    : QObject(parent), _address(address), _origin(origin), _channel(channel.toUtf8())
{
}

KTClusterBroker::~KTClusterBroker()
{
    closeContexts();
}

void KTClusterBroker::start()
{
    if (!_retryTimer) {
        _retryTimer = new QTimer(this);
        _retryTimer->setInterval(retryMs);
        connect(_retryTimer, &QTimer::timeout, this, &KTClusterBroker::connectToBroker);
        _keepAliveTimer = new QTimer(this);
        _keepAliveTimer->setInterval(keepAliveMs);
        connect(_keepAliveTimer, &QTimer::timeout, this, &KTClusterBroker::keepAlive);
    }
    connectToBroker();
}

void KTClusterBroker::stop()
{
    if (_retryTimer) {
        _retryTimer->stop();
        _keepAliveTimer->stop();
    }
    for (auto it = _sessions.cbegin(); _up && it != _sessions.cend(); ++it)
        ReplyPointer(command({"EVAL", deleteIfOurs, "1", sessionKey(it.key()), sessionValue(it.value())}));
    closeContexts();
    _up = false;
}

void KTClusterBroker::connectToBroker()
{
    if (_up)
        return;
    QString error;
    _publisher = openContext(&error);
    if (_publisher)
        _subscriber = openContext(&error);
    if (!_subscriber || !subscribe(&error)) {
        closeContexts();
        if (!_lossReported)
            emit eventMessage(tr("No se pudo conectar con el intermediario %1: %2. Esta instancia atiende solo a sus "
                                 "propios usuarios hasta que vuelva").arg(_address.shown(), error),
                              KT::WarningMessage, where("connectToBroker"));
        _lossReported = true;
        _retryTimer->start();
        return;
    }
    _up = true;
    _retryTimer->stop();
    _keepAliveTimer->start();
    _lastSequence.clear();
    for (auto it = _sessions.cbegin(); _up && it != _sessions.cend(); ++it)
        writeSession(it.key(), it.value(), false);
    // Lost again while the sessions were written: that loss is reported and retried already.
    if (!_up)
        return;
    emit eventMessage(tr("Conectado con el intermediario %1, canal '%2', como '%3'")
                          .arg(_address.shown(), QString::fromUtf8(_channel), _origin),
                      KT::SuccessMessage, where("connectToBroker"));
    _lossReported = false;
    emit stateChanged(true);
}

redisContext* KTClusterBroker::openContext(QString* error)
{
    redisContext* context = redisConnectWithTimeout(_address.host().toUtf8().constData(), _address.port(),
                                                    commandTimeout);
    if (!context || context->err) {
        *error = context ? QString::fromUtf8(context->errstr) : tr("sin memoria");
        if (context)
            redisFree(context);
        return nullptr;
    }
    redisSetTimeout(context, commandTimeout);
    redisEnableKeepAlive(context);
    if (_address.password().isEmpty())
        return context;
    QList<QByteArray> auth{"AUTH"};
    if (!_address.user().isEmpty())
        auth << _address.user().toUtf8();
    auth << _address.password().toUtf8();
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const QByteArray& argument : auth) {
        argv.push_back(argument.constData());
        lengths.push_back(size_t(argument.size()));
    }
    ReplyPointer reply(static_cast<redisReply*>(redisCommandArgv(context, int(argv.size()), argv.data(),
                                                                  lengths.data())));
    if (!reply || reply->type == REDIS_REPLY_ERROR) {
        *error = reply ? tr("autenticación rechazada: %1").arg(QString::fromUtf8(reply->str))
                       : QString::fromUtf8(context->errstr);
        redisFree(context);
        return nullptr;
    }
    return context;
}

bool KTClusterBroker::subscribe(QString* error)
{
    const char* argv[] = {"SUBSCRIBE", _channel.constData()};
    const size_t lengths[] = {9, size_t(_channel.size())};
    ReplyPointer reply(static_cast<redisReply*>(redisCommandArgv(_subscriber, 2, argv, lengths)));
    if (!reply || reply->type != REDIS_REPLY_ARRAY) {
        *error = reply ? QString::fromUtf8(replyText(reply.get())) : QString::fromUtf8(_subscriber->errstr);
        return false;
    }
    _notifier = new QSocketNotifier(_subscriber->fd, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &KTClusterBroker::readSubscription);
    return true;
}

void KTClusterBroker::closeContexts()
{
    if (_notifier) {
        _notifier->setEnabled(false);
        _notifier->deleteLater();
        _notifier = nullptr;
    }
    if (_subscriber)
        redisFree(_subscriber);
    if (_publisher)
        redisFree(_publisher);
    _subscriber = nullptr;
    _publisher = nullptr;
}

// The link is gone: said once, and tried again every second.
void KTClusterBroker::lose(const QString& reason)
{
    closeContexts();
    if (!_up)
        return;
    _up = false;
    _lossReported = true;
    _keepAliveTimer->stop();
    emit eventMessage(tr("Se perdió la conexión con el intermediario %1: %2. Esta instancia sigue atendiendo a sus "
                         "propios usuarios, sin los cambios ni las sesiones de las demás")
                          .arg(_address.shown(), reason),
                      KT::ErrorMessage, where("lose"));
    emit stateChanged(false);
    _retryTimer->start();
}

void KTClusterBroker::readSubscription()
{
    if (!_subscriber)
        return;
    if (redisBufferRead(_subscriber) != REDIS_OK)
        return lose(QString::fromUtf8(_subscriber->errstr));
    while (_subscriber) {
        void* reply = nullptr;
        if (redisGetReplyFromReader(_subscriber, &reply) != REDIS_OK)
            return lose(QString::fromUtf8(_subscriber->errstr));
        if (!reply)
            break;
        ReplyPointer owned(static_cast<redisReply*>(reply));
        handleReply(owned.get());
    }
}

void KTClusterBroker::handleReply(redisReply* reply)
{
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 3 || replyText(reply->element[0]) != "message")
        return;
    receive(replyText(reply->element[2]));
}

void KTClusterBroker::receive(const QByteArray& payload)
{
    const KTClusterMessage message = KTClusterMessage::decoded(payload);
    if (message.kind == KTClusterMessage::Invalid) {
        emit eventMessage(tr("Se descartó un mensaje no válido del intermediario (%1 bytes)").arg(payload.size()),
                          KT::WarningMessage, where("receive"));
        return;
    }
    if (message.origin == _origin)
        return;
    const bool follows = sequenceFollows(message);
    if (!follows)
        emit messagesLost();
    switch (message.kind) {
    case KTClusterMessage::Push: emit pushReceived(message.entries, message.users); break;
    case KTClusterMessage::Statistics:
        // After a gap the statistics are read again from the table, where
        // the origin stored these deltas before it published them.
        if (follows)
            emit statisticsReceived(message.table, message.modifiers);
        emit tableChangedElsewhere(message.table);
        break;
    case KTClusterMessage::CloseSession:
        if (message.target == _origin)
            emit closeSessionRequested(message.user, message.connectionID);
        break;
    default: break;
    }
}

// Each message of an origin must be the next, or some were lost on the
// way. An origin not heard since this link came up counts as a gap too: it
// may be an instance that has just started (and rebuilt the statistics
// table), or one whose messages went by while the link was down.
bool KTClusterBroker::sequenceFollows(const KTClusterMessage& message)
{
    if (_lastSequence.size() >= maxOrigins && !_lastSequence.contains(message.origin))
        _lastSequence.clear();
    const quint64 last = _lastSequence.value(message.origin, 0);
    _lastSequence.insert(message.origin, qMax(last, message.sequence));
    return last != 0 && message.sequence == last + 1;
}

void KTClusterBroker::publishPush(QList<QStringList> entries, QString users)
{
    publish(KTClusterMessage::push(entries, users));
}

void KTClusterBroker::publishStatistics(QString table, QList<int> modifiers)
{
    publish(KTClusterMessage::statistics(table, modifiers));
}

// A message is numbered even when the link is down and it is dropped: the
// gap tells the other instances that they missed something.
void KTClusterBroker::publish(KTClusterMessage message)
{
    message.origin = _origin;
    message.sequence = ++_sequence;
    if (_up)
        commandOk({"PUBLISH", _channel, message.encoded()});
}

redisReply* KTClusterBroker::command(const QList<QByteArray>& arguments)
{
    if (!_publisher)
        return nullptr;
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const QByteArray& argument : arguments) {
        argv.push_back(argument.constData());
        lengths.push_back(size_t(argument.size()));
    }
    auto* reply = static_cast<redisReply*>(redisCommandArgv(_publisher, int(argv.size()), argv.data(), lengths.data()));
    if (!reply)
        lose(QString::fromUtf8(_publisher->errstr));
    return reply;
}

bool KTClusterBroker::commandOk(const QList<QByteArray>& arguments)
{
    const ReplyPointer reply(command(arguments));
    return reply && reply->type != REDIS_REPLY_ERROR;
}

void KTClusterBroker::keepAlive()
{
    if (!commandOk({"PING"}))
        return;
    for (auto it = _sessions.cbegin(); _up && it != _sessions.cend(); ++it)
        commandOk({"EVAL", refreshIfOurs, "1", sessionKey(it.key()), sessionValue(it.value()),
                   QByteArray::number(sessionSeconds)});
}

void KTClusterBroker::registerLogin(QString user, int connectionID)
{
    _sessions.insert(user, connectionID);
    if (_up)
        writeSession(user, connectionID, true);
}

void KTClusterBroker::unregisterLogin(QString user, int connectionID)
{
    if (_sessions.value(user, -1) != connectionID)
        return;
    _sessions.remove(user);
    if (_up)
        commandOk({"EVAL", deleteIfOurs, "1", sessionKey(user), sessionValue(connectionID)});
}

// A login claims the user's key and tells the instance that held it to
// close that session. A session kept through an outage only takes the key
// back when nobody has it: whoever took it meanwhile logged in later.
void KTClusterBroker::writeSession(const QString& user, int connectionID, bool claim)
{
    const QByteArray key = sessionKey(user);
    const QByteArray value = sessionValue(connectionID);
    const QByteArray seconds = QByteArray::number(sessionSeconds);
    if (!claim) {
        ReplyPointer taken(command({"SET", key, value, "EX", seconds, "NX"}));
        if (!taken || taken->type != REDIS_REPLY_NIL)
            return;
        ReplyPointer holder(command({"GET", key}));
        if (holder && replyText(holder.get()) != value)
            emit closeSessionRequested(user, connectionID);
        return;
    }
    // GETSET rather than SET ... GET: brokers before Redis 6.2 know only the former.
    ReplyPointer previous(command({"GETSET", key, value}));
    if (!commandOk({"EXPIRE", key, seconds}))
        return;
    const QByteArray held = replyText(previous.get());
    const int separator = held.indexOf('@');
    bool numbered = false;
    const int heldConnection = held.left(separator).toInt(&numbered);
    const QString heldOrigin = QString::fromUtf8(held.mid(separator + 1));
    if (separator > 0 && numbered && heldConnection > 0 && heldOrigin != _origin)
        publish(KTClusterMessage::closeSession(heldOrigin, user, heldConnection));
}

QByteArray KTClusterBroker::sessionKey(const QString& user) const
{
    return _channel + ":session:" + user.toUtf8();
}

QByteArray KTClusterBroker::sessionValue(int connectionID) const
{
    return QByteArray::number(connectionID) + '@' + _origin.toUtf8();
}
