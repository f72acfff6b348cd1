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

_TableField field(const QString& name, const QString& type, const QString& modifier = QString(),
                  bool null = false, const QString& defaultValue = QString())
{
    _TableField f;
    f.name = name;
    f.type = type;
    f.typeModifier = modifier;
    f.canBeNull = null;
    f.defaultValue = defaultValue;
    return f;
}

std::unique_ptr<KTDbTable> table(const QString& name, const QList<_TableField>& fields, int keyIndex = 0)
{
    auto t = std::make_unique<KTDbTable>();
    t->_tableName = name;
    for (const _TableField& f : fields)
        t->_tableFields.push_back(f);
    t->_primaryKey.keyField = &t->_tableFields.at(keyIndex);
    t->_primaryKey.autoIncrement = true;
    return t;
}

void addForeignKey(KTDbTable* from, const QString& fieldName, KTDbTable* to, const QString& name)
{
    _ForeignKey key;
    key.field = from->dbField(fieldName);
    key.foreignTable = to;
    key.foreignTableName = to ? to->_tableName : QStringLiteral("accMissing");
    key.name = name;
    key.onDelete = QStringLiteral("RESTRICT");
    key.onUpdate = QStringLiteral("CASCADE");
    from->_tableForeignKeys << key;
}

} // namespace

class tst_MySqlDialectMap : public QObject
{
    Q_OBJECT

    KTDatabaseMap* _map = nullptr;
    std::unique_ptr<KTDbTable> _groups;
    std::unique_ptr<KTDbTable> _categories;
    std::unique_ptr<KTDbTable> _products;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        _map = KTPluginLoader::load<KTDatabaseMap>(
            qEnvironmentVariable("OMBRIX_APP_DIR") + "/OmbrixServerComponents/OmbrixDbMaps/libMySqlDialectMap.so",
            &error);
        QVERIFY2(_map, qPrintable(error));
        QCOMPARE(_map->name(), QStringLiteral("MySqlDialectMap"));
        QCOMPARE(_map->label(), QStringLiteral("Mapa Mysql"));

