#include "KTDatabaseController.h"

#include "KTDatabaseParser.h"
#include "KTKeyHash.h"
#include "KTRawRows.h"
#include "KTTableRecordDataModel.h"

#include <KT.h>
#include <KTDbTable.h>
#include <KTMainWindow.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QStandardItemModel>
#include <QTextStream>

#include <algorithm>
#include <utility>

#include <mysql.h>

namespace {

const QString connectionSource = QStringLiteral("KTDatabaseController::establishConnection()");

} // namespace

KTDatabaseController::KTDatabaseController(QObject* parent)
    : QObject(parent)
{
}

KTDatabaseController::~KTDatabaseController()
{
    if (_dbConnection.isValid())
        closeConnection(_dbParameters.value(ConnectionName));
    forgetDefinitions();
    qDeleteAll(_retiredDefinitions);
}

bool KTDatabaseController::establishConnection(const QString& connectionName, const QString& driver,
                                               const QString& host, const QString& dbName,
                                               const QString& userName, const QString& password, int port,
                                               const QString& dbMapDirectoryName, const QString& connectOptions)
{
    forgetDefinitions();
    _allTablesLoaded = false;
    _dbParameters = QStringList{connectionName, driver, host, dbName, userName, password,
                                QString::number(port), dbMapDirectoryName, connectOptions};

    prepareConnection(connectionName, driver);
    _dbConnection.setHostName(host);
    _dbConnection.setUserName(userName);
    _dbConnection.setPassword(password);
    _dbConnection.setPort(port);
    _dbConnection.setConnectOptions(connectOptions);
    // Decimals come back as their exact text ("12.50"), never as a rounded double.
    _dbConnection.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (_createsDatabase) {
        _dbConnection.setDatabaseName(QString());
        if (!_dbConnection.open()) {
            connectionFailed(tr("Error al establecer conexión inicial con BD : %1\n   Mensaje : %2  %3"), dbName);
            return false;
        }
    }
    _connectionStatus = true;
    _connectionLost = false;
    setStatus(true);
    _lastConnectionError.clear();
    createParser(driver, dbMapDirectoryName);

    if (_createsDatabase) {
        if (!customQuery(_mainParser->createDatabase(dbName)).isActive())
            emit eventMessage(tr("Se produjo un error al crear BD : %1").arg(dbName), KT::ErrorMessage,
                              connectionSource);
        _dbConnection.close();
    }
    _dbConnection.setDatabaseName(dbName);
    if (!_dbConnection.open()) {
        connectionFailed(tr("Error al establecer conexión principal con BD : %1\n   Mensaje : %2  %3"), dbName);
        return false;
    }
    applyStatementMode();
    // A new session's transactions read and write until told otherwise.
    _sessionReadOnly = false;
    emit eventMessage(tr("Se estableció conexión con BD : %1").arg(dbName), KT::SuccessMessage, connectionSource);
    return _connectionStatus;
}

bool KTDatabaseController::establishConnection(const QStringList& params)
{
    return establishConnection(params.value(ConnectionName), params.value(Driver), params.value(Host),
                               params.value(DatabaseName), params.value(UserName), params.value(Password),
                               params.value(Port).toInt(), params.value(MapDirectory),
                               params.value(ConnectOptions));
}

// Reuses a connection Qt already knows under this name, closed, so that a
// reconnection never leaves a second handle to the same name behind.
void KTDatabaseController::prepareConnection(const QString& connectionName, const QString& driver)
{
    if (QSqlDatabase::contains(connectionName)) {
        _dbConnection = QSqlDatabase::database(connectionName, false);
        _dbConnection.close();
    } else {
        _dbConnection = QSqlDatabase::addDatabase(driver, connectionName);
    }
}

void KTDatabaseController::createParser(const QString& driver, const QString& dbMapDirectoryName)
{
    delete _mainParser;
    _mainParser = new KTDatabaseParser(this);
    connect(_mainParser, &KTDatabaseParser::eventMessage, this, &KTDatabaseController::eventMessage);
    connect(_mainParser, &KTDatabaseParser::errorLoadingTable, this, &KTDatabaseController::errorLoadingTable);
    if (driver == QLatin1String("QMYSQL"))
        _mainParser->loadMapPlugins(dbMapDirectoryName, QStringLiteral("MySqlDialectMap"));
}

void KTDatabaseController::connectionFailed(const QString& messageFormat, const QString& dbName)
{
    const QSqlError error = _dbConnection.lastError();
    _connectionStatus = false;
    setStatus(false);
    // The server's own words say why ("Access denied ..."); the driver's only that it failed.
    _lastConnectionError = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    emit eventMessage(messageFormat.arg(dbName, _lastConnectionError, error.nativeErrorCode()), KT::ErrorMessage,
                      connectionSource);
}

void KTDatabaseController::setMultipleStatements(bool allowed)
{
    _multipleStatements = allowed;
    applyStatementMode();
}

// The client library's handle of the open connection; null for another driver.
void* KTDatabaseController::mysqlHandle() const
{
    if (!_dbConnection.isOpen() || _dbConnection.driverName() != QLatin1String("QMYSQL"))
        return nullptr;
    // The driver names the handle's type after the client library's struct.
    const QVariant handle = _dbConnection.driver()->handle();
    if (qstrcmp(handle.typeName(), "MYSQL*") != 0 && qstrcmp(handle.typeName(), "st_mysql*") != 0)
        return nullptr;
    return *static_cast<MYSQL* const*>(handle.constData());
}

quint64 KTDatabaseController::sessionId() const
{
    MYSQL* mysql = static_cast<MYSQL*>(mysqlHandle());
    return mysql ? quint64(mysql_thread_id(mysql)) : 0;
}

