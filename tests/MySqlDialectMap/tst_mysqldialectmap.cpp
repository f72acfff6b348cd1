#include "KTTestDatabase.h"

#include <KTDatabaseMap.h>
#include <KTDbTable.h>
#include <KTPluginLoader.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_dialect");

// name:type[:modifier] with an optional default after "=", a trailing "?" making the field nullable.
_TableField field(QString text)
{
    _TableField f;
    f.canBeNull = text.endsWith(QLatin1Char('?'));
    text.remove(QLatin1Char('?'));
    f.defaultValue = text.section(QLatin1Char('='), 1);
    const QStringList parts = text.section(QLatin1Char('='), 0, 0).split(QLatin1Char(':'));
    f.name = parts.value(0);
    f.type = parts.value(1);
    f.typeModifier = parts.value(2);
    return f;
}

std::unique_ptr<KTDbTable> table(const QString& name, const QStringList& fields, int keyIndex = 0)
{
    auto t = std::make_unique<KTDbTable>();
    t->_tableName = name;
    for (const QString& f : fields)
        t->_tableFields.push_back(field(f));
    t->_primaryKey = {true, &t->_tableFields.at(keyIndex)};
    return t;
}

void addForeignKey(KTDbTable* from, const QString& fieldName, KTDbTable* to, const QString& name)
{
    from->_tableForeignKeys << _ForeignKey{to, to ? to->_tableName : QString(), name, QStringLiteral("RESTRICT"),
                                           QStringLiteral("CASCADE"), from->dbField(fieldName)};
}

void addIndex(KTDbTable* t, const QString& name, bool unique, const QString& first, const QString& second = QString())
{
    t->_tableIndexes << _TableIndex{unique, name, t->dbField(first), second.isEmpty() ? nullptr : t->dbField(second)};
}

} // namespace

class tst_MySqlDialectMap : public QObject
{
    Q_OBJECT

