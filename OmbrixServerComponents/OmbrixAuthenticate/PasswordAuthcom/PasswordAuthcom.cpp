#include "PasswordAuthcom.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTKeyHash.h>
#include <KTVersion.h>

#include <QDate>
#include <QDateTime>
#include <QSqlQuery>
#include <QXmlStreamWriter>

namespace {

const QList<int> logModifiers{1, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0};

enum UserType { SuperUser = 1, Administrator = 2, NormalUser = 3 };

void startReply(QXmlStreamWriter& writer, const QString& status, const QString& message)
{
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("Authenticate"));
    writer.writeTextElement(QStringLiteral("Status"), status);
    writer.writeTextElement(QStringLiteral("Message"), message);
}

} // namespace

PasswordAuthcom::PasswordAuthcom(QObject* parent)
    : KTAuthcomBase(parent)
{
}

KTAuthcomBase* PasswordAuthcom::createInstance()
{
    return new PasswordAuthcom;
}

QString PasswordAuthcom::label()
{
    return tr("Autenticación con Password");
}

QString PasswordAuthcom::name()
{
    return QStringLiteral("PasswordAuthcom");
}

void PasswordAuthcom::postSetup()
{
    _dbController = nullptr;
}

void PasswordAuthcom::setDbController(KTDatabaseController* dbController)
{
    // Every component loaded later hands the same controller again.
    if (_dbController == dbController)
        return;
    _dbController = dbController;
    if (!_dbController)
        return;
    connect(_dbController, &KTDatabaseController::eventMessage, this, &PasswordAuthcom::eventMessage);
    connect(_dbController, &KTDatabaseController::updateTableRecordDataModelRequested, this,
            &PasswordAuthcom::updateTableRecordDataModelRequested);
}

QString PasswordAuthcom::authenticate(const QMap<QString, QString>& params)
{
    _authenticated = false;
    _params = params;
    if (!_dbController)
        return userNotFoundXML();
    // One user, one name: the database's collation finds the user, and the
    // stored login is the name the user is known and registered by.
    const QString login = params.value(QStringLiteral("Login")).trimmed();
    QSqlQuery user = _dbController->selectMulti(
        {QStringLiteral("accUser T1 LEFT JOIN accUserIdentifier T2 ON T1.pkyUser = T2.codUser"),
         QStringLiteral("srvBlob T3"), QStringLiteral("accGroup T4")},
        {"T1.pkyUser", "T1.fldLogin", "T1.codType", "T2.fldKey", "T2.fldExpirationDate", "T3.fldSha1",
         "T3.binContents", "T4.pkyGroup", "T1.codWarehouse", "T1.codSalesPlace", "T1.codPriceList", "T1.codSeller",
         "T1.codPettyCash"},
        // The login goes in as a literal the driver escaped: it arrives before anyone is authenticated.
        QStringLiteral("T1.blbIcon = T3.pkyBlob AND T1.fldLogin = %1 AND T4.fldName = T1.fldLogin AND "
                       "T1.sysEnabled = 1").arg(_dbController->quoted(login)),
        QString(), QString(), QString());
    if (!user.next())
        return userNotFoundXML();

    _user = user.value(1).toString();
    _userCod = user.value(0).toString();
    _userType = user.value(2).toInt();
    _group = user.value(7).toString();
    _warehouse = KTDatabaseController::valueText(user.value(8)).simplified();
    _salesplace = KTDatabaseController::valueText(user.value(9)).simplified();
    _pricelist = KTDatabaseController::valueText(user.value(10)).simplified();
    _seller = KTDatabaseController::valueText(user.value(11)).simplified();
    _pettycash = KTDatabaseController::valueText(user.value(12)).simplified();
    const QString storedSha1 = KTDatabaseController::valueText(user.value(5));
    const QByteArray icon = user.value(6).toByteArray();

    const QString password = params.value(QStringLiteral("Password"));
    const bool storedKey = _userType == Administrator || _userType == NormalUser;
    bool passed = false;
    if (_userType == SuperUser)
        passed = KTKeyHash::matches(password, KTVersion::ombrixServerPassword());
    else if (storedKey)
        // A user without a password row has no password, not an empty one.
        passed = !user.value(3).isNull() && KTKeyHash::matches(password, user.value(3).toString());
    if (!passed)
        return passwordIncorrectXML();
    // A key is good through its expiration date; one without a date never expires.
    const QDate expiration = user.value(4).toDate();
    if (storedKey && expiration.isValid() && expiration < QDate::currentDate())
        return keyExpiredXML();
    return accessListXML(_userType, params.value(QStringLiteral("IconHash")) == storedSha1 ? QByteArray() : icon);
}

