#ifndef KTBROKERADDRESS_H
#define KTBROKERADDRESS_H

#include <QString>

// Where the broker is, from a text such as "redis://127.0.0.1:6379" or
// "redis://:password@host:6379" (a user name before the colon when Redis
// has users). "rediss://" asks for TLS, which this build's client library
// does not offer: such an address is refused, not silently sent in clear.
class KTBrokerAddress
{
public:
    static constexpr quint16 defaultPort = 6379;

    static KTBrokerAddress parse(const QString& text);

    bool valid() const { return _error.isEmpty(); }
    // Why the text is not a usable address; empty when it is.
    QString error() const { return _error; }
    QString host() const { return _host; }
    quint16 port() const { return _port; }
    QString user() const { return _user; }
    QString password() const { return _password; }
    // The address without its password, for the log.
    QString shown() const { return QStringLiteral("redis://%1:%2").arg(_host).arg(_port); }

private:
    QString _host;
    quint16 _port = defaultPort;
    QString _user;
    QString _password;
    QString _error;
};

#endif