// Qt's MySQL driver always connects with multiple statements on; only the
// client library's own call turns them off on an open connection.
void KTDatabaseController::applyStatementMode()
{
    applySessionLimits();
    MYSQL* mysql = static_cast<MYSQL*>(mysqlHandle());
    if (mysql && mysql_set_server_option(mysql, _multipleStatements ? MYSQL_OPTION_MULTI_STATEMENTS_ON
                                                                    : MYSQL_OPTION_MULTI_STATEMENTS_OFF) != 0)
        emit eventMessage(tr("No se pudo cambiar la ejecución de varias sentencias en la conexión '%1' : %2")
                              .arg(_dbConnection.connectionName(), QString::fromUtf8(mysql_error(mysql))),
                          KT::ErrorMessage, connectionSource);
}

void KTDatabaseController::setSessionLimits(int statementSeconds, int lockWaitSeconds)
{
    _statementSeconds = qMax(0, statementSeconds);
    _lockWaitSeconds = qMax(0, lockWaitSeconds);
    applySessionLimits();
}

// Run straight on the connection: a session that cannot take its limits is
// reported, not retried through the loss handling of execute().
void KTDatabaseController::applySessionLimits()
{
    if (!_dbConnection.isOpen() || (_statementSeconds == 0 && _lockWaitSeconds == 0))
        return;
    // The clause check reads quotes and backslashes as MariaDB's default mode
    // does; a server configured otherwise must not read client text differently.
    QStringList settings{QStringLiteral("sql_mode = 'STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,"
                                        "NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION'")};
    if (_statementSeconds > 0)
        settings << QStringLiteral("max_statement_time = %1").arg(_statementSeconds);
    if (_lockWaitSeconds > 0)
        settings << QStringLiteral("innodb_lock_wait_timeout = %1").arg(_lockWaitSeconds)
                 << QStringLiteral("lock_wait_timeout = %1").arg(_lockWaitSeconds);
    QSqlQuery query(_dbConnection);
    if (!query.exec(QStringLiteral("SET SESSION ") + settings.join(QStringLiteral(", "))))
        emit eventMessage(tr("No se pudieron fijar los límites de las sentencias en la conexión '%1' : %2")
                              .arg(_dbConnection.connectionName(), query.lastError().text()),
                          KT::ErrorMessage, connectionSource);
}

void KTDatabaseController::setStatus(bool status)
{
    _status = status;
    emit dbStatusChanged(_status);
}

// Only this controller's own connection is closed and removed, whatever name
// the caller passes: removing another controller's would leave it dangling.
void KTDatabaseController::closeConnection(const QString& connectionName)
{
    Q_UNUSED(connectionName);
    const QString name = _dbConnection.connectionName();
    _dbConnection.close();
    // Qt removes a named connection cleanly only once no handle to it is left.
    _dbConnection = QSqlDatabase();
    if (!name.isEmpty())
        QSqlDatabase::removeDatabase(name);
    _connectionStatus = false;
}

void KTDatabaseController::forgetDefinitions()
{
    if (_ownsDefinitions)
        for (KTDbTable* table : std::as_const(_dbDefinitionMap))
            if (table)
                _retiredDefinitions << table;
    _dbDefinitionMap.clear();
    _ownsDefinitions = false;
}

QStringList KTDatabaseController::dbParameters() const
{
    return _dbParameters;
}

bool KTDatabaseController::connectionStatus() const
{
    return _connectionStatus;
}

bool KTDatabaseController::allTablesLoaded() const
{
    return _allTablesLoaded;
}

bool KTDatabaseController::allTablesCreated() const
{
    return _allTablesCreated;
}

bool KTDatabaseController::allDataLoaded() const
{
    return _allDataLoaded;
}

QString KTDatabaseController::lastConnectionError() const
{
    return _lastConnectionError;
}

const QMap<QString, KTDbTable*> KTDatabaseController::dbDefinitionMap() const
{
    return _dbDefinitionMap;
}

QStandardItemModel* KTDatabaseController::tableRecordDataModel() const
{
    return _tableRecordDataModel;
}

void KTDatabaseController::setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap)
{
    if (dbDefinitionMap != _dbDefinitionMap)
        forgetDefinitions();
    _dbDefinitionMap = dbDefinitionMap;
    if (_mainParser)
        _mainParser->setDbDefinitionMap(dbDefinitionMap);
}

// A request starts on a working connection when one can be had: a lost one
// is opened again first, never in the middle of a request.
bool KTDatabaseController::beginTransaction()
{
    if (!startWritingRequest())
        return false;
    _inTransaction = _dbConnection.transaction();
    if (!_inTransaction)
        noteFailure(_dbConnection.lastError());
    return _inTransaction;
}

bool KTDatabaseController::startWritingRequest()
{
    return startRequest() && setSessionReadOnly(false);
}

bool KTDatabaseController::startReadOnlyRequest()
{
    _readOnlyRequest = startRequest() && setSessionReadOnly(true);
    return _readOnlyRequest;
}

bool KTDatabaseController::beginReadOnlyTransaction()
{
    if (!startRequest())
        return false;
    _inTransaction = execute(QStringLiteral("START TRANSACTION READ ONLY")).isActive();
    return _inTransaction;
}

// Only when the mode changes, so that a run of read requests costs no round
// trip for it.
bool KTDatabaseController::setSessionReadOnly(bool readOnly)
{
    if (readOnly == _sessionReadOnly)
        return true;
    const QString mode = readOnly ? QStringLiteral("READ ONLY") : QStringLiteral("READ WRITE");
    if (!execute(QStringLiteral("SET SESSION TRANSACTION %1").arg(mode)).isActive())
        return false;
    _sessionReadOnly = readOnly;
    return true;
}

// A failed commit may leave the transaction open; the next start of
// BEGIN would commit it silently, so the next request tidies first.
bool KTDatabaseController::commit()
{
    _inTransaction = false;
    const bool committed = _dbConnection.commit();
    if (!committed) {
        noteFailure(_dbConnection.lastError());
        _sessionUnclean = true;
    }
    return committed;
}