        _groups = table("accGroup", {field("pkyGroup", "MEDIUMINT", "UNSIGNED"), field("fldName", "VARCHAR", "40")});
        _groups->_browseField = "fldName";
        _categories = table("invCategory", {field("pkyCategory", "BIGINT", "UNSIGNED"),
                                            field("fldName", "VARCHAR", "60"), field("fldCode", "VARCHAR", "8")});
        _categories->_browseField = "fldCode + ' - ' + fldName";
        _categories->_labelField = "fldName";
        _products = table("invProduct", {field("pkyProduct", "BIGINT", "UNSIGNED"), field("fldName", "VARCHAR", "60"),
                                         field("codGroup", "MEDIUMINT", "UNSIGNED"),
                                         field("codCategory", "BIGINT", "UNSIGNED", true, "NULL"),
                                         field("parCategory", "BIGINT", "UNSIGNED", true),
                                         field("fldPrice", "DECIMAL", "10,2", false, "0")});
        addForeignKey(_products.get(), "codGroup", _groups.get(), "fkProductGroup");
        addForeignKey(_products.get(), "codCategory", _categories.get(), "fkProductCategory");
        addForeignKey(_products.get(), "parCategory", _categories.get(), "fkProductParCategory");
        _map->setDbDefinitionMap({{"accGroup", _groups.get()}, {"invCategory", _categories.get()},
                                  {"invProduct", _products.get()}});
    }

    void fieldTypes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("modifier");
        QTest::addColumn<QString>("sql");
        QTest::newRow("unsigned bigint") << "BIGINT" << "UNSIGNED" << "BIGINT UNSIGNED";
        QTest::newRow("lower-case unsigned stays signed") << "INTEGER" << "unsigned" << "INTEGER";
        QTest::newRow("tinyint") << "TINYINT" << "" << "TINYINT";
        QTest::newRow("bool ignores modifier") << "BOOL" << "UNSIGNED" << "BOOL";
        QTest::newRow("blob") << "MEDIUMBLOB" << "" << "MEDIUMBLOB";
        QTest::newRow("decimal") << "DECIMAL" << "12,3" << "DECIMAL(12,3)";
        QTest::newRow("udecimal as decimal") << "UDECIMAL" << "5,2" << "DECIMAL(5,2)";
        QTest::newRow("decimal empty") << "DECIMAL" << "" << "DECIMAL(1,0)";
        QTest::newRow("decimal bad parts") << "DECIMAL" << "x,y" << "DECIMAL(1,0)";
        QTest::newRow("varchar") << "VARCHAR" << "40" << "VARCHAR(40)";
        QTest::newRow("varchar non-numeric") << "VARCHAR" << "long" << "VARCHAR(1)";
        QTest::newRow("unknown word") << "TEXT" << "" << "";
        QTest::newRow("case-sensitive") << "varchar" << "10" << "";
    }

    void fieldTypes()
    {
        QFETCH(QString, type);
        QFETCH(QString, modifier);
        QFETCH(QString, sql);
        QCOMPARE(_map->fieldType(type, modifier), sql);
    }

    void fragments()
    {
        QCOMPARE(_map->concat({"T1.a", "' '", "T1.b"}), QStringLiteral("CONCAT_WS('',T1.a,' ',T1.b)"));
        QCOMPARE(_map->in({"1", "2"}), QStringLiteral("IN (1,2)"));
        QCOMPARE(_map->defaultValue(""), QString());
        QCOMPARE(_map->defaultValue("NULL"), QStringLiteral("DEFAULT NULL"));
        QCOMPARE(_map->defaultValue("'x'"), QStringLiteral("DEFAULT 'x'"));
        QCOMPARE(_map->deleteRecords("t", ""), QStringLiteral("DELETE FROM t ;"));
        QCOMPARE(_map->deleteRecords("t", "a = 1"), QStringLiteral("DELETE FROM t WHERE a = 1 ;"));
        QCOMPARE(_map->createDatabase("db"), QStringLiteral("CREATE DATABASE IF NOT EXISTS db;"));
        QCOMPARE(_map->setEnabledForeignChecks(false), QStringLiteral("SET FOREIGN_KEY_CHECKS = 0;"));
        QCOMPARE(_map->unlock(), QStringLiteral("COMMIT;\nUNLOCK TABLES;\nSET autocommit=1;"));
    }

    void insertsAndUpdates()
    {
        QCOMPARE(_map->insertRecords("t", {}, {"a"}), QString());
        QCOMPARE(_map->insertRecords("t", {{"1", "'x'"}, {"NULL", "'y'"}}, {"a", "b"}),
                 QStringLiteral("INSERT INTO t (a, b) VALUES (1, 'x'), \n(NULL, 'y');"));
        QCOMPARE(_map->insertRecords("t", {{"1"}}, {}), QStringLiteral("INSERT INTO t VALUES (1);"));

        QCOMPARE(_map->updateRecords("t", {"1", "'x'", "2"}, {"a", "b", "c"}, "a = 1"),
                 QStringLiteral("UPDATE t SET b = 'x', c = 2 WHERE a = 1 ;"));
        QCOMPARE(_map->updateRecords("t", {"1"}, {"a"}, ""), QStringLiteral("UPDATE t SET ;"));
        QCOMPARE(_map->updateRecords("t", {"1"}, {"a"}, "a = 1"), QStringLiteral("UPDATE t SET  WHERE a = 1 ;"));
        QCOMPARE(_map->updateRecords("t", {"1", "2"}, {"a"}, ""), QString());
        QCOMPARE(_map->updateRecords("t", {}, {}, ""), QString());
    }

    void selects()
    {
        QCOMPARE(_map->select("", {"COUNT(*)"}, "", "", "", ""), QStringLiteral("SELECT COUNT(*);"));
        QCOMPARE(_map->select("t", {"a", "b"}, "a > 1", "b", "a DESC", "10,5"),
                 QStringLiteral("SELECT a, b FROM t WHERE a > 1 GROUP BY b ORDER BY a DESC LIMIT 10,5;"));
        QCOMPARE(_map->select("t", {"a"}, "", "", "", "3"), QStringLiteral("SELECT a FROM t LIMIT 3;"));
        QCOMPARE(_map->selectMulti({"accUser T1", "accGroup T2"}, {"T1.a"}, "T1.g = T2.k", "", "", ""),
                 QStringLiteral("SELECT T1.a FROM accUser T1, accGroup T2 WHERE T1.g = T2.k;"));
    }

    void resolvedSelectJoinsByForeignKeyPosition()
    {
        // The category is the second foreign key: its alias is T2 even when the first is not asked for.
        QCOMPARE(_map->selectResolveKeys("invProduct", {"pkyProduct", "codCategory", "parCategory"}, "T0.fldPrice > 1",
                                         "", "T0.fldName", "", false),
                 QStringLiteral("SELECT T0.pkyProduct, T0.codCategory, CONCAT_WS('',T2.fldCode,' - ',T2.fldName), "
                                "T0.parCategory FROM invProduct T0 LEFT JOIN invCategory T2 ON T0.codCategory = "
                                "T2.pkyCategory WHERE (T0.fldPrice > 1) ORDER BY T0.fldName;"));
        QCOMPARE(_map->selectResolveKeys("invProduct", {"codCategory"}, "", "", "", "", true),
                 QStringLiteral("SELECT T0.codCategory, CONCAT_WS('',T2.fldName) FROM invProduct T0 "
                                "LEFT JOIN invCategory T2 ON T0.codCategory = T2.pkyCategory;"));
        QCOMPARE(_map->selectResolveKeys("invCategory", {"pkyCategory", "fldName"}, "", "", "", "", false),
                 QStringLiteral("SELECT T0.pkyCategory, T0.fldName FROM invCategory T0;"));
    }

    void resolvedSelectSkipsWhatItCannotResolve()
    {
        auto orphan = table("invOrphan", {field("pkyOrphan", "BIGINT", "UNSIGNED"), field("codNothing", "BIGINT")});
        addForeignKey(orphan.get(), "codNothing", nullptr, "fkOrphanNothing");
        auto emptyLabel = table("invBare", {field("pkyBare", "BIGINT", "UNSIGNED")});
        auto referring = table("invRef", {field("pkyRef", "BIGINT", "UNSIGNED"), field("codBare", "BIGINT", "UNSIGNED")});
        addForeignKey(referring.get(), "codBare", emptyLabel.get(), "fkRefBare");
        _map->setDbDefinitionMap({{"invOrphan", orphan.get()}, {"invRef", referring.get()}});

        QCOMPARE(_map->selectResolveKeys("invOrphan", {"pkyOrphan", "codNothing"}, "", "", "", "", false),
                 QStringLiteral("SELECT T0.pkyOrphan, T0.codNothing FROM invOrphan T0;"));
        QCOMPARE(_map->selectResolveKeys("invRef", {"codBare"}, "", "", "", "", false),
                 QStringLiteral("SELECT T0.codBare, CONCAT_WS('','') FROM invRef T0 LEFT JOIN invBare T1 ON "
                                "T0.codBare = T1.pkyBare;"));
        QCOMPARE(_map->selectResolveKeys("invUnknown", {"a"}, "", "", "", "", false),
                 QStringLiteral("SELECT T0.a FROM invUnknown T0;"));
        QVERIFY(_map->createTable(orphan.get()).indexOf("fkOrphanNothing") < 0);
        QCOMPARE(_map->createTable(nullptr), QString());
        initTestCase();
    }

    void createTableText()
    {
        // The key is not the first field: AUTO_INCREMENT still goes to the first one.
        auto t = table("accNote", {field("fldOrder", "INTEGER", ""), field("pkyNote", "BIGINT", "UNSIGNED"),
                                   field("fldText", "VARCHAR", "20", true, "'x'")}, 1);
        _TableIndex index;
        index.name = "idxNote";
        index.isUnique = true;
        index.field = t->dbField("fldText");
        index.field2 = t->dbField("fldOrder");
        t->_tableIndexes << index;
        addForeignKey(t.get(), "fldOrder", _categories.get(), "fkNoteOrder");
        QCOMPARE(_map->createTable(t.get()),
                 QStringLiteral(
                     "CREATE TABLE IF NOT EXISTS accNote (fldOrder INTEGER AUTO_INCREMENT NOT NULL , "
                     "pkyNote BIGINT UNSIGNED NOT NULL , fldText VARCHAR(20)  DEFAULT 'x', "
                     "sysEnabled BOOL NOT NULL DEFAULT 1, sysEditable TINYINT UNSIGNED NOT NULL DEFAULT 2, "
                     "sysAuthorized BOOL NOT NULL DEFAULT 1, sysVisible TINYINT UNSIGNED NOT NULL DEFAULT 2, "
                     "sysContext TINYINT UNSIGNED NOT NULL DEFAULT 0, "
                     "sysAuthorizationGroup MEDIUMINT UNSIGNED NOT NULL DEFAULT 1, PRIMARY KEY (pkyNote), "
                     "UNIQUE INDEX idxNote (fldText,fldOrder), INDEX fksNoteContext(sysContext) , "
                     "CONSTRAINT fksNoteGroup  FOREIGN KEY (`sysAuthorizationGroup`) REFERENCES `accGroup` "
                     "(`pkyGroup`), CONSTRAINT fkNoteOrder FOREIGN KEY (fldOrder)  REFERENCES invCategory "
                     "(pkyCategory) ON DELETE RESTRICT ON UPDATE CASCADE) "
                     "ENGINE=InnoDb DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin ;"));
    }

    void lockText()
    {
        QCOMPARE(_map->lock({"accUser", "accGroup"}, {"U"}, {"WRITE", "READ"}),
                 QStringLiteral("SET autocommit=0;\nLOCK TABLES  accUser AS U WRITE, accGroup READ;"));
        QCOMPARE(_map->lock({"accUser"}, {}, {}), QStringLiteral("SET autocommit=0;\nLOCK TABLES  accUser ;"));
    }

    // The texts above must also be statements MariaDB runs.
    void statementsRunOnMariaDb()
    {
        KT_REQUIRE_DATABASE();
        QSqlDatabase admin = KTTestDatabase::open("dialect-admin");
        QVERIFY(KTTestDatabase::recreateDatabase(admin, dbName));
        admin.close();
        QSqlDatabase db = KTTestDatabase::open("dialect", dbName);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        const auto run = [&](const QString& sql) {
            const bool ok = query.exec(sql);
            if (!ok)
                qWarning() << sql << query.lastError().text();
            return ok;
        };

        QVERIFY(run(_map->setEnabledForeignChecks(false)));
        for (KTDbTable* t : {_groups.get(), _categories.get(), _products.get()})
            QVERIFY(run(_map->createTable(t)));
        QVERIFY(run(_map->setEnabledForeignChecks(true)));
        QVERIFY(run(_map->insertRecords("accGroup", {{"1", "'Todos'", "1", "0", "1", "2", "0", "1"}}, {})));
        QVERIFY(run(_map->insertRecords("invCategory", {{"NULL", "'Bebidas 😀'", "'BEB'"}, {"NULL", "'Pan'", "'PAN'"}},
                                        {"pkyCategory", "fldName", "fldCode"})));
        QVERIFY(run(_map->insertRecords("invProduct", {{"NULL", "'Café'", "1", "1", "2", "1.5"},
                                                       {"NULL", "'Sin categoría'", "1", "NULL", "NULL", "2"}},
                                        {"pkyProduct", "fldName", "codGroup", "codCategory", "parCategory", "fldPrice"})));

        QVERIFY(run(_map->selectResolveKeys("invProduct", {"fldName", "codGroup", "codCategory"}, "", "", "T0.pkyProduct",
                                            "", false)));
        QVERIFY(query.next());
        QCOMPARE(query.value(2).toString(), QStringLiteral("Todos"));
        QCOMPARE(query.value(4).toString(), QStringLiteral("BEB - Bebidas 😀"));
        QVERIFY(query.next());
        QVERIFY(query.value(3).isNull());
        QCOMPARE(query.value(4).toString(), QStringLiteral(" - ")); // CONCAT_WS leaves out the nulls

        QVERIFY(run(_map->select("", {_map->lastInsertID()}, "", "", "", "")));
        QVERIFY(query.next() && query.value(0).toULongLong() > 0);
        QVERIFY(run(_map->select("invProduct", {_map->count()}, "pkyProduct " + _map->in({"1", "2"}), "", "", "")));
        QVERIFY(query.next() && query.value(0).toInt() == 2);

        QVERIFY(run(_map->lock({"invProduct", "invCategory"}, {"P"}, {"WRITE", "READ"})));
        QVERIFY(run("SELECT COUNT(*) FROM invProduct P"));
        QVERIFY(run(_map->updateRecords("invProduct P", {"1", "3"}, {"pkyProduct", "fldPrice"}, "P.pkyProduct = 1")));
        QVERIFY(run(_map->unlock()));
        QVERIFY(run("SELECT @@autocommit"));
        QVERIFY(query.next() && query.value(0).toInt() == 1);
        QVERIFY(run(_map->deleteRecords("invProduct", "pkyProduct = 2")));
        QVERIFY(run("SELECT fldPrice FROM invProduct"));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toDouble(), 3.0);
        QVERIFY(!query.next());
        QVERIFY(run("DROP DATABASE " + dbName));
    }
};

QTEST_GUILESS_MAIN(tst_MySqlDialectMap)
#include "tst_mysqldialectmap.moc"
