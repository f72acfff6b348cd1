#ifndef KTDATABASECONTROLLER_H
#define KTDATABASECONTROLLER_H

#include <QDate>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <memory>

class KTDatabaseParser;
class KTRawRows;
#include <KTDbTable.h>
class KTTableRecordDataModel;
class QFile;
class QStandardItemModel;

// The server's only door to the database. Each controller owns one named Qt
// SQL connection and is used only by the thread that opened it; the SQL text
// comes from the parser and its dialect map.
class KTDatabaseController : public QObject
{
    Q_OBJECT
public:
    // Positions in the connection parameter list.
    enum Parameter {
        ConnectionName, Driver, Host, DatabaseName, UserName, Password, Port, MapDirectory, ConnectOptions,
        ParameterCount
    };

    explicit KTDatabaseController(QObject* parent = nullptr);
    ~KTDatabaseController() override;

    bool establishConnection(const QString& connectionName, const QString& driver, const QString& host,
                             const QString& dbName, const QString& userName, const QString& password, int port,
                             const QString& dbMapDirectoryName, const QString& connectOptions);
    bool establishConnection(const QStringList& params);
    void closeConnection(const QString& connectionName);

    QStringList dbParameters() const;
    bool connectionStatus() const;
    // True from the moment a statement finds the database gone until a
    // reconnection succeeds.
    bool connectionLost() const { return _connectionLost; }
    // Opens the lost connection again with its parameters; reports the
    // recovery and the status once it is back.
    bool reconnect();
    // The panel's controller reports a loss in the log; a connection's
    // controller only signals it, so that a loss is logged once.
    void setReportsConnectionLoss(bool reports) { _reportsConnectionLoss = reports; }
    // Whether one text may run several statements (the driver allows it).
    // A connection that runs text from clients turns it off, so that nothing
    // after a ";" ever runs; it holds across reconnections.
    void setMultipleStatements(bool allowed);
    // Bounds every statement of the session (seconds; 0 leaves MariaDB's
    // own): how long one may run and how long it may wait for a lock; and
    // pins MariaDB's default SQL mode, in which the clause check reads
    // client text. They hold across reconnections.
    void setSessionLimits(int statementSeconds, int lockWaitSeconds);
    // MariaDB's id of this connection's session, for KILL QUERY from another
    // connection; 0 when there is none.
    quint64 sessionId() const;
    // MariaDB's error number of the last statement that failed; 0 once reset.
    int lastErrorCode() const { return _lastErrorCode; }
    void resetLastErrorCode() { _lastErrorCode = 0; }
    // Whether establishConnection first creates the database when it is
    // missing; a client connection's controller opens the panel's database,
    // which exists, and spares itself a second connection to the server.
    void setCreatesDatabase(bool creates) { _createsDatabase = creates; }
    bool allTablesLoaded() const;
    bool allTablesCreated() const;
    bool allDataLoaded() const;
    QString lastConnectionError() const;
    const QMap<QString, KTDbTable*> dbDefinitionMap() const;
    QStandardItemModel* tableRecordDataModel() const;

    bool beginTransaction();
    // A request that writes outside a transaction (a login's record): a
    // session left read only by earlier reads is made read-write first.
    bool startWritingRequest();
    // A request that only reads: its one statement runs with autocommit on a
    // session whose transactions are read only, or all of them in one
    // read-only transaction. A later write request makes the session
    // read-write again.
    bool startReadOnlyRequest();
    void endReadOnlyRequest() { _readOnlyRequest = false; }
    bool beginReadOnlyTransaction();
    bool commit();
    bool rollback();
    // A request under table locks: from lock() to unlock() it is one unit of
    // work, like a transaction (see execute()).
    QSqlQuery lock(const QStringList& tables, const QStringList& aliases, const QStringList& modes);
    QSqlQuery unlock();

    QSqlQuery customQuery(const QString& query);
    QSqlQuery select(const QString& tableName, const QStringList& fields, const QString& whereCondition,
                     const QString& groupBy, const QString& orderBy, const QString& limit);
    QSqlQuery selectResolveKeys(const QString& tableName, const QStringList& fields,
                                const QString& whereCondition, const QString& groupBy, const QString& orderBy,
                                const QString& limit);
    // The same selects, their rows read straight from the client library;
    // null with *error set (and lastErrorCode()) when the statement fails.
    std::unique_ptr<KTRawRows> selectRows(const QString& tableName, const QStringList& fields,
                                          const QString& whereCondition, const QString& orderBy,
                                          const QString& limit, bool resolveKeys, QString* error);
    QSqlQuery selectMulti(const QStringList& tableNames, const QStringList& fields, const QString& whereCondition,
                          const QString& groupBy, const QString& orderBy, const QString& limit);
    QSqlQuery insertRecords(const QString& tableName, const QList<QStringList>& values, QList<int> modifiers,
                            const QStringList& fields);
    QSqlQuery updateRecords(const QString& tableName, const QStringList& values, const QStringList& fields,
                            const QString& whereCondition, QList<int> modifiers);
    QSqlQuery deleteRecords(const QString& tableName, QList<int> modifiers, const QString& whereCondition);

    QString concat(const QStringList& keys);
    QString in(const QStringList& keys);
    QString nullValue();
    QString lastInsertID();