bool KTDatabaseController::rollback()
{
    _inTransaction = false;
    const bool rolledBack = _dbConnection.rollback();
    if (!rolledBack) {
        noteFailure(_dbConnection.lastError());
        _sessionUnclean = true;
    }
    return rolledBack;
}

// The boundary of a request: the only place where a lost connection opens
// again, and where a session that a failed request left with an open
// transaction, table locks or autocommit off is brought back to a clean state.
bool KTDatabaseController::startRequest(QSqlQuery* failure)
{
    if (_connectionLost && !reconnect())
        return false;
    if (!_sessionUnclean)
        return true;
    // Rolled back, never committed: the request that left it was answered with a failure.
    _dbConnection.rollback();
    QSqlQuery tidied = executeAll(_mainParser ? _mainParser->unlock() : QString());
    _sessionUnclean = !tidied.isActive();
    if (_sessionUnclean && failure)
        *failure = std::move(tidied);
    return !_sessionUnclean;
}

namespace {

// Client library errors for a server that went away or cannot be reached,
// and the server's own for a killed connection.
bool lostConnection(const QSqlError& error)
{
    static const QStringList codes{QStringLiteral("2002"), QStringLiteral("2003"), QStringLiteral("2006"),
                                   QStringLiteral("2013"), QStringLiteral("1927"), QStringLiteral("4031")};
    return codes.contains(error.nativeErrorCode());
}

} // namespace

void KTDatabaseController::noteFailure(const QSqlError& error)
{
    if (!lostConnection(error) || _connectionLost || !_connectionStatus)
        return;
    _connectionLost = true;
    if (_reportsConnectionLoss)
        emit eventMessage(tr("Se perdió la conexión con la BD : %1. Mensaje : %2")
                              .arg(_dbConnection.databaseName(), error.text()), KT::ErrorMessage,
                          QStringLiteral("KTDatabaseController::execute()"));
    setStatus(false);
}

bool KTDatabaseController::reconnect()
{
    if (!_connectionLost)
        return true;
    _dbConnection.close();
    if (!_dbConnection.open())
        return false;
    applyStatementMode();
    _connectionLost = false;
    _sessionReadOnly = false;
    // A fresh session: no transaction, no locks, autocommit on.
    _sessionUnclean = false;
    if (_reportsConnectionLoss)
        emit eventMessage(tr("Se restableció la conexión con la BD : %1").arg(_dbConnection.databaseName()),
                          KT::SuccessMessage, connectionSource);
    reportRecovery();
    return true;
}

// The caller that reconnected is in the middle of its own statement; whoever
// listens to the status (the panel rebuilds its models on it) hears of the
// recovery only once that statement has returned to the event loop.
void KTDatabaseController::reportRecovery()
{
    _status = true;
    QMetaObject::invokeMethod(this, [this] {
        if (_status && !_connectionLost)
            emit dbStatusChanged(true);
    }, Qt::QueuedConnection);
}

// The locks open a unit of work as a transaction does: until unlock() ends
// it, a lost connection fails every statement instead of reopening one
// without the locks and outside the unit, which its rollback could not undo.
QSqlQuery KTDatabaseController::lock(const QStringList& tables, const QStringList& aliases,
                                     const QStringList& modes)
{
    QSqlQuery failure;
    const bool started = startRequest(&failure) && setSessionReadOnly(false);
    _holdsLocks = true;
    // LOCK TABLES commits what is open: never on a session that could not be tidied.
    if (!started && failure.lastError().isValid())
        return failure;
    return executeEach(_mainParser ? _mainParser->lock(tables, aliases, modes) : QString());
}

// Every statement runs even when one fails, so that a failed COMMIT still
// releases the locks and turns autocommit on; the first failure is returned.
// Anything left behind is tidied at the next request's start.
QSqlQuery KTDatabaseController::unlock()
{
    QSqlQuery result = executeAll(_mainParser ? _mainParser->unlock() : QString());
    _holdsLocks = false;
    if (!result.isActive())
        _sessionUnclean = true;
    return result;
}

// Runs the statements of a text one by one, so that a failure after the
// first is not lost (the driver reports only the first of a multi-statement
// text); returns the first failed query, or the last one.
QSqlQuery KTDatabaseController::executeEach(const QString& sql)
{
    const QStringList statements = sql.split(QStringLiteral(";\n"));
    QSqlQuery query = execute(statements.first());
    for (int i = 1; i < statements.size() && query.isActive(); ++i)
        query = execute(statements.at(i));
    return query;
}

// Like executeEach, but none is skipped: returns the first failed query, or the last one.
QSqlQuery KTDatabaseController::executeAll(const QString& sql)
{
    QSqlQuery result;
    bool failed = false;
    for (const QString& statement : sql.split(QStringLiteral(";\n"))) {
        QSqlQuery query = execute(statement);
        if (failed)
            continue;
        failed = !query.isActive();
        result = std::move(query);
    }
    return result;
}

QSqlQuery KTDatabaseController::customQuery(const QString& query)
{
    return execute(query);
}

QSqlQuery KTDatabaseController::select(const QString& tableName, const QStringList& fields,
                                       const QString& whereCondition, const QString& groupBy,
                                       const QString& orderBy, const QString& limit)
{
    if (!_mainParser)
        return execute(QString());
    return execute(_mainParser->select(tableName, fields, whereCondition, groupBy, orderBy, limit));
}

QSqlQuery KTDatabaseController::selectResolveKeys(const QString& tableName, const QStringList& fields,
                                                  const QString& whereCondition, const QString& groupBy,
                                                  const QString& orderBy, const QString& limit)
{
    if (!_mainParser)
        return execute(QString());
    return execute(_mainParser->selectResolveKeys(tableName, fields, whereCondition, groupBy, orderBy, limit));
}

