#include "KTTestDatabase.h"

#include <KTDatabaseController.h>
#include <KTDbTable.h>

#include <QSignalSpy>
#include <QSqlError>
#include <QSqlRecord>
#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_installation");
const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");

QStringList errorsOf(const QSignalSpy& spy)
{
    QStringList messages;
    for (const QList<QVariant>& event : spy)
        if (event.at(1).toInt() <= 2)
            messages << event.at(0).toString();
    return messages;
}

} // namespace

// The installation's own definitions and data, as the build stages them,
// brought up on an empty database the way the control panel does it.
class tst_InstallationData : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;

    qint64 count(const QString& sql)
    {
        QSqlQuery query = _controller->customQuery(sql);
        return query.next() ? query.value(0).toLongLong() : -1;
    }

    void update()
    {
        _controller->createTables(false);
        QVERIFY(_controller->allTablesCreated());
        _controller->createDataFromFiles(appDir + "/OmbrixDbData/Data", appDir + "/OmbrixDbData/Blobs", false);
        QVERIFY(_controller->allDataLoaded());
        _controller->fillSystemTables();
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
        _controller = new KTDatabaseController(this);
        QVERIFY(_controller->establishConnection(KTTestDatabase::controllerParameters("installation", dbName)));
    }

    void cleanupTestCase()
    {
        if (_controller)
            _controller->closeConnection("installation");
    }

    void everyDefinitionLoads()
    {
        QSignalSpy events(_controller, &KTDatabaseController::eventMessage);
        QVERIFY2(_controller->loadTablesFromFiles(appDir + "/OmbrixDbData/Tables"), qPrintable(errorsOf(events).join('\n')));
        const QMap<QString, KTDbTable*> map = _controller->dbDefinitionMap();
        for (const char* table : {"accUser", "accUserIdentifier", "accGroup", "accAccessComponent", "accAuthorization",
                                  "accAuthorizationDetail", "accAuthorizationDetailUser", "agnCompany", "srvBlob",
                                  "srvComponent", "srvTaskScheduler", "srvUserTask", "srvTaskRun", "srvReleaseRun", "comMessage",
                                  "comMessageUser",
                                  "dbaUserLog", "dbaTableRecordData"})
            QVERIFY2(map.value(table), table);
    }

    void everyReferenceColumnHasAResolvedForeignKey()
    {
        for (KTDbTable* table : _controller->dbDefinitionMap()) {
            for (const QString& field : table->fields()) {
                if (!field.startsWith("cod") && !field.startsWith("blb"))
                    continue;
                const auto key = std::find_if(table->_tableForeignKeys.cbegin(), table->_tableForeignKeys.cend(),
                                              [&](const _ForeignKey& k) { return k.field->name == field; });
                QVERIFY2(key != table->_tableForeignKeys.cend(), qPrintable(table->_tableName + "." + field));
                QVERIFY2(key->foreignTable, qPrintable(table->_tableName + "." + field + " -> " + key->foreignTableName));
            }
        }
    }

    void freshDatabaseIsCreatedAndSeeded()
    {
        QSignalSpy events(_controller, &KTDatabaseController::eventMessage);
        update();
        QVERIFY2(errorsOf(events).isEmpty(), qPrintable(errorsOf(events).join('\n')));
        QCOMPARE(count("SELECT COUNT(*) FROM accUser WHERE pkyUser = 2"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM accUserIdentifier WHERE codUser = 2 AND codType = 1"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM accGroup WHERE pkyGroup = 2"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM agnCompany WHERE pkyCompany IN (1, 2)"), 2);
    }

    void seedDataKeepsEveryForeignKey()
    {
        // Data files load with the checks off; re-checking every reference catches a broken seed.
        for (KTDbTable* table : _controller->dbDefinitionMap()) {
            for (const _ForeignKey& key : table->_tableForeignKeys) {
                const QString sql = QStringLiteral("SELECT COUNT(*) FROM %1 T0 LEFT JOIN %2 T1 ON T0.%3 = T1.%4 "
                                                   "WHERE T0.%3 IS NOT NULL AND T1.%4 IS NULL")
                                        .arg(table->_tableName, key.foreignTableName, key.field->name,
                                             key.foreignTable->_primaryKey.keyField->name);
                QVERIFY2(count(sql) == 0, qPrintable(sql));
            }
        }
    }

    void resolvedSelectsRunOnEveryTable()
    {
        for (KTDbTable* table : _controller->dbDefinitionMap()) {
            QSqlQuery query = _controller->selectResolveKeys(table->_tableName, table->fields(), "", "", "", "1");
            QVERIFY2(query.isActive(), qPrintable(table->_tableName + ": " + query.lastError().text()));
        }
    }

    void systemTableCountsEveryTable()
    {
        const QMap<QString, KTDbTable*> map = _controller->dbDefinitionMap();
        QCOMPARE(count("SELECT COUNT(*) FROM dbaTableRecordData"), map.size());
        for (const QString& table : map.keys()) {
            if (table == "dbaTableRecordData")
                continue;
            QSqlQuery stored = _controller->select("dbaTableRecordData", map.value("dbaTableRecordData")->fields(),
                                                   QStringLiteral("%1 = '%2'").arg(
                                                       map.value("dbaTableRecordData")->fields().at(1), table),
                                                   "", "", "");
            QVERIFY2(stored.next(), qPrintable(table));
            QCOMPARE(stored.value(14).toLongLong(), count("SELECT COUNT(*) FROM " + table));
            QCOMPARE(stored.value(5).toLongLong(), count("SELECT COUNT(*) FROM " + table + " WHERE sysEnabled = 0"));
            QCOMPARE(stored.value(11).toLongLong(), count("SELECT COUNT(*) FROM " + table + " WHERE sysVisible = 2"));
        }
    }

    void aSecondRunChangesNothing()
    {
        QMap<QString, qint64> before;
        for (const QString& table : _controller->dbDefinitionMap().keys())
            before[table] = count("SELECT COUNT(*) FROM " + table);
        update();
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(count("SELECT COUNT(*) FROM " + it.key()), it.value());
    }
};

QTEST_GUILESS_MAIN(tst_InstallationData)
#include "tst_installationdata.moc"