    KTDatabaseMap* _map = nullptr;
    std::unique_ptr<KTDbTable> _groups = table("accGroup", {"pkyGroup:MEDIUMINT:UNSIGNED", "fldName:VARCHAR:40"});
    std::unique_ptr<KTDbTable> _categories =
        table("invCategory", {"pkyCategory:BIGINT:UNSIGNED", "fldName:VARCHAR:60", "fldCode:VARCHAR:8"});
    std::unique_ptr<KTDbTable> _products =
        table("invProduct", {"pkyProduct:BIGINT:UNSIGNED", "fldName:VARCHAR:60", "codGroup:MEDIUMINT:UNSIGNED",
                             "codCategory:BIGINT:UNSIGNED=NULL?", "parCategory:BIGINT:UNSIGNED?", "fldPrice:DECIMAL:10,2=0"});

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        _map = KTPluginLoader::load<KTDatabaseMap>(KTTestDatabase::mapsDirectory() + "/libMySqlDialectMap.so", &error);
        QVERIFY2(_map, qPrintable(error));
        QCOMPARE(_map->name(), QStringLiteral("MySqlDialectMap"));
        QCOMPARE(_map->label(), QStringLiteral("Mapa Mysql"));
        _groups->_browseField = "fldName";
        _categories->_browseField = "fldCode + ' - ' + fldName";
        _categories->_labelField = "fldName";
        addForeignKey(_products.get(), "codGroup", _groups.get(), "fkProductGroup");
        addForeignKey(_products.get(), "codCategory", _categories.get(), "fkProductCategory");
        addForeignKey(_products.get(), "parCategory", _categories.get(), "fkProductParCategory");
        addIndex(_products.get(), "idxProductName", false, "fldName");
        cleanup();
    }

    // Tests that install tables of their own get the shared definitions back, even when they fail.
    void cleanup()
    {
        _map->setDbDefinitionMap({{"accGroup", _groups.get()}, {"invCategory", _categories.get()},
                                  {"invProduct", _products.get()}});
    }

    void fieldTypes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("modifier");
        QTest::addColumn<QString>("sql");
        QTest::newRow("unsigned") << "BIGINT" << "UNSIGNED" << "BIGINT UNSIGNED";
        QTest::newRow("lower-case unsigned stays signed") << "INTEGER" << "unsigned" << "INTEGER";
        QTest::newRow("bool ignores modifier") << "BOOL" << "UNSIGNED" << "BOOL";
        QTest::newRow("udecimal as decimal") << "UDECIMAL" << "5,2" << "DECIMAL(5,2)";
        QTest::newRow("decimal empty") << "DECIMAL" << "" << "DECIMAL(1,0)";
        QTest::newRow("decimal bad parts") << "DECIMAL" << "x,y" << "DECIMAL(1,0)";
        QTest::newRow("decimal no scale") << "DECIMAL" << "7" << "DECIMAL(7,0)";
        QTest::newRow("varchar") << "VARCHAR" << "40" << "VARCHAR(40)";
        QTest::newRow("varchar non-numeric") << "VARCHAR" << "long" << "VARCHAR(1)";
        QTest::newRow("varchar negative") << "VARCHAR" << "-5" << "VARCHAR(1)";
        QTest::newRow("decimal signed parts") << "DECIMAL" << "+8,-2" << "DECIMAL(8,0)";
        QTest::newRow("words are case-sensitive") << "varchar" << "10" << "";
    }

    void fieldTypes()
    {
        QFETCH(QString, type);
        QFETCH(QString, modifier);
        QFETCH(QString, sql);
        QCOMPARE(_map->fieldType(type, modifier), sql);
    }

    void statementTexts_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& sql, const QString& expected) {
            QTest::newRow(name) << sql << expected;
        };
        row("no rows", _map->insertRecords("t", {}, {"a"}), "");
        row("two rows", _map->insertRecords("t", {{"1", "'x'"}, {"NULL", "'y'"}}, {"a", "b"}),
            "INSERT INTO t (a, b) VALUES (1, 'x'), \n(NULL, 'y');");
        row("no field list", _map->insertRecords("t", {{"1"}}, {}), "INSERT INTO t VALUES (1);");
        row("update skips key", _map->updateRecords("t", {"1", "'x'", "2"}, {"a", "b", "c"}, "a = 1"),
            "UPDATE t SET b = 'x', c = 2 WHERE a = 1 ;");
        row("key-only update", _map->updateRecords("t", {"1"}, {"a"}, ""), "UPDATE t SET ;");
        row("key-only update with condition", _map->updateRecords("t", {"1"}, {"a"}, "a = 1"),
            "UPDATE t SET  WHERE a = 1 ;");
        row("mismatched update", _map->updateRecords("t", {"1", "2"}, {"a"}, ""), "");
        row("select without table", _map->select("", {_map->count()}, "", "", "", ""), "SELECT COUNT(*);");
        row("clause order", _map->select("t", {"a", "b"}, "a > 1", "b", "a DESC", "10,5"),
            "SELECT a, b FROM t WHERE a > 1 GROUP BY b ORDER BY a DESC LIMIT 10,5;");
        row("multi", _map->selectMulti({"accUser T1", "accGroup T2"}, {"T1.a"}, "T1.g = T2.k", "", "", "1"),
            "SELECT T1.a FROM accUser T1, accGroup T2 WHERE T1.g = T2.k LIMIT 1;");
        row("lock", _map->lock({"accUser", "accGroup"}, {"U"}, {"WRITE", "READ"}),
            "SET autocommit=0;\nLOCK TABLES  accUser AS U WRITE, accGroup READ;");
        row("lock without modes", _map->lock({"accUser"}, {}, {}), "SET autocommit=0;\nLOCK TABLES  accUser ;");
        row("empty alias locks by name", _map->lock({"accUser", "accUser"}, {"", "T0"}, {"WRITE", "READ"}),
            "SET autocommit=0;\nLOCK TABLES  accUser WRITE, accUser AS T0 READ;");
        row("second key is T2, par left alone, literals kept",
            _map->selectResolveKeys("invProduct", {"pkyProduct", "codCategory", "parCategory"}, "T0.fldPrice > 1", "",
                                    "T0.fldName", "", false),
            "SELECT T0.pkyProduct, T0.codCategory, CONCAT_WS('',T2.fldCode,' - ',T2.fldName), T0.parCategory FROM "
            "invProduct T0 LEFT JOIN invCategory T2 ON T0.codCategory = T2.pkyCategory WHERE (T0.fldPrice > 1) "
            "ORDER BY T0.fldName;");
        row("label field", _map->selectResolveKeys("invProduct", {"codCategory"}, "", "", "", "", true),
            "SELECT T0.codCategory, CONCAT_WS('',T2.fldName) FROM invProduct T0 "
            "LEFT JOIN invCategory T2 ON T0.codCategory = T2.pkyCategory;");
        row("no foreign keys", _map->selectResolveKeys("invCategory", {"pkyCategory"}, "", "", "", "", false),
            "SELECT T0.pkyCategory FROM invCategory T0;");
        row("unknown table", _map->selectResolveKeys("invUnknown", {"a"}, "", "", "", "2", false),
            "SELECT T0.a FROM invUnknown T0 LIMIT 2;");
    }

    void statementTexts()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(sql, expected);
    }

    void unresolvableReferencesAreSkipped()
    {
        auto orphan = table("invOrphan", {"pkyOrphan:BIGINT", "codNothing:BIGINT", "codBare:BIGINT"});
        addForeignKey(orphan.get(), "codNothing", nullptr, "fkOrphanNothing");
        auto bare = table("invBare", {"pkyBare:BIGINT"});
        bare->_browseField = " + ";
        addForeignKey(orphan.get(), "codBare", bare.get(), "fkOrphanBare");
        addForeignKey(orphan.get(), "missingField", bare.get(), "fkOrphanMissing");
        addIndex(orphan.get(), "idxMissing", false, "missingField");
        _map->setDbDefinitionMap({{"invOrphan", orphan.get()}});

        // A key to a table that was not loaded, and a label of no parts, still
        // give one label column each, so the callers' column count holds.
        QCOMPARE(_map->selectResolveKeys("invOrphan", {"codNothing", "codBare"}, "", "", "", "", false),
                 QStringLiteral("SELECT T0.codNothing, CONCAT_WS('',''), T0.codBare, CONCAT_WS('','') FROM invOrphan T0 "
                                "LEFT JOIN invBare T2 ON T0.codBare = T2.pkyBare;"));
        bare->_browseField = "fldA + ' + ' + fldB";
        QCOMPARE(_map->selectResolveKeys("invOrphan", {"codBare"}, "", "", "", "", false),
                 QStringLiteral("SELECT T0.codBare, CONCAT_WS('',T2.fldA,' + ',T2.fldB) FROM invOrphan T0 "
                                "LEFT JOIN invBare T2 ON T0.codBare = T2.pkyBare;"));
        const QString created = _map->createTable(orphan.get());
        QVERIFY(created.contains("fkOrphanBare"));
        QVERIFY(!created.contains("fkOrphanNothing") && !created.contains("fkOrphanMissing"));
        QVERIFY(!created.contains("idxMissing"));
        QCOMPARE(_map->createTable(nullptr), QString());
        orphan->_primaryKey.keyField = nullptr;
        QVERIFY(_map->createTable(orphan.get()).startsWith("CREATE TABLE IF NOT EXISTS invOrphan"));
    }

    void createTableText()
    {
        // The key is not the first field: AUTO_INCREMENT still goes to the first one.
        auto t = table("accNote", {"fldOrder:INTEGER", "pkyNote:BIGINT:UNSIGNED", "fldText:VARCHAR:20='x'?"}, 1);
        addIndex(t.get(), "idxNoteText", true, "fldText", "fldOrder");
        addIndex(t.get(), "idxNoteOrder", false, "fldOrder");
        addForeignKey(t.get(), "fldOrder", _categories.get(), "fkNoteOrder");
        QCOMPARE(_map->createTable(t.get()),
                 QStringLiteral(
                     "CREATE TABLE IF NOT EXISTS accNote (fldOrder INTEGER AUTO_INCREMENT NOT NULL , "
                     "pkyNote BIGINT UNSIGNED NOT NULL , fldText VARCHAR(20)  DEFAULT 'x', "
                     "sysEnabled BOOL NOT NULL DEFAULT 1, sysEditable TINYINT UNSIGNED NOT NULL DEFAULT 2, "
                     "sysAuthorized BOOL NOT NULL DEFAULT 1, sysVisible TINYINT UNSIGNED NOT NULL DEFAULT 2, "
                     "sysContext TINYINT UNSIGNED NOT NULL DEFAULT 0, "
                     "sysAuthorizationGroup MEDIUMINT UNSIGNED NOT NULL DEFAULT 1, PRIMARY KEY (pkyNote), "
                     "UNIQUE INDEX idxNoteText (fldText,fldOrder), INDEX idxNoteOrder (fldOrder), "
                     "INDEX fksNoteContext(sysContext) , CONSTRAINT fksNoteGroup  FOREIGN KEY "
                     "(`sysAuthorizationGroup`) REFERENCES `accGroup` (`pkyGroup`), CONSTRAINT fkNoteOrder "
                     "FOREIGN KEY (fldOrder)  REFERENCES invCategory (pkyCategory) ON DELETE RESTRICT ON UPDATE "
                     "CASCADE) ENGINE=InnoDb DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin ;"));
    }

    // Multi-statement texts report only their first statement's failure, so effects are checked instead.
    void statementsRunOnMariaDb()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
        QSqlDatabase admin = KTTestDatabase::open("dialect-admin");
        QVERIFY2(QSqlQuery(admin).exec(_map->createDatabase(dbName)), qPrintable(admin.lastError().text()));
        QVERIFY(QSqlQuery(admin).exec(_map->createDatabase(dbName)));
        QSqlDatabase db = KTTestDatabase::open("dialect", dbName);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        const auto run = [&query](const QString& sql) {
            const bool ok = query.exec(sql);
            if (!ok)
                qWarning() << sql << query.lastError().text();
            return ok;
        };
        for (KTDbTable* t : {_groups.get(), _categories.get(), _products.get()})
            QVERIFY(run(_map->createTable(t)));
        QVERIFY(run(_map->insertRecords("accGroup", {{"1", "'Todos'", "1", "0", "1", "2", "0", "1"}}, {})));
        QVERIFY(run(_map->insertRecords("invCategory", {{"NULL", "'Bebidas 😀'", "'BEB'"}, {"NULL", "'Pan'", "'PAN'"}},
                                        {"pkyCategory", "fldName", "fldCode"})));
        QVERIFY(run(_map->insertRecords("invProduct", {{"NULL", "'Café'", "1", "1", "2", "1.5"},
                                                       {"NULL", "'Sin categoría'", "1", "NULL", "NULL", "2"}},
                                        {"pkyProduct", "fldName", "codGroup", "codCategory", "parCategory", "fldPrice"})));
        QVERIFY(run(_map->select("", {_map->lastInsertID()}, "", "", "", "")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toULongLong(), 1ULL);

        QVERIFY(run(_map->selectResolveKeys("invProduct", {"fldName", "codGroup", "codCategory"}, "", "",
                                            "T0.pkyProduct", "", false)));
        QVERIFY(query.next());
        QCOMPARE(query.value(2).toString(), QStringLiteral("Todos"));
        QCOMPARE(query.value(4).toString(), QStringLiteral("BEB - Bebidas 😀"));
        QVERIFY(query.next());
        QVERIFY(query.value(3).isNull());
        QVERIFY(run(_map->select("invProduct", {_map->count(), _map->concat({"MIN(fldName)", "'!'"})},
                                 "pkyProduct " + _map->in({"1", "2"}), "", "", "")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 2);
        QCOMPARE(query.value(1).toString(), QStringLiteral("Café!"));

        QVERIFY(run(_map->lock({"invProduct", "invCategory"}, {"P"}, {"WRITE", "READ"})));
        QVERIFY(run("SELECT @@autocommit"));
        QVERIFY(query.next() && query.value(0).toInt() == 0);
        QVERIFY(run("SELECT COUNT(*) FROM invProduct P, invCategory"));
        QVERIFY(!query.exec("SELECT COUNT(*) FROM accGroup")); // only the locked tables are readable
        QVERIFY(run(_map->updateRecords("invProduct P", {"1", "3"}, {"pkyProduct", "fldPrice"}, "P.pkyProduct = 1")));
        QVERIFY(run(_map->unlock()));
        QVERIFY(run("SELECT COUNT(*) FROM accGroup"));
        QVERIFY(run("SELECT @@autocommit")); // alone: beside an aggregate MariaDB reports a stale value
        QVERIFY(query.next() && query.value(0).toInt() == 1);
        QVERIFY(run(_map->deleteRecords("invProduct", "pkyProduct = 2")));
        QVERIFY(run("SELECT pkyProduct, fldPrice FROM invProduct"));
        QVERIFY(query.next());
        QCOMPARE(query.value(1).toDouble(), 3.0);
        QVERIFY(!query.next());
        query.finish();
        db.close();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
    }
};

QTEST_GUILESS_MAIN(tst_MySqlDialectMap)
#include "tst_mysqldialectmap.moc"