std::unique_ptr<KTRawRows> KTDatabaseController::selectRows(const QString& tableName, const QStringList& fields,
                                                            const QString& whereCondition, const QString& orderBy,
                                                            const QString& limit, bool resolveKeys, QString* error)
{
    const QString sql = !_mainParser ? QString()
        : resolveKeys ? _mainParser->selectResolveKeys(tableName, fields, whereCondition, QString(), orderBy, limit)
                      : _mainParser->select(tableName, fields, whereCondition, QString(), orderBy, limit);
    return executeRaw(sql, error);
}

QSqlQuery KTDatabaseController::selectMulti(const QStringList& tableNames, const QStringList& fields,
                                            const QString& whereCondition, const QString& groupBy,
                                            const QString& orderBy, const QString& limit)
{
    if (!_mainParser)
        return execute(QString());
    return execute(_mainParser->selectMulti(tableNames, fields, whereCondition, groupBy, orderBy, limit));
}

QSqlQuery KTDatabaseController::insertRecords(const QString& tableName, const QList<QStringList>& values,
                                              QList<int> modifiers, const QStringList& fields)
{
    QSqlQuery query = execute(_mainParser ? _mainParser->insertRecords(tableName, values, fields) : QString());
    passOnModifiers(tableName, modifiers);
    return query;
}

QSqlQuery KTDatabaseController::updateRecords(const QString& tableName, const QStringList& values,
                                              const QStringList& fields, const QString& whereCondition,
                                              QList<int> modifiers)
{
    QSqlQuery query = execute(
        _mainParser ? _mainParser->updateRecords(tableName, values, fields, whereCondition) : QString());
    passOnModifiers(tableName, modifiers);
    return query;
}

QSqlQuery KTDatabaseController::deleteRecords(const QString& tableName, QList<int> modifiers,
                                              const QString& whereCondition)
{
    QSqlQuery query = execute(_mainParser ? _mainParser->deleteRecords(tableName, whereCondition) : QString());
    passOnModifiers(tableName, modifiers);
    return query;
}

QString KTDatabaseController::concat(const QStringList& keys)
{
    return _mainParser ? _mainParser->concat(keys) : QString();
}

QString KTDatabaseController::in(const QStringList& keys)
{
    return _mainParser ? _mainParser->in(keys) : QString();
}

QString KTDatabaseController::nullValue()
{
    return _mainParser ? _mainParser->nullValue() : QString();
}

QString KTDatabaseController::lastInsertID()
{
    if (!_mainParser)
        return QString();
    return _mainParser->select(QString(), {_mainParser->lastInsertID()}, QString(), QString(), QString(), QString());
}

QString KTDatabaseController::valueText(const QVariant& value)
{
    return value.isNull() ? QString() : value.toString();
}

QString KTDatabaseController::quoted(const QString& text) const
{
    QSqlField field{QString(), QMetaType(QMetaType::QString)};
    field.setValue(text.isNull() ? QStringLiteral("") : text);
    if (const QSqlDriver* driver = _dbConnection.driver(); driver && _dbConnection.isValid())
        return driver->formatValue(field);
    // Without a driver, the escaping MySQL reads with its default SQL mode.
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QSqlQuery KTDatabaseController::execute(const QString& sql)
{
    // Outside a request's unit of work a statement may open a lost connection
    // again; inside one (a transaction, or table locks) the rest of what the
    // server has rolled back must fail, not run on a fresh session.
    if (_connectionLost && !inUnitOfWork())
        reconnect();
    QSqlQuery query(_dbConnection);
    if (!query.exec(sql)) {
        _lastErrorCode = query.lastError().nativeErrorCode().toInt();
        noteFailure(query.lastError());
    }
    return query;
}

// Like execute(), on the driver's own connection: the driver keeps no
// result pending between its statements, so the connection is free here.
std::unique_ptr<KTRawRows> KTDatabaseController::executeRaw(const QString& sql, QString* error)
{
    if (_connectionLost && !inUnitOfWork())
        reconnect();
    MYSQL* mysql = static_cast<MYSQL*>(mysqlHandle());
    if (!mysql) {
        _lastErrorCode = 2006;
        *error = tr("No existe conexión a la BD");
        return nullptr;
    }
    const QByteArray statement = sql.toUtf8();
    MYSQL_RES* result = nullptr;
    if (mysql_real_query(mysql, statement.constData(), statement.size()) == 0)
        result = mysql_store_result(mysql);
    if (result)
        return std::make_unique<KTRawRows>(result);
    // A statement without rows is no select: it is refused like a failed one.
    _lastErrorCode = int(mysql_errno(mysql));
    *error = _lastErrorCode ? QString::fromUtf8(mysql_error(mysql)) : tr("La sentencia no devolvió filas");
    if (_lastErrorCode)
        noteFailure(QSqlError(QString(), *error, QSqlError::StatementError, QString::number(_lastErrorCode)));
    return nullptr;
}

// The caller's counters are passed on whether or not the statement ran;
// callers that must not count a failed statement pass an empty list.
// A vector of zeros changes nothing either: components pass one for every
// row and apply their counts after the commit.
void KTDatabaseController::passOnModifiers(const QString& tableName, const QList<int>& modifiers)
{
    if (std::all_of(modifiers.cbegin(), modifiers.cend(), [](int delta) { return delta == 0; }))
        return;
    if (_tableRecordDataModel)
        updateTableRecordDataModel(tableName, modifiers);
    else
        emit updateTableRecordDataModelRequested(tableName, modifiers);
}

// ---------------------------------------------------------------------------
// Table definitions, table creation and data files

bool KTDatabaseController::connectionMissing(const char* operation)
{
    if (_connectionStatus)
        return false;
    emit eventMessage(tr("No existe conexión a ninguna base de datos"), KT::ErrorMessage,
                      QStringLiteral("KTDatabaseController::%1()").arg(QLatin1String(operation)));
    return true;
}

bool KTDatabaseController::loadTablesFromFiles(const QString& dirName)
{
    if (connectionMissing("loadTablesFromFiles"))
        return false;
    // Every load starts from nothing: earlier definitions (and the null
    // entries of a failed load) are retired, never reused.
    forgetDefinitions();
    _ownsDefinitions = true;
    _allTablesLoaded = true;
    execLoadTablesFromFiles(dirName);

    const QString location = QStringLiteral("KTDatabaseController::loadTablesFromFiles()");
    if (!_allTablesLoaded) {
        emit eventMessage(tr("No se pudo cargar una o mas tablas. El sistema no funcionará correctamente hasta "
                             "que se corrija el error"), KT::ErrorMessage, location);
        setStatus(false);
        return false;
    }
    linkForeignTables();
    emit eventMessage(tr("Todas las tablas se cargaron exitosamente"), KT::SuccessMessage, location);
    _mainParser->setDbDefinitionMap(_dbDefinitionMap);
    setStatus(true);
    return true;
}

void KTDatabaseController::execLoadTablesFromFiles(const QString& dirName)
{
    const QDir dir(dirName);
    if (dirName.isEmpty() || !dir.exists()) {
        emit eventMessage(tr("No existe directorio : '%1'").arg(dirName), KT::ErrorMessage,
                          QStringLiteral("KTDatabaseController::loadTablesFromFiles()"));
        return;
    }
    for (const QString& subdirectory : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                                                     QDir::Unsorted))
        execLoadTablesFromFiles(dirName + QLatin1Char('/') + subdirectory);
    for (const QString& fileName : dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted))
        if (fileName.endsWith(QLatin1String(".otd")))
            loadTableFile(dirName, fileName);
}