    void setAdminUser(const QString& login, const QString& password, const QString& version);
    // Moves the expiry of the administrator's key set by setAdminUser forward
    // to three months after today; at most one write per day.
    void renewAdminKey(const QDate& today);
    void setCompany(const QString& name, const QString& NIT);
    // A new model of a table's rows (the caller owns it), or null.
    QStandardItemModel* loadCustomTable(const QString& tableName, QStringList fields, bool resolveForeignKeys,
                                        bool applyFormat);

    // A value read from a query as text; SQL NULL reads as empty text (the
    // driver would give "0" for a null number).
    static QString valueText(const QVariant& value);

    // A text as a safe SQL string literal, quotes included, escaped the way the
    // connected driver reads it back. For every value the server itself quotes.
    QString quoted(const QString& text) const;

public Q_SLOTS:
    void createDataFromFiles(const QString& dataDirName, const QString& blobDirName, bool force);
    void createTables(bool force);
    void fillSystemTables();
    void loadTableRecordData();
    // Reads the statistics again, as loadTableRecordData does, without
    // reporting the database's status: false when they could not be read.
    bool refreshTableRecordData();
    bool loadTablesFromFiles(const QString& dirName);
    void setDbDefinitionMap(QMap<QString, KTDbTable*> dbDefinitionMap);
    void updateTableRecordDataModel(QString tableName, QList<int> modifiers);
    // Deltas another server has already written to the statistics table:
    // applied to the model and the published statistics only.
    void applyTableRecordDelta(QString tableName, QList<int> modifiers);

Q_SIGNALS:
    void dbStatusChanged(bool newstatus);
    void errorLoadingTable(QString tableName);
    void eventMessage(QString message, int status, QString objectLocation);
    void statusMessage(QString message);
    void updateTableRecordDataModelRequested(QString tableName, QList<int> modifiers);
    // Deltas this controller applied and wrote, for other servers to hear of.
    void tableRecordDataChanged(QString tableName, QList<int> modifiers);

private:
    QString adminKey(const QString& password);
    QString adminKeyExpiration(const QDate& today);
    void execLoadTablesFromFiles(const QString& dirName);
    void loadTableFile(const QString& dirName, const QString& fileName);
    void execCreateDataFromFiles(const QString& dataDirName, const QString& blobDirName, bool force);
    void loadDataFile(QFile& file, const QString& blobDirName);
    void insertBindingBlobs(QFile& file, int blobFieldIndex, const QString& blobDirName);
    void dataInsertFailed(const QString& tableName, const QString& error);
    void linkForeignTables();
    bool connectionMissing(const char* operation);
    qint64 countRows(const QString& tableName, const QString& condition);
    QStringList systemTableRow(const QString& tableName);
    void storeMainStatistics(int row);
    void forgetDefinitions();
    void prepareConnection(const QString& connectionName, const QString& driver);
    void createParser(const QString& driver, const QString& dbMapDirectoryName);
    void connectionFailed(const QString& messageFormat, const QString& dbName);
    void setStatus(bool status);
    void applyStatementMode();
    void applySessionLimits();
    void* mysqlHandle() const;
    QSqlQuery execute(const QString& sql);
    std::unique_ptr<KTRawRows> executeRaw(const QString& sql, QString* error);
    QSqlQuery executeEach(const QString& sql);
    QSqlQuery executeAll(const QString& sql);
    bool startRequest(QSqlQuery* failure = nullptr);
    bool setSessionReadOnly(bool readOnly);
    void reportRecovery();
    bool inUnitOfWork() const { return _inTransaction || _holdsLocks || _readOnlyRequest; }
    void passOnModifiers(const QString& tableName, const QList<int>& modifiers);
    void noteFailure(const QSqlError& error);

    KTDatabaseParser* _mainParser = nullptr;
    bool _allDataLoaded = true;
    bool _allTablesCreated = true;
    bool _allTablesLoaded = false;
    bool _connectionStatus = false;
    bool _connectionLost = false;
    bool _inTransaction = false;
    bool _holdsLocks = false;
    // What SET SESSION TRANSACTION last made of this session's access mode.
    bool _sessionReadOnly = false;
    // A read-only request is under way: its statements fail on a lost
    // connection rather than run on a fresh, read-write session.
    bool _readOnlyRequest = false;
    // A failed end of a request may have left a transaction open, tables
    // locked or autocommit off; the next request's start puts that right.
    bool _sessionUnclean = false;
    bool _reportsConnectionLoss = true;
    bool _multipleStatements = true;
    int _statementSeconds = 0;
    int _lockWaitSeconds = 0;
    int _lastErrorCode = 0;
    bool _createsDatabase = true;
    bool _status = false;
    // True when the definitions were read by this controller, which then owns
    // them; a map received from the main controller is only borrowed.
    bool _ownsDefinitions = false;
    QMap<QString, KTDbTable*> _dbDefinitionMap;
    // Definitions replaced by a reconnection: connections that started
    // earlier may still read them, so they live as long as the controller.
    QList<KTDbTable*> _retiredDefinitions;
    QSqlDatabase _dbConnection;
    KTTableRecordDataModel* _tableRecordDataModel = nullptr;
    QString _adminLogin;
    QString _adminPassword;
    QDate _adminKeyRenewedOn;
    QString _lastConnectionError;
    QStringList _dbParameters;
};

#endif