QString PasswordAuthcom::accessListXML(int userType, const QByteArray& icon)
{
    _authenticated = true;
    _lastMessage = tr("Autenticación exitosa");
    QString reply;
    QXmlStreamWriter writer(&reply);
    startReply(writer, QStringLiteral("1"), _lastMessage);
    writer.writeTextElement(QStringLiteral("UserType"), QString::number(userType));
    writer.writeTextElement(QStringLiteral("UserIcon"), QString::fromLatin1(icon.toBase64()));
    writer.writeTextElement(QStringLiteral("UserKey"), _userCod);
    writer.writeTextElement(QStringLiteral("UserWarehouse"), _warehouse);
    writer.writeTextElement(QStringLiteral("UserSalesPlace"), _salesplace);
    writer.writeTextElement(QStringLiteral("UserPriceList"), _pricelist);
    writer.writeTextElement(QStringLiteral("UserSeller"), _seller);
    writer.writeTextElement(QStringLiteral("UserPettyCash"), _pettycash);
    writer.writeTextElement(QStringLiteral("UnreadMessages"), unreadMessages());
    writeComponents(writer, userType);
    writeAuthorizations(writer);
    writer.writeEndElement();
    writer.writeEndDocument();

    const QDateTime now = QDateTime::currentDateTime();
    log(_userCod, QStringLiteral("1"), QStringLiteral("209001"), QStringLiteral("1"),
        QStringLiteral("'%1'").arg(now.toString(QStringLiteral("yyyy-MM-dd"))),
        QStringLiteral("'%1'").arg(now.toString(QStringLiteral("hhmmss"))), QStringLiteral("0"));
    emit eventMessage(tr("Solicitud de Autenticación de usuario '%1' exitosa. ID de Conexión : '%2'")
                          .arg(_user).arg(_connectionID), KT::InformationMessage,
                      QStringLiteral("PasswordAuthcom::accessListXML()"));
    return reply;
}

QString PasswordAuthcom::unreadMessages()
{
    QSqlQuery count = _dbController->select(
        QStringLiteral("comMessageUser"), {QStringLiteral("COUNT(*)")},
        QStringLiteral("codUser = %1 AND fldRead = 0 AND sysEnabled = 1").arg(_userCod), QString(), QString(), QString());
    return QString::number(count.next() ? count.value(0).toLongLong() : 0);
}

QMap<QString, PasswordAuthcom::Access> PasswordAuthcom::accessMap(int userType, const QStringList& clientObjects)
{
    QMap<QString, Access> access;
    const QChar dash = QLatin1Char('-');
    if (userType == SuperUser || userType == Administrator) {
        QSqlQuery rows = _dbController->selectMulti(
            {QStringLiteral("srvComponent T1")}, {"T1.fldName", "T1.fldModuleName", "T1.pkyComponent"}, QString(),
            QString(), QStringLiteral("T1.fldName"), QString());
        while (rows.next())
            if (clientObjects.contains(rows.value(0).toString()))
                access.insert(rows.value(0).toString() + dash + rows.value(1).toString() + dash + dash
                                  + rows.value(2).toString(), Access{1, 1, 1});
        return access;
    }
    QSqlQuery rows = _dbController->selectMulti(
        {QStringLiteral("accAccessComponent T1"), QStringLiteral("accUser T2"), QStringLiteral("srvComponent T3")},
        {"T3.fldName", "T1.fldReadOnlyFields", "T1.fldRead", "T1.fldWrite", "T3.fldModuleName", "T3.pkyComponent",
         "T1.fldDisable"},
        QStringLiteral("T1.codUser = T2.pkyUser AND T1.codComponent = T3.pkyComponent AND T2.fldLogin = %1")
            .arg(_dbController->quoted(_user)),
        QString(), QStringLiteral("T3.fldName"), QString());
    while (rows.next())
        if (clientObjects.contains(rows.value(0).toString()))
            access.insert(rows.value(0).toString() + dash + rows.value(4).toString() + dash + rows.value(1).toString()
                              + dash + rows.value(5).toString(),
                          Access{rows.value(2).toBool(), rows.value(3).toBool(), rows.value(6).toBool()});
    return access;
}