void KTDatabaseController::loadTableFile(const QString& dirName, const QString& fileName)
{
    QFile file(dirName + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        emit eventMessage(tr("No se pudo abrir archivo de tabla : '%1'").arg(file.fileName()), KT::ErrorMessage,
                          QStringLiteral("KTDatabaseController::loadTablesFromFiles()"));
        return;
    }
    const QString tableName = QString(fileName).remove(QStringLiteral(".otd"));
    const QString text = QTextStream(&file).readAll();
    emit statusMessage(tr("Cargando tabla : %1").arg(tableName));
    KTDbTable* table = _mainParser->parseTable(tableName, text);
    if (!table)
        _allTablesLoaded = false;
    // A later file of the same name replaces the earlier definition.
    if (KTDbTable* replaced = _dbDefinitionMap.value(tableName))
        _retiredDefinitions << replaced;
    _dbDefinitionMap.insert(tableName, table);
}

void KTDatabaseController::linkForeignTables()
{
    for (KTDbTable* table : std::as_const(_dbDefinitionMap)) {
        if (!table)
            continue;
        for (_ForeignKey& key : table->_tableForeignKeys)
            key.foreignTable = _dbDefinitionMap.value(key.foreignTableName);
    }
}

void KTDatabaseController::createTables(bool)
{
    const QString location = QStringLiteral("KTDatabaseController::createTables()");
    if (!_connectionStatus) {
        _allTablesCreated = false;
        setStatus(false);
        connectionMissing("createTables");
        return;
    }
    if (!_allTablesLoaded) {
        _allTablesCreated = false;
        setStatus(false);
        emit eventMessage(tr("Las definciones de tablas no se cargaron correctamente por lo que no se creará "
                             "ninguna tabla"), KT::WarningMessage, location);
        return;
    }
    _allTablesCreated = true;
    customQuery(_mainParser->setEnabledForeignChecks(false));
    for (auto it = _dbDefinitionMap.cbegin(); it != _dbDefinitionMap.cend(); ++it) {
        emit statusMessage(tr("Creando tabla : %1").arg(it.key()));
        const QSqlQuery query = customQuery(_mainParser->createTable(it.value()));
        if (!query.isActive()) {
            _allTablesCreated = false;
            emit eventMessage(tr("No se pudo crear tabla : '%1'. Mensaje : '%2'")
                                  .arg(it.key(), query.lastError().databaseText()), KT::ErrorMessage, location);
        }
    }
    customQuery(_mainParser->setEnabledForeignChecks(true));
    setStatus(_allTablesCreated);
    if (_allTablesCreated)
        emit eventMessage(tr("Todas las tablas se crearon exitosamente"), KT::SuccessMessage, location);
    else
        emit eventMessage(tr("No se pudo crear una o mas tablas. El sistema no funcionará correctamente hasta "
                             "que se corrija el error"), KT::ErrorMessage, location);
}

void KTDatabaseController::createDataFromFiles(const QString& dataDirName, const QString& blobDirName, bool force)
{
    if (connectionMissing("createDataFromFiles"))
        return;
    _allDataLoaded = true;
    execCreateDataFromFiles(dataDirName, blobDirName, force);
    setStatus(_allDataLoaded);
    const QString location = QStringLiteral("KTDatabaseController::createDataFromFiles()");
    if (_allDataLoaded)
        emit eventMessage(tr("Todos los datos de las tablas se cargaron exitosamente"), KT::SuccessMessage,
                          location);
    else
        emit eventMessage(tr("No se pudo cargar datos de una o mas tablas. El sistema no funcionará correctamente "
                             "hasta que se corrija el error"), KT::ErrorMessage, location);
}

void KTDatabaseController::execCreateDataFromFiles(const QString& dataDirName, const QString& blobDirName,
                                                   bool force)
{
    const QDir dir(dataDirName);
    if (dataDirName.isEmpty() || !dir.exists()) {
        emit eventMessage(tr("No existe directorio : '%1'").arg(dataDirName), KT::ErrorMessage,
                          QStringLiteral("KTDatabaseController::execCreateDataFromFiles()"));
        return;
    }
    for (const QString& subdirectory : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                                                     QDir::Unsorted))
        execCreateDataFromFiles(dataDirName + QLatin1Char('/') + subdirectory, blobDirName, force);

    customQuery(_mainParser->setEnabledForeignChecks(false));
    for (const QString& fileName : dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted)) {
        if (!fileName.endsWith(QLatin1String(".odd")))
            continue;
        QFile file(dataDirName + QLatin1Char('/') + fileName);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            emit eventMessage(tr("No se pudo abrir archivo de datos : '%1'").arg(file.fileName()),
                              KT::ErrorMessage, QStringLiteral("KTDatabaseController::createDataFromFiles()"));
            continue;
        }
        loadDataFile(file, blobDirName);
    }
    customQuery(_mainParser->setEnabledForeignChecks(true));
}

