#include "KTTestDatabase.h"

#include <KTDatabaseParser.h>
#include <KTDbTable.h>

#include <QDir>
#include <QDomDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString mapsDir = KTTestDatabase::mapsDirectory();

// A complete definition; the tests break it in one place or another.
const QString validDefinition = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<Table>
  <TableAlias>  Usuarios
     del sistema </TableAlias>
  <TableDescription>Usuarios</TableDescription>
  <TableVersion>1.0</TableVersion>
  <LabelField>fldLogin</LabelField>
  <BrowseField>fldName + ' ' + fldLogin</BrowseField>
  <InputWhenForeignFields>fldLogin, fldName,fldUnknown</InputWhenForeignFields>
  <Field>
    <FieldName>pkyUser</FieldName><FieldAlias>Código</FieldAlias><FieldToolTip>Clave</FieldToolTip>
    <Null>FALSE</Null><Type>BIGINT</Type><TypeModifier>UNSIGNED</TypeModifier><Default></Default>
    <RegExp></RegExp><Format></Format>
  </Field>
  <Field>
    <FieldName>fldLogin</FieldName><FieldAlias>Usuario</FieldAlias><FieldToolTip></FieldToolTip>
    <Null>TRUE</Null><Type>VARCHAR</Type><TypeModifier>40</TypeModifier><Default>'nadie'</Default>
    <RegExp>[a-z]+</RegExp><Format>x</Format>
  </Field>
  <Field>
    <FieldName>fldName</FieldName><FieldAlias>Nombre</FieldAlias><FieldToolTip>Nombre completo</FieldToolTip>
    <Null> TRUE</Null><Type>VARCHAR</Type><TypeModifier>80</TypeModifier><Default></Default>
    <RegExp></RegExp><Format></Format>
  </Field>
  <Field>
    <FieldName>codGroup</FieldName><FieldAlias>Grupo</FieldAlias><FieldToolTip></FieldToolTip>
    <Null>true</Null><Type>MEDIUMINT</Type><TypeModifier>UNSIGNED</TypeModifier><Default>1</Default>
    <RegExp></RegExp><Format></Format>
  </Field>
  <PrimaryKey><IndexField>pkyUser</IndexField><AutoIncrement>TRUE</AutoIncrement></PrimaryKey>
  <Index><IndexName>idxLogin</IndexName><Unique>TRUE</Unique><IndexField>fldLogin</IndexField></Index>
  <Index><IndexName>idxName</IndexName><Unique>FALSE</Unique>
    <IndexField>fldName</IndexField><IndexField>codGroup</IndexField><IndexField>fldLogin</IndexField></Index>
  <ForeignKey><KeyField>codGroup</KeyField><ForeignKeyName>fkUserGroup</ForeignKeyName>
    <ForeignTable>accNowhere</ForeignTable><OnUpdate>CASCADE</OnUpdate><OnDelete>RESTRICT</OnDelete></ForeignKey>
</Table>
)");

QString without(const QString& element)
{
    QString text = validDefinition;
    const int start = text.indexOf(QLatin1Char('<') + element + QLatin1Char('>'));
    const QString closing = QStringLiteral("</") + element + QLatin1Char('>');
    const int end = text.indexOf(closing, start) + closing.size();
    return text.remove(start, end - start);
}

QString errorText(const QString& detail)
{
    return QStringLiteral("Error al cargar la tabla : 'accUser'. La definición de la tabla : 'accUser', ") + detail;
}

struct Parsed {
    std::unique_ptr<KTDbTable> table;
    QStringList errors;
    QList<int> types;
    QStringList sources;
    int failedSignals = 0;
};

} // namespace

class tst_KTDatabaseParser : public QObject
{
    Q_OBJECT

    std::unique_ptr<KTDatabaseParser> _parser;

    Parsed parse(const QString& definition)
    {
        QSignalSpy events(_parser.get(), &KTDatabaseParser::eventMessage);
        QSignalSpy failed(_parser.get(), &KTDatabaseParser::errorLoadingTable);
        Parsed result;
        result.table.reset(_parser->parseTable(QStringLiteral("accUser"), definition));
        for (const QList<QVariant>& event : events) {
            result.errors << event.at(0).toString();
            result.types << event.at(1).toInt();
            result.sources << event.at(2).toString();
        }
        result.failedSignals = failed.size();
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        _parser = std::make_unique<KTDatabaseParser>();
        _parser->loadMapPlugins(mapsDir, QStringLiteral("MySqlDialectMap"));
        QVERIFY2(_parser->hasMap(), qPrintable(mapsDir));
    }

