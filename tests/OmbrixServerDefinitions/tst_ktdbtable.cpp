#include <KTDbTable.h>

#include <QtTest>

#include <memory>

namespace {

_TableField field(const QString& name, const QString& alias = QString(), const QString& tip = QString())
{
    _TableField f;
    f.name = name;
    f.alias = alias;
    f.toolTip = tip;
    return f;
}

}

class tst_KTDbTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void newRecordsAreEmpty()
    {
        KTDbTable table;
        QVERIFY(table._tableFields.empty());
        QVERIFY(table._primaryKey.keyField == nullptr);
        QVERIFY(!table._primaryKey.autoIncrement);
        _ForeignKey key;
        QVERIFY(key.foreignTable == nullptr && key.field == nullptr && key.name.isEmpty());
        _TableIndex index;
        QVERIFY(!index.isUnique && index.field == nullptr && index.field2 == nullptr);
        QVERIFY(!_TableField().canBeNull);
    }

    void dbFieldIsCaseSensitive()
    {
        KTDbTable table;
        table._tableFields.push_back(field("pkyUser"));
        table._tableFields.push_back(field("fldLogin"));
        QCOMPARE(table.dbField("fldLogin"), &table._tableFields[1]);
        QVERIFY(table.dbField("fldlogin") == nullptr);
        QVERIFY(table.dbField("FLDLOGIN") == nullptr);
        QVERIFY(table.dbField(QString()) == nullptr);
    }

    void dbFieldFindsTheFirstOfTwins()
    {
        KTDbTable table;
        table._tableFields.push_back(field("fldName", "first"));
        table._tableFields.push_back(field("fldName", "second"));
        QCOMPARE(table.dbField("fldName")->alias, QStringLiteral("first"));
    }

    void listsHaveOneEntryPerField()
    {
        KTDbTable table;
        table._tableFields.push_back(field("pkyProduct", "Código", "Clave del producto"));
        table._tableFields.push_back(field("fldName"));
        table._tableFields.push_back(field("fldPrice", "Precio"));
        QCOMPARE(table.fields(), QStringList({"pkyProduct", "fldName", "fldPrice"}));
        QCOMPARE(table.fieldAliases(), QStringList({"Código", "", "Precio"}));
        QCOMPARE(table.toolTips(), QStringList({"Clave del producto", "", ""}));
    }

    void fieldAddressesStayStable()
    {
        KTDbTable table;
        table._tableFields.push_back(field("pkyFirst"));
        _TableField* first = table.dbField("pkyFirst");
        table._primaryKey.keyField = first;
        for (int i = 0; i < 5000; ++i)
            table._tableFields.push_back(field(QStringLiteral("fld%1").arg(i)));
        QCOMPARE(table.dbField("pkyFirst"), first);
        QCOMPARE(table._primaryKey.keyField->name, QStringLiteral("pkyFirst"));

        // Other tables loaded afterwards leave the pointer alone too.
        std::vector<std::unique_ptr<KTDbTable>> others;
        for (int t = 0; t < 50; ++t) {
            others.push_back(std::make_unique<KTDbTable>());
            for (int i = 0; i < 100; ++i)
                others.back()->_tableFields.push_back(field(QStringLiteral("f%1").arg(i)));
        }
        QCOMPARE(first->name, QStringLiteral("pkyFirst"));
        QCOMPARE(table.dbField("fld4999"), &table._tableFields.back());
    }
};

QTEST_GUILESS_MAIN(tst_KTDbTable)
#include "tst_ktdbtable.moc"