// Fills one empty table from its data file; a table holding rows is left alone.
void KTDatabaseController::loadDataFile(QFile& file, const QString& blobDirName)
{
    const QString tableName = KTDatabaseParser::dataFileTableName(file);
    QSqlQuery count = customQuery(_mainParser->recordCount(tableName));
    const qint64 rows = count.next() ? count.value(0).toLongLong() : 0;
    emit statusMessage(tr("Cargando datos en la tabla : %1").arg(tableName));
    if (rows > 0)
        return;

    const KTDbTable* table = _dbDefinitionMap.value(tableName);
    if (!table) {
        emit eventMessage(tr("No existe definición de la tabla : '%1'. No se cargó el archivo de datos : '%2'")
                              .arg(tableName, file.fileName()), KT::WarningMessage,
                          QStringLiteral("KTDatabaseController::execCreateDataFromFiles()"));
        return;
    }
    const QStringList fields = table->fields();
    const auto blobField = std::find_if(fields.cbegin(), fields.cend(),
                                        [](const QString& name) { return name.startsWith(QLatin1String("bin")); });
    if (blobField != fields.cend()) {
        insertBindingBlobs(file, int(blobField - fields.cbegin()), blobDirName);
        return;
    }
    const QString statement = _mainParser->createDataFromFile(file);
    if (statement.simplified().isEmpty())
        return;
    const QSqlQuery insert = customQuery(statement);
    if (!insert.isActive())
        dataInsertFailed(tableName, insert.lastError().databaseText());
}

// Rows go in in file order, so that generated keys follow the file as the
// other data files that refer to them expect.
void KTDatabaseController::insertBindingBlobs(QFile& file, int blobFieldIndex, const QString& blobDirName)
{
    const QString tableName = KTDatabaseParser::dataFileTableName(file);
    const auto statements = _mainParser->createDataFromFileBindingBlobs(file, blobFieldIndex, blobDirName);
    for (const QString& statement : statements.uniqueKeys()) {
        QList<QMap<QString, QVariant> > rows = statements.values(statement);
        std::reverse(rows.begin(), rows.end());
        const int placeholders = int(statement.count(QLatin1Char(':')));
        for (const QMap<QString, QVariant>& bindings : std::as_const(rows)) {
            if (bindings.size() < placeholders) {
                dataInsertFailed(tableName, tr("Falta el valor del archivo binario"));
                continue;
            }
            QSqlQuery insert(_dbConnection);
            bool done = insert.prepare(statement);
            for (auto it = bindings.cbegin(); done && it != bindings.cend(); ++it)
                insert.bindValue(it.key(), it.value());
            done = done && insert.exec();
            if (!done)
                dataInsertFailed(tableName, insert.lastError().databaseText());
        }
    }
}

void KTDatabaseController::dataInsertFailed(const QString& tableName, const QString& error)
{
    _allDataLoaded = false;
    emit eventMessage(tr("No se pudo insertar datos en la tabla : '%1'. Mensaje : '%2'").arg(tableName, error),
                      KT::ErrorMessage, QStringLiteral("KTDatabaseController::execCreateDataFromFiles()"));
}

// ---------------------------------------------------------------------------
// System tables, administrator and company

namespace {

const QString recordDataTable = QStringLiteral("dbaTableRecordData");
// The built-in administrator's password row.
const QString adminKeyRow = QStringLiteral("codUser = 2 AND codType = 1");
const QStringList systemValues{"1", "0", "1", "2", "0", "1"};
const QStringList statisticFields{
    "fldEnabledRecords", "fldDisabledRecords", "fldAuthorizedRecords", "fldNotAuthorizedRecords",
    "fldNormalUserAccessRecords", "fldAdminUserAccessRecords", "fldSuperUserAccessRecords",
    "fldNormalUserVisibleRecords", "fldAdminUserVisibleRecords", "fldSuperUserVisibleRecords",
    "fldTotalRecords", "fldInserts", "fldDeletes", "fldEdits"};

QStringList numbers(std::initializer_list<qint64> values)
{
    QStringList texts;
    for (qint64 value : values)
        texts << QString::number(value);
    return texts;
}

} // namespace

qint64 KTDatabaseController::countRows(const QString& tableName, const QString& condition)
{
    QSqlQuery query = condition.isEmpty()
        ? customQuery(_mainParser->recordCount(tableName))
        : select(tableName, {_mainParser->count()}, condition, QString(), QString(), QString());
    return query.next() ? query.value(0).toLongLong() : 0;
}

// The statistics row of one table, as the statistics table stores it.
QStringList KTDatabaseController::systemTableRow(const QString& tableName)
{
    const KTDbTable* table = _dbDefinitionMap.value(tableName);
    const qint64 total = countRows(tableName, QString());
    const qint64 disabled = countRows(tableName, QStringLiteral("sysEnabled = 0"));
    const qint64 normalAccess = countRows(tableName, QStringLiteral("sysEditable = 2"));
    const qint64 adminAccess = countRows(tableName, QStringLiteral("sysEditable = 1"));
    const qint64 normalVisible = countRows(tableName, QStringLiteral("sysVisible = 2"));
    const qint64 adminVisible = countRows(tableName, QStringLiteral("sysVisible = 1"));
    const qint64 notAuthorized = countRows(tableName, QStringLiteral("sysAuthorized = 0"));

    QStringList row{nullValue(), quoted(tableName), quoted(table ? table->_alias : QString()),
                    quoted(table ? table->_version : QString())};
    row << numbers({total - disabled, disabled, total - notAuthorized, notAuthorized, normalAccess, adminAccess,
                    total - normalAccess - adminAccess, normalVisible, adminVisible,
                    total - normalVisible - adminVisible, total, total, 0, 0});
    row << quoted(table ? table->_description : QString()) << systemValues;
    return row;
}