    void loadsOnlyTheMapAskedForFromAMixedDirectory()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(mapsDir + "/libMySqlDialectMap.so", dir.filePath("libMySqlDialectMap.so")));
        QVERIFY(QFile::copy(TEST_SERCOM_PLUGIN, dir.filePath("libTestSercom.so")));
        QFile notes(dir.filePath("libNotes.so.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir("libMySqlDialectMap.so.d"));

        KTDatabaseParser parser;
        QSignalSpy events(&parser, &KTDatabaseParser::eventMessage);
        parser.loadMapPlugins(dir.path(), "MySqlDialectMap");
        QVERIFY(parser.hasMap());
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first(), QVariantList({"El mapa de BD : 'MySqlDialectMap' fue cargado exitosamente.", 4,
                                               "KTDatabaseParser::loadMapPlugins()"}));
        QCOMPARE(parser.recordCount("accUser"), QStringLiteral("SELECT COUNT(*) FROM accUser;"));

        KTDatabaseParser wrongKind;
        QSignalSpy wrongEvents(&wrongKind, &KTDatabaseParser::eventMessage);
        wrongKind.loadMapPlugins(dir.path(), "TestSercom");
        QVERIFY(!wrongKind.hasMap());
        QCOMPARE(wrongEvents.size(), 1);
        QCOMPARE(wrongEvents.first(), QVariantList({"El mapa de BD : 'TestSercom' no pudo ser cargado.", 0,
                                                    "KTDatabaseParser::loadMapPlugins()"}));
    }

    void withoutAMapEveryRequestReportsIt()
    {
        QTemporaryDir empty;
        KTDatabaseParser parser;
        QSignalSpy events(&parser, &KTDatabaseParser::eventMessage);
        QSignalSpy failed(&parser, &KTDatabaseParser::errorLoadingTable);
        parser.loadMapPlugins(empty.path(), "MySqlDialectMap");
        QVERIFY(!parser.hasMap());
        QCOMPARE(events.size(), 0);

        QVERIFY(parser.select("accUser", {"pkyUser"}, "", "", "", "").isEmpty());
        QVERIFY(parser.selectResolveKeys("accUser", {"pkyUser"}, "", "", "", "").isEmpty());
        QVERIFY(parser.recordCount("accUser").isEmpty());
        QVERIFY(parser.insertRecords("accUser", {{"1"}}, {}).isEmpty());
        QVERIFY(parser.lastInsertID().isEmpty());
        QVERIFY(!parser.parseTable("accUser", validDefinition));
        KTDbTable table;
        parser.setDbDefinitionMap({{"accUser", &table}});
        QCOMPARE(parser.dbDefinitionMap().value("accUser"), &table);

        QStringList sources;
        for (const QList<QVariant>& event : events) {
            QCOMPARE(event.at(0).toString(), QStringLiteral("No existe ningún mapa de BD cargado"));
            QCOMPARE(event.at(1).toInt(), 0);
            sources << event.at(2).toString();
        }
        QCOMPARE(sources, QStringList({"KTDatabaseParser::select()", "KTDatabaseParser::select()",
                                       "KTDatabaseParser::recordCount()", "KTDatabaseParser::insertRecords()",
                                       "KTDatabaseParser::lastInsertID()", "KTDatabaseParser::parseTable()",
                                       "KTDatabaseParser::setDbDefinitionMap()"}));
        QCOMPARE(failed.size(), 1);

        // A failed table is announced before the reason, as for every other failure.
        QList<QByteArray> order;
        connect(&parser, &KTDatabaseParser::errorLoadingTable, this, [&] { order << "table"; });
        connect(&parser, &KTDatabaseParser::eventMessage, this, [&] { order << "event"; });
        parser.parseTable("accUser", validDefinition);
        QCOMPARE(order, QList<QByteArray>({"table", "event"}));
    }

    void readsEveryMemberOfAValidDefinition()
    {
        Parsed parsed = parse(validDefinition);
        QVERIFY2(parsed.table, qPrintable(parsed.errors.join('\n')));
        KTDbTable* table = parsed.table.get();
        QCOMPARE(table->_tableName, QStringLiteral("accUser"));
        QCOMPARE(table->_originalXML, validDefinition);
        QCOMPARE(table->_alias, QStringLiteral("Usuarios del sistema"));
        QCOMPARE(table->_browseField, QStringLiteral("fldName + ' ' + fldLogin"));
        QCOMPARE(table->fields(), QStringList({"pkyUser", "fldLogin", "fldName", "codGroup"}));
        QCOMPARE(table->fieldAliases(), QStringList({"Código", "Usuario", "Nombre", "Grupo"}));

        const _TableField* login = table->dbField("fldLogin");
        QCOMPARE(login->typeModifier, QStringLiteral("40"));
        QCOMPARE(login->defaultValue, QStringLiteral("'nadie'"));
        QCOMPARE(login->regExp, QStringLiteral("[a-z]+"));

        QCOMPARE(table->_primaryKey.keyField, table->dbField("pkyUser"));
        QVERIFY(table->_primaryKey.autoIncrement);
        QCOMPARE(parsed.failedSignals, 0);
    }

    void nullIsTrueOnlyWhenWrittenExactly()
    {
        Parsed parsed = parse(validDefinition);
        QVERIFY(parsed.table);
        QVERIFY(!parsed.table->dbField("pkyUser")->canBeNull);
        QVERIFY(parsed.table->dbField("fldLogin")->canBeNull);
        QVERIFY2(!parsed.table->dbField("fldName")->canBeNull, "a leading blank makes it NOT NULL");
        QVERIFY2(!parsed.table->dbField("codGroup")->canBeNull, "lower case makes it NOT NULL");
    }

    void inputWhenForeignFieldsFollowFieldOrderAndIgnoreUnknownNames()
    {
        Parsed parsed = parse(validDefinition);
        QVERIFY(parsed.table);
        KTDbTable* table = parsed.table.get();
        QCOMPARE(table->_inputWhenForeignFields,
                 QList<_TableField*>({table->dbField("fldLogin"), table->dbField("fldName")}));

        QString empty = validDefinition;
        empty.replace(QRegularExpression("<InputWhenForeignFields>.*</InputWhenForeignFields>"),
                      "<InputWhenForeignFields/>");
        Parsed none = parse(empty);
        QVERIFY(none.table);
        QVERIFY(none.table->_inputWhenForeignFields.isEmpty());
    }

    void indexesTakeOneOrTwoFields()
    {
        Parsed parsed = parse(validDefinition);
        QVERIFY(parsed.table);
        KTDbTable* table = parsed.table.get();
        QCOMPARE(table->_tableIndexes.size(), 2);
        const _TableIndex& unique = table->_tableIndexes.at(0);
        QVERIFY(unique.isUnique);
        QCOMPARE(unique.field, table->dbField("fldLogin"));
        QCOMPARE(unique.field2, nullptr);
        const _TableIndex& pair = table->_tableIndexes.at(1);
        QCOMPARE(pair.name, QStringLiteral("idxName"));
        QVERIFY(!pair.isUnique);
        QCOMPARE(pair.field, table->dbField("fldName"));
        QCOMPARE(pair.field2, table->dbField("codGroup"));
    }

    void foreignKeyToAnUnknownTableLoadsWithoutTheTable()
    {
        Parsed parsed = parse(validDefinition);
        QVERIFY(parsed.table);
        QCOMPARE(parsed.table->_tableForeignKeys.size(), 1);
        const _ForeignKey& key = parsed.table->_tableForeignKeys.first();
        QCOMPARE(key.foreignTable, nullptr);
        QCOMPARE(key.foreignTableName, QStringLiteral("accNowhere"));
        QCOMPARE(key.field, parsed.table->dbField("codGroup"));
        QCOMPARE(key.onUpdate, QStringLiteral("CASCADE"));
        QCOMPARE(key.onDelete, QStringLiteral("RESTRICT"));
    }

    void elementOrderDoesNotMatter()
    {
        // Everything but the fields in reverse order, the fields last.
        QDomDocument document;
        QVERIFY(document.setContent(validDefinition));
        const QDomElement root = document.documentElement();
        QDomElement reordered = document.createElement("Table");
        for (QDomNode node = root.lastChild(); !node.isNull(); node = node.previousSibling())
            if (node.toElement().tagName() != "Field")
                reordered.appendChild(node.cloneNode());
        for (QDomElement field = root.firstChildElement("Field"); !field.isNull();
             field = field.nextSiblingElement("Field"))
            reordered.appendChild(field.cloneNode());
        document.replaceChild(reordered, root);

        Parsed original = parse(validDefinition);
        Parsed shuffled = parse(document.toString());
        QVERIFY2(shuffled.table, qPrintable(shuffled.errors.join('\n')));
        QCOMPARE(shuffled.table->fields(), original.table->fields());
        QCOMPARE(shuffled.table->_alias, original.table->_alias);
        QCOMPARE(shuffled.table->_tableIndexes.size(), 2);
        QCOMPARE(shuffled.table->_tableIndexes.last().name, QStringLiteral("idxLogin"));
        QCOMPARE(shuffled.table->_tableIndexes.first().field2, shuffled.table->dbField("codGroup"));
        QCOMPARE(shuffled.table->_primaryKey.keyField->name, QStringLiteral("pkyUser"));
    }

    void missingElementsAreReportedByName_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const QString& definition, const char* detail) {
            QTest::newRow(name) << definition << errorText(QString::fromUtf8(detail));
        };
        row("alias", without("TableAlias"), "no posee tag <TableAlias>");
        row("description", without("TableDescription"), "no posee tag <TableDescription>");
        row("version", without("TableVersion"), "no posee tag <TableVersion>");
        row("label", without("LabelField"), "no posee tag <LabelField>");
        row("browse", without("BrowseField"), "no posee tag <BrowseField>");
        row("input when foreign", without("InputWhenForeignFields"), "no posee tag <InputWhenForeignFields>");
        for (const char* child : {"FieldName", "FieldAlias", "FieldToolTip", "Null", "Type", "TypeModifier",
                                  "Default", "RegExp", "Format"}) {
            QString definition = validDefinition;
            const QString tag = QString::fromLatin1(child);
            const QRegularExpressionMatch first = QRegularExpression("<" + tag + ">[^<]*</" + tag + ">").match(definition);
            definition.remove(first.capturedStart(), first.capturedLength());
            QTest::newRow(child) << definition
                                 << errorText(QStringLiteral("contiene tag <Field> sin tag <%1>").arg(tag));
        }
        row("primary key", without("PrimaryKey"), "no posee tag <PrimaryKey>");
        QString keyWithoutField = validDefinition;
        keyWithoutField.replace("<IndexField>pkyUser</IndexField>", "");
        row("key field missing", keyWithoutField, "contiene tag <PrimaryKey> sin tag <IndexField>");
        QString unknownKey = validDefinition;
        unknownKey.replace("<IndexField>pkyUser</IndexField>", "<IndexField>pkyuser</IndexField>");
        row("key field unknown", unknownKey, "no posee el campo referido por tag <PrimaryKey>");
        row("auto increment", without("AutoIncrement"), "contiene tag <PrimaryKey> sin tag <AutoIncrement>");
        QString indexWithoutField = validDefinition;
        indexWithoutField.replace("<IndexField>fldLogin</IndexField></Index>", "</Index>");
        row("index field missing", indexWithoutField, "contiene tag <Index> sin tag <IndexField>");
        QString unknownSecond = validDefinition;
        unknownSecond.replace("<IndexField>codGroup</IndexField>", "<IndexField>codNothing</IndexField>");
        row("second index field unknown", unknownSecond, "no posee el campo referido por tag <IndexName>");
        row("index name", without("IndexName"), "contiene tag <Index> sin tag <IndexName>");
        row("unique", without("Unique"), "contiene tag <Index> sin tag <Unique>");
        row("key field", without("KeyField"), "contiene tag <ForeignKey> sin tag <KeyField>");
        QString unknownKeyField = validDefinition;
        unknownKeyField.replace("<KeyField>codGroup</KeyField>", "<KeyField>codNothing</KeyField>");
        row("foreign key field unknown", unknownKeyField, "no posee el campo referido por tag <KeyField>");
        row("foreign key name", without("ForeignKeyName"), "contiene tag <ForeignKey> sin tag <ForeignKeyName>");
        row("foreign table", without("ForeignTable"), "contiene tag <ForeignKey> sin tag <ForeignTable>");
        row("on update", without("OnUpdate"), "contiene tag <ForeignKey> sin tag <OnUpdate>");
        row("on delete", without("OnDelete"), "contiene tag <ForeignKey> sin tag <OnDelete>");
    }

    void missingElementsAreReportedByName()
    {
        QFETCH(QString, definition);
        QFETCH(QString, error);
        Parsed parsed = parse(definition);
        QVERIFY(!parsed.table);
        QCOMPARE(parsed.failedSignals, 1);
        QCOMPARE(parsed.errors, QStringList{error});
        QCOMPARE(parsed.types, QList<int>{0});
        QCOMPARE(parsed.sources, QStringList{"KTDatabaseParser::parseTable()"});
    }

    void noFieldAtAllIsReported()
    {
        QString noFields = validDefinition;
        noFields.remove(QRegularExpression("<Field>.*?</Field>", QRegularExpression::DotMatchesEverythingOption));
        Parsed parsed = parse(noFields);
        QVERIFY(!parsed.table);
        QCOMPARE(parsed.errors, QStringList{errorText("no posee ningún tag <Field>")});
    }

    void onlyTheLastOfTwoErrorsIsReported()
    {
        QString twoErrors = without("TableVersion");
        twoErrors.replace("<Format>x</Format>", "");
        Parsed parsed = parse(twoErrors);
        QVERIFY(!parsed.table);
        QCOMPARE(parsed.errors, QStringList{errorText("contiene tag <Field> sin tag <Format>")});
    }

    void missingPrimaryKeyStopsBeforeIndexesAndForeignKeys()
    {
        // The broken index and foreign key would be reported later if they were read.
        QString definition = without("PrimaryKey");
        definition.replace("<IndexName>idxLogin</IndexName>", "");
        definition.replace("<KeyField>codGroup</KeyField>", "");
        Parsed parsed = parse(definition);
        QVERIFY(!parsed.table);
        QCOMPARE(parsed.errors, QStringList{errorText("no posee tag <PrimaryKey>")});
    }

    void malformedDocumentsAreReportedWithTheirPosition()
    {
        Parsed broken = parse("<Table>\n<TableAlias>x</Table>");
        QVERIFY(!broken.table);
        QCOMPARE(broken.failedSignals, 1);
        QCOMPARE(broken.errors.size(), 1);
        QVERIFY2(broken.errors.first().startsWith("Error al cargar la tabla : 'accUser'. Nro. Línea 2, Nro. Columna "),
                 qPrintable(broken.errors.first()));
        QVERIFY(broken.errors.first().contains("Mensaje de error : '"));

        Parsed wrongRoot = parse("<Tabla/>");
        QVERIFY(!wrongRoot.table);
        QCOMPARE(wrongRoot.errors,
                 QStringList{"Error al cargar la tabla : 'accUser'. El archivo no tiene el formato correcto."});

        QVERIFY(!parse(QString()).table);
        QVERIFY(!parse(QString(200000, QLatin1Char('<'))).table);
    }

    // A blob column names a file of the blob folder; a path out of it is read as nothing.
    void blobNamesStayInTheBlobFolder()
    {
        QTemporaryDir root;
        QDir(root.path()).mkpath(QStringLiteral("Blobs"));
        for (const char* name : {"Blobs/logo.png", "secret.txt"}) {
            QFile file(root.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(name);
        }
        QFile data(root.filePath(QStringLiteral("srvBlob.odd")));
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write("1|'a'|logo.png\n2|'b'|../secret.txt\n");
        data.close();
        QVERIFY(data.open(QIODevice::ReadOnly));
        QSignalSpy events(_parser.get(), &KTDatabaseParser::eventMessage);
        const auto statements = _parser->createDataFromFileBindingBlobs(data, 2, root.filePath(QStringLiteral("Blobs")));
        QList<QVariant> blobs;
        for (const QMap<QString, QVariant>& bindings : statements)
            blobs << bindings.value(QStringLiteral(":2"));
        QVERIFY(blobs.contains(QVariant(QByteArray("Blobs/logo.png"))));
        QVERIFY(!blobs.contains(QVariant(QByteArray("secret.txt"))));
        QCOMPARE(events.size(), 1);
        QVERIFY(events.first().at(0).toString().contains(QStringLiteral("../secret.txt")));
    }
};

QTEST_GUILESS_MAIN(tst_KTDatabaseParser)
#include "tst_ktdatabaseparser.moc"
