#include "KTTestDatabase.h"
#include "KTTestEvents.h"
#include "KTTestDefinitions.h"

#include <KTDatabaseController.h>
#include <KTKeyHash.h>
#include <KTDbTable.h>

#include <QSignalSpy>
#include <QSqlError>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_schema");

} // namespace

// Definitions, table creation, data files, system tables, administrator and
// company, each on a database created afresh for the test.
class tst_SchemaAndData : public QObject
{
    Q_OBJECT

    std::unique_ptr<KTDatabaseController> _controller;
    std::unique_ptr<QTemporaryDir> _dir;

    QString tablesDir() const { return _dir->filePath("Tables"); }
    QString dataDir() const { return _dir->filePath("Data"); }
    QString blobsDir() const { return _dir->filePath("Blobs"); }

    qint64 count(const QString& sql)
    {
        QSqlQuery query = _controller->customQuery(sql);
        return query.next() ? query.value(0).toLongLong() : -1;
    }

    QStringList column(const QString& sql)
    {
        QStringList values;
        QSqlQuery query = _controller->customQuery(sql);
        while (query.next())
            values << query.value(0).toString();
        return values;
    }

    // Loads, creates and fills the schema written to the test's folders.
    bool buildSchema()
    {
        if (!_controller->loadTablesFromFiles(tablesDir()))
            return false;
        _controller->createTables(false);
        _controller->createDataFromFiles(dataDir(), blobsDir(), false);
        return _controller->allTablesCreated() && _controller->allDataLoaded();
    }

private Q_SLOTS:
    void initTestCase() { KT_REQUIRE_DATABASE(); }

    void init()
    {
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
        _dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(blobsDir());
        _controller = std::make_unique<KTDatabaseController>();
        QVERIFY(_controller->establishConnection(KTTestDatabase::controllerParameters("schema", dbName)));
    }

    void cleanup()
    {
        _controller->closeConnection("schema");
        _controller.reset();
    }

    void definitionsLoadFromSubdirectoriesAndLinkForeignTables()
    {
        KTTestDefinitions::write(tablesDir() + "/a/accGroup.otd", KTTestDefinitions::groupTable());
        KTTestDefinitions::write(tablesDir() + "/b/invCategory.otd",
                                 KTTestDefinitions::table("Antigua", {{"pkyCategory", "BIGINT", "UNSIGNED", ""}}));
        KTTestDefinitions::write(tablesDir() + "/invCategory.otd",
                                 KTTestDefinitions::table("Nueva", {{"pkyCategory", "BIGINT", "UNSIGNED", ""}}));
        KTTestDefinitions::write(tablesDir() + "/b/invProduct.otd",
                                 KTTestDefinitions::table("Productos", {{"pkyProduct", "BIGINT", "UNSIGNED", ""},
                                                                        {"codCategory", "BIGINT", "UNSIGNED", ""}},
                                                          {{"codCategory", "invCategory"}}));
        KTTestDefinitions::write(tablesDir() + "/notes.txt", "not a definition");

        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QSignalSpy status(_controller.get(), &KTDatabaseController::dbStatusChanged);
        QVERIFY(_controller->loadTablesFromFiles(tablesDir()));
        const QMap<QString, KTDbTable*> map = _controller->dbDefinitionMap();
        QCOMPARE(map.keys(), QStringList({"accGroup", "invCategory", "invProduct"}));
        QCOMPARE(map.value("invCategory")->_alias, QStringLiteral("Nueva"));
        QCOMPARE(map.value("invProduct")->_tableForeignKeys.first().foreignTable, map.value("invCategory"));
        QCOMPARE(eventTexts(events), QStringList{"Todas las tablas se cargaron exitosamente"});
        QCOMPARE(status.last().first().toBool(), true);
        QVERIFY(_controller->allTablesLoaded());
    }

    void missingDefinitionsDirectoryLoadsNothing()
    {
        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QVERIFY(_controller->loadTablesFromFiles(_dir->filePath("nowhere")));
        QCOMPARE(eventTexts(events), QStringList({"No existe directorio : '" + _dir->filePath("nowhere") + "'",
                                                  "Todas las tablas se cargaron exitosamente"}));
        QVERIFY(_controller->dbDefinitionMap().isEmpty());
    }