void KTDatabaseController::fillSystemTables()
{
    if (!_connectionStatus) {
        setStatus(false);
        connectionMissing("fillSystemTables");
        return;
    }
    if (!deleteRecords(recordDataTable, {}, QString()).isActive())
        emit eventMessage(tr("No se pudo borrar los registros de la tabla de sistema 'dbaTableRecordData'"),
                          KT::WarningMessage, QStringLiteral("KTDatabaseController::createTables()"));
    QList<QStringList> rows;
    for (const QString& tableName : _dbDefinitionMap.keys())
        if (tableName != recordDataTable && _dbDefinitionMap.value(tableName))
            rows << systemTableRow(tableName);

    const qint64 n = _dbDefinitionMap.size();
    const KTDbTable* self = _dbDefinitionMap.value(recordDataTable);
    QStringList own{nullValue(), quoted(recordDataTable), quoted(self ? self->_alias : QString()),
                    quoted(self ? self->_version : QString())};
    own << numbers({n, 0, n, 0, 0, 0, n, n, 0, 0, n, n, 0, 0});
    own << quoted(self ? self->_description : QString()) << systemValues;
    rows << own;

    const QSqlQuery insert = insertRecords(recordDataTable, rows, {}, {});
    setStatus(insert.isActive());
    if (!insert.isActive())
        emit eventMessage(tr("No se pudo generar información de sistema de una o mas tablas. Mensaje : %1")
                              .arg(insert.lastError().databaseText()), KT::ErrorMessage,
                          QStringLiteral("KTDatabaseController::fillSystemTables()"));
}

void KTDatabaseController::setAdminUser(const QString& login, const QString& password, const QString& version)
{
    _adminLogin = login;
    _adminPassword = password;
    if (login.isEmpty())
        return;
    const QDate today = QDate::currentDate();
    updateRecords("accUser", {"", quoted(login)}, {"", "fldLogin"}, "pkyUser = 2", {});
    if (updateRecords("accUserIdentifier", {"", quoted(adminKey(password)), adminKeyExpiration(today)},
                      {"", "fldKey", "fldExpirationDate"}, adminKeyRow, {}).isActive())
        _adminKeyRenewedOn = today;
    updateRecords("accGroup", {"", quoted(login)}, {"", "fldName"}, "pkyGroup = 2", {});
    updateRecords("agnCompany", {"", quoted(version)}, {"", "fldAlternativeKey"}, "pkyCompany = 1", {});
}

// The expiry date of the administrator's key written on a given day, as an SQL literal.
QString KTDatabaseController::adminKeyExpiration(const QDate& today)
{
    return quoted(today.addMonths(3).toString(QStringLiteral("yyyy-MM-dd")));
}

// The start-up gives the administrator's key three months; a server that runs
// longer moves that date forward once a day, so that the key the panel set
// never expires under it. Only the date is written: the key stays whatever it is.
void KTDatabaseController::renewAdminKey(const QDate& today)
{
    if (_adminLogin.isEmpty() || !today.isValid() || today == _adminKeyRenewedOn)
        return;
    if (updateRecords("accUserIdentifier", {"", adminKeyExpiration(today)}, {"", "fldExpirationDate"}, adminKeyRow,
                      {}).isActive())
        _adminKeyRenewedOn = today;
}

// The key is written as given, unless the database keeps it hashed: then a
// hash that still matches stays, and a new password is hashed in turn, so
// that starting the panel never puts a plain key back.
QString KTDatabaseController::adminKey(const QString& password)
{
    QSqlQuery current = select("accUserIdentifier", {"fldKey"}, adminKeyRow, QString(), QString(), QString());
    const QString stored = current.next() ? current.value(0).toString() : QString();
    if (!KTKeyHash::isHashed(stored))
        return password;
    if (KTKeyHash::matches(password, stored))
        return stored;
    const QString hashed = KTKeyHash::hash(password);
    return hashed.isEmpty() ? stored : hashed;
}

void KTDatabaseController::setCompany(const QString& name, const QString& NIT)
{
    QSqlQuery current = select("agnCompany", {"txtDescription"}, "pkyCompany = 2", QString(), QString(), QString());
    const QString description = current.next() ? current.value(0).toString().simplified() : QString();
    if (description.isEmpty())
        updateRecords("agnCompany", {"", quoted(name), quoted(NIT), quoted(name)},
                      {"", "fldName", "fldNIT", "txtDescription"}, "pkyCompany = 2", {});
    else
        updateRecords("agnCompany", {"", quoted(name), quoted(NIT)}, {"", "fldName", "fldNIT"}, "pkyCompany = 2",
                      {});
}

// ---------------------------------------------------------------------------
// Table record data model and custom tables

void KTDatabaseController::loadTableRecordData()
{
    setStatus(refreshTableRecordData());
}

