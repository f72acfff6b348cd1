#include "TestSercom.h"

QString TestSercom::processRequest(const QMultiMap<QString, QString>& params)
{
    const QString table = params.value(QStringLiteral("Table"));
    const QList<QString> lines = params.values(QStringLiteral("Line"));
    (*_lastKeysMap)[table].insert(lines.size(), quint64(_connectionID));
    (*_transactionModifiers)[table] = QList<int>(14, 1);
    _user = params.value(QStringLiteral("_UserLogin"));
    _lastResult = true;
    _lastMessage = QStringLiteral("%1 líneas").arg(lines.size());
    return _lastMessage;
}