    void aFailedDefinitionStopsTableCreation()
    {
        KTTestDefinitions::write(tablesDir() + "/accGroup.otd", KTTestDefinitions::groupTable());
        KTTestDefinitions::write(tablesDir() + "/invBroken.otd", "<Table><TableAlias>x</TableAlias></Table>");
        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QSignalSpy failed(_controller.get(), &KTDatabaseController::errorLoadingTable);
        QVERIFY(!_controller->loadTablesFromFiles(tablesDir()));
        QCOMPARE(failed.size(), 1);
        QVERIFY(eventTexts(events).contains(
            "No se pudo cargar una o mas tablas. El sistema no funcionará correctamente hasta que se corrija el error"));
        QVERIFY(_controller->dbDefinitionMap().contains("invBroken"));
        QCOMPARE(_controller->dbDefinitionMap().value("invBroken"), nullptr);

        events.clear();
        _controller->createTables(false);
        QVERIFY(!_controller->allTablesCreated());
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().at(1).toInt(), 2);
        QCOMPARE(count("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = '" + dbName + "'"), 0);

        // Mended and loaded again without reconnecting: nothing of the failed load is left.
        QVERIFY(QFile::remove(tablesDir() + "/invBroken.otd"));
        QVERIFY(_controller->loadTablesFromFiles(tablesDir()));
        QCOMPARE(_controller->dbDefinitionMap().keys(), QStringList{"accGroup"});
        _controller->createTables(false);
        QVERIFY(_controller->allTablesCreated());
    }

    void schemaIsCreatedAndFilledOnceWhateverTheRunCount()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QVERIFY2(buildSchema(), qPrintable(eventTexts(events).join('\n')));
        QVERIFY(eventTexts(events).contains("Todas las tablas se crearon exitosamente"));
        QVERIFY(eventTexts(events).contains("Todos los datos de las tablas se cargaron exitosamente"));
        QCOMPARE(column("SELECT fldName FROM invProduct ORDER BY pkyProduct"),
                 QStringList({"Café molido", "Pan de molde", "Agua mineral"}));
        QCOMPARE(count("SELECT COUNT(*) FROM invProduct T0 JOIN invCategory T1 ON T0.codCategory = T1.pkyCategory"),
                 3);

        QVERIFY(buildSchema());
        QCOMPARE(count("SELECT COUNT(*) FROM invProduct"), 3);
        QCOMPARE(count("SELECT COUNT(*) FROM accGroup"), 2);
    }

    void aTableHoldingRowsIsNotFilledAgain()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        QVERIFY(_controller->loadTablesFromFiles(tablesDir()));
        _controller->createTables(false);
        QVERIFY(_controller->customQuery("SET FOREIGN_KEY_CHECKS = 0; INSERT INTO invCategory VALUES (7, 'Propia', 1, 0, 1, 2, 0, 1); "
                                         "SET FOREIGN_KEY_CHECKS = 1;").isActive());
        _controller->createDataFromFiles(dataDir(), blobsDir(), false);
        QCOMPARE(column("SELECT fldName FROM invCategory"), QStringList{"Propia"});
    }

    void aBlankLineEndsADataFile()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        KTTestDefinitions::writeLines(dataDir() + "/invCategory.odd",
                                      {"NULL|'Uno'|1|0|1|2|0|1", "  NULL|'Dos'|1|0|1|2|0|1  ", "   ",
                                       "NULL|'Tres'|1|0|1|2|0|1"});
        QVERIFY(buildSchema());
        QCOMPARE(column("SELECT fldName FROM invCategory ORDER BY pkyCategory"), QStringList({"Uno", "Dos"}));
    }

    void blobRowsInsertInFileOrderAndAMissingFileFailsOnlyItsRow()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        KTTestDefinitions::write(tablesDir() + "/srvBlob.otd",
                                 KTTestDefinitions::table("Binarios", {{"pkyBlob", "BIGINT", "UNSIGNED", ""},
                                                                       {"fldName", "VARCHAR", "60", ""},
                                                                       {"binContents", "MEDIUMBLOB", "", ""}}));
        KTTestDefinitions::writeLines(dataDir() + "/srvBlob.odd",
                                      {"NULL|Logo O'Brien|logo.bin|1|0|1|2|0|1", "NULL|Falta|missing.bin|1|0|1|2|0|1",
                                       "NULL|Icono|icon.bin|1|0|1|2|0|1"});
        const QByteArray logo("\x89PNG\r\n\x1a\n\0\xff", 10);
        QFile logoFile(blobsDir() + "/logo.bin");
        QVERIFY(logoFile.open(QIODevice::WriteOnly));
        logoFile.write(logo);
        logoFile.close();
        KTTestDefinitions::write(blobsDir() + "/icon.bin", "icono");

        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QVERIFY(!buildSchema());
        const QStringList messages = eventTexts(events);
        QVERIFY(messages.contains("No se pudo abrir archivo : '" + blobsDir() + "/missing.bin'"));
        QVERIFY(messages.filter("No se pudo insertar datos en la tabla : 'srvBlob'").size() == 1);
        QVERIFY(messages.contains("No se pudo cargar datos de una o mas tablas. El sistema no funcionará "
                                  "correctamente hasta que se corrija el error"));

        QSqlQuery rows = _controller->customQuery("SELECT fldName, binContents FROM srvBlob ORDER BY pkyBlob");
        QVERIFY(rows.next());
        QCOMPARE(rows.value(0).toString(), QStringLiteral("Logo O'Brien"));
        QCOMPARE(rows.value(1).toByteArray(), logo);
        QVERIFY(rows.next());
        QCOMPARE(rows.value(0).toString(), QStringLiteral("Icono"));
        QVERIFY(!rows.next());
    }

    void aDataFileWithoutDefinitionIsSkipped()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        KTTestDefinitions::writeLines(dataDir() + "/invUnknown.odd", {"NULL|'x'|1|0|1|2|0|1"});
        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QVERIFY(buildSchema());
        bool warned = false;
        for (const QList<QVariant>& event : events)
            warned |= event.at(1).toInt() == 2 && event.at(0).toString().contains("'invUnknown'");
        QVERIFY(warned);
    }

    void everyStepReportsAClosedConnection()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        _controller->closeConnection("schema");
        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QVERIFY(!_controller->loadTablesFromFiles(tablesDir()));
        _controller->createTables(false);
        _controller->createDataFromFiles(dataDir(), blobsDir(), false);
        _controller->fillSystemTables();
        QCOMPARE(eventTexts(events), QStringList(4, "No existe conexión a ninguna base de datos"));
        QVERIFY(!_controller->allTablesCreated());
    }

    void systemTableCountsMatchTheTables()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        QVERIFY(buildSchema());
        // All products editable by the super user only.
        QVERIFY(_controller->customQuery("UPDATE invProduct SET sysEditable = 0").isActive());
        _controller->fillSystemTables();
        _controller->fillSystemTables();

        const QStringList tables = _controller->dbDefinitionMap().keys();
        QCOMPARE(count("SELECT COUNT(*) FROM dbaTableRecordData"), tables.size());
        for (const QString& table : tables) {
            if (table == "dbaTableRecordData")
                continue;
            QSqlQuery row = _controller->customQuery(
                "SELECT * FROM dbaTableRecordData WHERE fldTableName = '" + table + "'");
            QVERIFY2(row.next(), qPrintable(table));
            const qint64 total = count("SELECT COUNT(*) FROM " + table);
            const auto where = [&](const QString& condition) {
                return count("SELECT COUNT(*) FROM " + table + " WHERE " + condition);
            };
            QCOMPARE(row.value(4).toLongLong(), total - where("sysEnabled = 0"));
            QCOMPARE(row.value(5).toLongLong(), where("sysEnabled = 0"));
            QCOMPARE(row.value(7).toLongLong(), where("sysAuthorized = 0"));
            QCOMPARE(row.value(8).toLongLong(), where("sysEditable = 2"));
            QCOMPARE(row.value(10).toLongLong(), total - where("sysEditable = 2") - where("sysEditable = 1"));
            QCOMPARE(row.value(11).toLongLong(), where("sysVisible = 2"));
            QCOMPARE(row.value(13).toLongLong(), total - where("sysVisible = 2") - where("sysVisible = 1"));
            QCOMPARE(row.value(14).toLongLong(), total);
            QCOMPARE(row.value(15).toLongLong(), total);
            QCOMPARE(row.value(18).toString(), _controller->dbDefinitionMap().value(table)->_description);
        }
        QSqlQuery products = _controller->customQuery(
            "SELECT fldNormalUserAccessRecords, fldAdminUserAccessRecords, fldSuperUserAccessRecords, "
            "fldEnabledRecords, fldDisabledRecords FROM dbaTableRecordData WHERE fldTableName = 'invProduct'");
        QVERIFY(products.next());
        QCOMPARE(products.value(0).toInt(), 0);
        QCOMPARE(products.value(1).toInt(), 0);
        QCOMPARE(products.value(2).toInt(), 3);
        QCOMPARE(products.value(3).toInt(), 2);
        QCOMPARE(products.value(4).toInt(), 1);
        QSqlQuery own = _controller->customQuery(
            "SELECT fldTotalRecords FROM dbaTableRecordData WHERE fldTableName = 'dbaTableRecordData'");
        QVERIFY(own.next());
        QCOMPARE(own.value(0).toInt(), tables.size());
    }

    void adminUserIsWrittenUnlessTheLoginIsEmpty()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        QVERIFY(buildSchema());
        _controller->setAdminUser("", "nada", "9.9.9");
        QCOMPARE(column("SELECT fldLogin FROM accUser WHERE pkyUser = 2"), QStringList{"admin"});
        QCOMPARE(column("SELECT fldAlternativeKey FROM agnCompany WHERE pkyCompany = 1"), QStringList{""});

        _controller->setAdminUser("jefe'", "se'creto\\", "2.8.1");
        QCOMPARE(column("SELECT fldLogin FROM accUser WHERE pkyUser = 2"), QStringList{"jefe'"});
        QCOMPARE(column("SELECT fldLogin FROM accUser WHERE pkyUser = 1"), QStringList{"sistema"});
        QCOMPARE(column("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2 AND codType = 1"),
                 QStringList{"se'creto\\"});
        QCOMPARE(column("SELECT fldExpirationDate FROM accUserIdentifier WHERE codUser = 2"),
                 QStringList{QDate::currentDate().addMonths(3).toString("yyyy-MM-dd")});
        QCOMPARE(column("SELECT fldName FROM accGroup WHERE pkyGroup = 2"), QStringList{"jefe'"});
        QCOMPARE(column("SELECT fldAlternativeKey FROM agnCompany WHERE pkyCompany = 1"), QStringList{"2.8.1"});

        // A key the database keeps hashed is never written back plain.
        const QString hashed = KTKeyHash::hash("se'creto\\", 1000);
        QVERIFY(_controller->customQuery("UPDATE accUserIdentifier SET fldKey = '" + hashed + "' WHERE codUser = 2")
                    .isActive());
        _controller->setAdminUser("jefe'", "se'creto\\", "2.8.1");
        QCOMPARE(column("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2"), QStringList{hashed});
        _controller->setAdminUser("jefe'", "nueva", "2.8.1");
        const QString renewed = column("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2").value(0);
        QVERIFY(KTKeyHash::isHashed(renewed));
        QVERIFY(KTKeyHash::matches("nueva", renewed));
        QVERIFY(!KTKeyHash::matches("se'creto\\", renewed));
    }

    // A server that runs for 100 days without a restart: the key its start-up
    // set is renewed each day and never lapses; the key itself is not touched.
    void theAdministratorsKeyOutlivesAHundredDaysOfUptime()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        QVERIFY(buildSchema());
        const QString expiry = "SELECT fldExpirationDate FROM accUserIdentifier WHERE codUser = 2 AND codType = 1";
        _controller->renewAdminKey(QDate::currentDate().addDays(5));
        QCOMPARE(column(expiry), QStringList{"2020-01-01"}); // no administrator set yet: nothing to renew

        _controller->setAdminUser("jefe", "clave", "2.8.1");
        const QDate started = QDate::currentDate();
        for (int day = 1; day <= 100; ++day) {
            const QDate today = started.addDays(day);
            _controller->renewAdminKey(today);
            QVERIFY2(QDate::fromString(column(expiry).value(0), "yyyy-MM-dd") > today, qPrintable(today.toString()));
        }
        QCOMPARE(column(expiry), QStringList{started.addDays(100).addMonths(3).toString("yyyy-MM-dd")});
        QCOMPARE(column("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2 AND codType = 1"),
                 QStringList{"clave"});

        // Once a day at most: a renewal the same day writes nothing again.
        QVERIFY(_controller->customQuery("UPDATE accUserIdentifier SET fldExpirationDate = '2000-01-01' "
                                         "WHERE codUser = 2").isActive());
        _controller->renewAdminKey(started.addDays(100));
        QCOMPARE(column(expiry), QStringList{"2000-01-01"});
    }

    void companyKeepsADescriptionThatIsNotBlank()
    {
        KTTestDefinitions::writeSchema(tablesDir(), dataDir());
        QVERIFY(buildSchema());
        _controller->setCompany("O'Brien & Hijos", "900.123-4");
        QCOMPARE(column("SELECT CONCAT_WS('|', fldName, fldNIT, txtDescription) FROM agnCompany WHERE pkyCompany = 2"),
                 QStringList{"O'Brien & Hijos|900.123-4|O'Brien & Hijos"});
        _controller->setCompany("Otra", "1");
        QCOMPARE(column("SELECT CONCAT_WS('|', fldName, fldNIT, txtDescription) FROM agnCompany WHERE pkyCompany = 2"),
                 QStringList{"Otra|1|O'Brien & Hijos"});
        QCOMPARE(column("SELECT fldName FROM agnCompany WHERE pkyCompany = 1"), QStringList{"Ombrix"});
    }
};

QTEST_GUILESS_MAIN(tst_SchemaAndData)
#include "tst_schemaanddata.moc"
