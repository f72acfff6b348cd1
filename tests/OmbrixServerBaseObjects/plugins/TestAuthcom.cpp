#include "TestAuthcom.h"

QString TestAuthcom::authenticate(const QMap<QString, QString>& params)
{
    _user = params.value(QStringLiteral("Login"));
    _authenticated = params.value(QStringLiteral("Password")) == QLatin1String("secreto");
    _lastMessage = _authenticated ? QStringLiteral("ok") : QStringLiteral("no");
    return _lastMessage;
}