void PasswordAuthcom::writeComponents(QXmlStreamWriter& writer, int userType)
{
    const QStringList clientObjects = _params.value(QStringLiteral("ClientObjects")).split(QLatin1Char(','));
    const QMap<QString, Access> access = accessMap(userType, clientObjects);
    const QMap<QString, QStringList> tables = componentTables();
    for (auto it = access.cbegin(); it != access.cend(); ++it) {
        writer.writeStartElement(QStringLiteral("Component"));
        writer.writeTextElement(QStringLiteral("Name"), it.key().section(QLatin1Char('-'), 0, 0));
        writer.writeTextElement(QStringLiteral("Module"), it.key().section(QLatin1Char('-'), 1, 1));
        writer.writeTextElement(QStringLiteral("ReadOnlyFields"), it.key().section(QLatin1Char('-'), 2, 2));
        writer.writeTextElement(QStringLiteral("Key"), it.key().section(QLatin1Char('-'), 3, 3));
        writer.writeTextElement(QStringLiteral("Read"), QString::number(it->read));
        writer.writeTextElement(QStringLiteral("Write"), QString::number(it->write));
        writer.writeTextElement(QStringLiteral("Disable"), QString::number(it->disable));
        writer.writeTextElement(QStringLiteral("Tables"),
                                tables.value(it.key().section(QLatin1Char('-'), 0, 0)).join(QLatin1Char(',')));
        writer.writeEndElement();
    }
}

// A disabled binding binds nothing.
QMap<QString, QStringList> PasswordAuthcom::componentTables()
{
    QMap<QString, QStringList> tables;
    QSqlQuery rows = _dbController->selectMulti(
        {QStringLiteral("srvComponentTable T1"), QStringLiteral("srvComponent T2")}, {"T2.fldName", "T1.fldTableName"},
        QStringLiteral("T1.codComponent = T2.pkyComponent AND T1.sysEnabled = 1"), QString(),
        QStringLiteral("T2.fldName, T1.fldTableName"), QString());
    while (rows.next())
        tables[rows.value(0).toString()] << rows.value(1).toString();
    return tables;
}

void PasswordAuthcom::writeAuthorizations(QXmlStreamWriter& writer)
{
    QSqlQuery rows = _dbController->selectMulti(
        {QStringLiteral("accAuthorization T1"), QStringLiteral("accAuthorizationDetail T2"),
         QStringLiteral("srvComponent T3"), QStringLiteral("accAuthorizationDetailUser T4")},
        {"T1.codComponentAction", "T2.cosRecordKey", "T3.fldName"},
        QStringLiteral("T4.codPendingUser = %1 AND T4.codAuthorizationDetail = T2.pkyAuthorizationDetail ")
                .arg(_dbController->quoted(_userCod))
            + QStringLiteral("AND T2.codAuthorization = T1.pkyAuthorization AND T3.pkyComponent = T1.codComponent"),
        QString(), QStringLiteral("T3.fldName"), QString());
    writer.writeStartElement(QStringLiteral("Authorization"));
    while (rows.next())
        writer.writeTextElement(QStringLiteral("Record"), QStringList{rows.value(0).toString(), rows.value(1).toString(),
                                                                       rows.value(2).toString()}.join(QLatin1Char('|')));
    writer.writeEndElement();
}

QString PasswordAuthcom::passwordIncorrectXML()
{
    return refusal(tr("Password de usuario '%1' incorrecto").arg(_params.value(QStringLiteral("Login"))),
                   "PasswordAuthcom::passwordIncorrectXML()");
}

QString PasswordAuthcom::keyExpiredXML()
{
    return refusal(tr("Password de usuario '%1' vencido. Solicite uno nuevo al administrador de sistemas.")
                       .arg(_params.value(QStringLiteral("Login"))),
                   "PasswordAuthcom::keyExpiredXML()");
}

QString PasswordAuthcom::userNotFoundXML()
{
    return refusal(tr("Usuario '%1' no encontrado").arg(_params.value(QStringLiteral("Login"))),
                   "PasswordAuthcom::userNotFoundXML()");
}

QString PasswordAuthcom::refusal(const QString& message, const char* location)
{
    _authenticated = false;
    _lastMessage = message;
    QString reply;
    QXmlStreamWriter writer(&reply);
    startReply(writer, QStringLiteral("0"), message);
    writer.writeEndElement();
    writer.writeEndDocument();
    emit eventMessage(tr("Solicitud de Autenticación recibida por la conexión : '%1' denegada. Razón : '%2'")
                          .arg(_connectionID).arg(_lastMessage), KT::WarningMessage, QLatin1String(location));
    return reply;
}

void PasswordAuthcom::log(const QString& user, const QString& objectType, const QString& objectKey,
                          const QString& actionKey, const QString& date, const QString& time, const QString& key)
{
    _dbController->insertRecords(QStringLiteral("dbaUserLog"),
                                 {{QStringLiteral("NULL"), user, objectType, objectKey, actionKey, key, date, time,
                                   "1", "0", "1", "2", "0", "1"}},
                                 logModifiers, {});
}
