#include "KTWorkload.h"

namespace {

QString element(const QString& xml, const char* tag)
{
    return KTProtocolClient::element(xml, QLatin1String(tag));
}

bool succeeded(const QString& reply)
{
    return element(reply, "Status") == QLatin1String("1");
}

} // namespace

KTWorkload::KTWorkload(Kind kind, quint16 port, const QString& login, bool tls)
    : _kind(kind)
    , _port(port)
    , _login(login)
    , _tls(tls)
    , _client(port, login, tls)
{
}

QString KTWorkload::name(Kind kind)
{
    switch (kind) {
    case SelectByKey: return QStringLiteral("select by key");
    case Insert: return QStringLiteral("insert");
    case BrowseUnchanged: return QStringLiteral("browse unchanged");
    case BrowseFull: return QStringLiteral("browse full");
    case Connect: return QStringLiteral("connect");
    }
    return QString();
}

QString KTWorkload::browseRequest(const QString& table, int limit, int resolveKeys, const QString& stats) const
{
    KTProtocolClient::Action action;
    action.component = QStringLiteral("DbBrowseSercom");
    action.objectType = QStringLiteral("Component");
    action.objectName = QStringLiteral("ComponentProduct");
    action.objectNameEmbedded = QStringLiteral("GridProducts");
    action.parameters = {{"Table", table}, {"Where", QString()}, {"OrderBy", "1"}, {"Limit", QString::number(limit)},
                         {"ResolveKeys", QString::number(resolveKeys)}, {"Stats", stats},
                         {"CallerComponent", "ComponentProduct"}, {"FillSetModel", "ModelProducts"}, {"Pack", "3"}};
    return KTProtocolClient::actionRequest({action});
}

QString KTWorkload::insertRequest(const QString& marker)
{
    KTProtocolClient::Action action;
    action.component = QStringLiteral("DbInsertSercom");
    action.objectType = QStringLiteral("Component");
    action.objectName = QStringLiteral("ComponentProductCategory");
    action.parameters = {{"Table", "invProductCategory"},
                         {"Fields", "pkyProductCategory,fldName,fldDescription,sysEnabled,sysEditable,sysAuthorized,"
                                    "sysVisible,sysContext,sysAuthorizationGroup"},
                         {"Values", QStringLiteral("NULL|'Categoría %1'|'%1'|1|2|1|2|0|1").arg(marker)},
                         {"LineNumbers", "1"}};
    return KTProtocolClient::actionRequest({action});
}

bool KTWorkload::prepare()
{
    if (_kind == Connect)
        return true;
    if (!_client.logIn())
        return false;
    if (_kind == Insert)
        return _client.activate(QStringLiteral("ComponentProductCategory"));
    if (_kind == BrowseUnchanged) {
        // The statistics of a first browse make the next ones answerable without rows.
        const QString first = _client.request(browseRequest(QStringLiteral("invProductCategory"), 100, 0, QString()));
        _stats = element(first, "Stats").section(QLatin1Char(','), 1, 3);
        return succeeded(first);
    }
    return true;
}

bool KTWorkload::step()
{
    switch (_kind) {
    case SelectByKey: {
        KTProtocolClient::Action action;
        action.component = QStringLiteral("DbSelectSercom");
        action.objectType = QStringLiteral("Component");
        action.objectName = QStringLiteral("ComponentProduct");
        action.parameters = {{"RequestNumber", "1"}, {"RequestName", "Producto"}, {"From", "invProduct"},
                             {"Fields", "pkyProduct,fldCode,fldName,fldPrice"},
                             {"Where", QStringLiteral("pkyProduct = %1").arg(1 + (_sequence++ % 1000))},
                             {"OrderBy", QString()}, {"GroupBy", QString()}};
        return succeeded(_client.request(KTProtocolClient::actionRequest({action})));
    }
    case Insert: {
        const QString marker = QStringLiteral("%1-%2").arg(_login).arg(_sequence++);
        return succeeded(_client.request(insertRequest(marker), marker));
    }
    case BrowseUnchanged: {
        // Status 0 with the statistics back: nothing changed, no rows sent.
        const QString reply = _client.request(browseRequest(QStringLiteral("invProductCategory"), 100, 0, _stats));
        return element(reply, "Status") == QLatin1String("0") && !element(reply, "Stats").isEmpty();
    }
    case BrowseFull:
        return succeeded(_client.request(browseRequest(QStringLiteral("invProduct"), 1000, 1, QString())));
    case Connect: {
        KTBenchmarkClient fresh(_port, _login, _tls);
        const bool loggedIn = fresh.logIn();
        fresh.disconnect();
        return loggedIn;
    }
    }
    return false;
}