bool KTDatabaseController::refreshTableRecordData()
{
    if (!_tableRecordDataModel)
        _tableRecordDataModel = new KTTableRecordDataModel(this);
    KTDbTable* table = _dbDefinitionMap.value(recordDataTable);
    const QStringList aliases = table ? table->fieldAliases() : QStringList();
    const QStringList toolTips = table ? table->toolTips() : QStringList();
    _tableRecordDataModel->reset(aliases.mid(0, aliases.size() - 1), toolTips.mid(0, toolTips.size() - 1));

    QSqlQuery query = select(recordDataTable, table ? table->fields() : QStringList(), QString(), QString(),
                             QString(), QString());
    if (!query.isActive()) {
        emit eventMessage(tr("No se pudo cargar información de sistema. Mensaje : %1")
                              .arg(query.lastError().databaseText()), KT::WarningMessage,
                          QStringLiteral("KTDatabaseController::loadTableRecordData()"));
        return false;
    }
    while (query.next()) {
        QStringList values;
        for (int column = 0; column < KTTableRecordDataModel::ColumnCount; ++column)
            values << query.value(column).toString();
        _tableRecordDataModel->appendTableRow(values, query.value(KTTableRecordDataModel::ColumnCount).toString());
        storeMainStatistics(_tableRecordDataModel->rowCount() - 1);
    }
    _tableRecordDataModel->appendTotalsRow();
    return true;
}

void KTDatabaseController::storeMainStatistics(int row)
{
    if (KTMainWindow* window = KTMainWindow::mainWindowInstance())
        window->setTableMainStats(_tableRecordDataModel->item(row, KTTableRecordDataModel::TableNameColumn)->text(),
                                  _tableRecordDataModel->mainStatistics(row));
}

void KTDatabaseController::updateTableRecordDataModel(QString tableName, QList<int> modifiers)
{
    if (modifiers.size() != KTTableRecordDataModel::StatisticCount || !_tableRecordDataModel)
        return;
    const int row = _tableRecordDataModel->tableRow(tableName);
    if (row < 0) {
        emit eventMessage(tr("No se encontró la tabla : '%1'").arg(tableName), KT::BugMessage,
                          QStringLiteral("KTDatabaseController::insertRecords()"));
        return;
    }
    _tableRecordDataModel->applyModifiers(row, modifiers);
    storeMainStatistics(row);
    // The row is moved by the deltas, not overwritten with this process's
    // totals: another server on the same database moves it too.
    const QString key = _tableRecordDataModel->item(row, KTTableRecordDataModel::KeyColumn)->text();
    QStringList fields{QStringLiteral("pkyTableRecordData")};
    QStringList values{key};
    for (int i = 0; i < KTTableRecordDataModel::StatisticCount; ++i) {
        if (modifiers.at(i) == 0)
            continue;
        fields << statisticFields.at(i);
        values << QStringLiteral("%1 + (%2)").arg(statisticFields.at(i)).arg(modifiers.at(i));
    }
    if (fields.size() > 1)
        updateRecords(recordDataTable, values, fields, "pkyTableRecordData = " + key, {});
    emit tableRecordDataChanged(tableName, modifiers);
}

void KTDatabaseController::applyTableRecordDelta(QString tableName, QList<int> modifiers)
{
    if (modifiers.size() != KTTableRecordDataModel::StatisticCount || !_tableRecordDataModel)
        return;
    const int row = _tableRecordDataModel->tableRow(tableName);
    if (row < 0)
        return;
    _tableRecordDataModel->applyModifiers(row, modifiers);
    storeMainStatistics(row);
}

namespace {

void applyCellFormat(QStandardItem* cell, int format)
{
    const auto style = [cell](const QColor& colour, bool bold, bool italic) {
        cell->setForeground(colour);
        QFont font = cell->font();
        font.setBold(bold);
        font.setItalic(italic);
        cell->setFont(font);
    };
    switch (format) {
    case 1: style(QColor(114, 152, 108), true, true); break;
    case 2: style(QColor(114, 152, 108), false, true); break;
    case 3: style(QColor(104, 72, 101), true, false); break;
    case 4:
        style(QColor(50, 55, 95), false, false);
        cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case 5: style(QColor(104, 72, 101), false, true); break;
    case 8:
        style(QColor(200, 154, 113), true, false);
        cell->setTextAlignment(Qt::AlignCenter);
        break;
    case 12: {
        const QVariant key = cell->data(Qt::UserRole + 1);
        cell->setText(QString());
        cell->setIcon(QIcon(key.toBool() ? QStringLiteral(":/Images/imgTick.png")
                                         : QStringLiteral(":/Images/imgNot.png")));
        break;
    }
    default: break;
    }
}

} // namespace

QStandardItemModel* KTDatabaseController::loadCustomTable(const QString& tableName, QStringList fields,
                                                          bool resolveForeignKeys, bool applyFormat)
{
    KTDbTable* table = _dbDefinitionMap.value(tableName);
    if (table && fields.isEmpty())
        fields = table->fields();
    QSqlQuery query = resolveForeignKeys
        ? selectResolveKeys(tableName, fields, QString(), QString(), QString(), QString())
        : select(tableName, fields, QString(), QString(), QString(), QString());
    if (!table || !query.isActive()) {
        emit eventMessage(tr("No se pudo cargar tabla %1. Mensaje : %2").arg(tableName, query.lastError().databaseText()),
                          KT::WarningMessage, QStringLiteral("KTDatabaseController::loadCustomTable()"));
        return nullptr;
    }

    auto* model = new QStandardItemModel(0, int(fields.size()));
    int column = 0;
    for (const _TableField& field : table->_tableFields) {
        if (!fields.contains(field.name))
            continue;
        auto* header = new QStandardItem(field.alias);
        header->setToolTip(field.toolTip);
        model->setHorizontalHeaderItem(column++, header);
    }
    while (query.next()) {
        QList<QStandardItem*> cells;
        int offset = 0;
        for (int k = 0; k < fields.size(); ++k) {
            auto* cell = new QStandardItem;
            cell->setData(valueText(query.value(offset + k)), Qt::UserRole + 1);
            if (resolveForeignKeys && table->resolvedKeyIndex(fields.at(k)) >= 0)
                ++offset;
            cell->setText(valueText(query.value(offset + k)));
            if (applyFormat) {
                const _TableField* field = table->dbField(fields.at(k));
                applyCellFormat(cell, field ? field->format.toInt() : 0);
            }
            cells << cell;
        }
        model->appendRow(cells);
    }
    return model;
}
