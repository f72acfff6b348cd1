#include "KTTestDefinitions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

QString KTTestDefinitions::table(const QString& alias, const QList<Field>& fields, const QList<ForeignKey>& keys,
                                 const QString& browseField)
{
    QString text = QStringLiteral("<Table><TableAlias>%1</TableAlias><TableDescription>Tabla %1</TableDescription>"
                                  "<TableVersion>1.0</TableVersion><LabelField>%2</LabelField>"
                                  "<BrowseField>%2</BrowseField><InputWhenForeignFields/>")
                       .arg(alias, browseField.isEmpty() ? fields.first().name : browseField);
    for (const Field& field : fields)
        text += QStringLiteral("<Field><FieldName>%1</FieldName><FieldAlias>Alias %1</FieldAlias>"
                               "<FieldToolTip>Ayuda %1</FieldToolTip><Null>FALSE</Null><Type>%2</Type>"
                               "<TypeModifier>%3</TypeModifier><Default/><RegExp/><Format>%4</Format></Field>")
                    .arg(field.name, field.type, field.modifier, field.format);
    text += QStringLiteral("<PrimaryKey><IndexField>%1</IndexField><AutoIncrement>TRUE</AutoIncrement></PrimaryKey>")
                .arg(fields.first().name);
    for (const ForeignKey& key : keys)
        text += QStringLiteral("<ForeignKey><KeyField>%1</KeyField><ForeignKeyName>fk%2%1</ForeignKeyName>"
                               "<ForeignTable>%3</ForeignTable><OnUpdate>CASCADE</OnUpdate>"
                               "<OnDelete>RESTRICT</OnDelete></ForeignKey>")
                    .arg(key.field, alias, key.table);
    return text + QStringLiteral("</Table>");
}

QString KTTestDefinitions::groupTable()
{
    return table(QStringLiteral("Grupos"), {{"pkyGroup", "MEDIUMINT", "UNSIGNED", ""},
                                            {"fldName", "VARCHAR", "40", ""}}, {}, QStringLiteral("fldName"));
}

bool KTTestDefinitions::write(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0;
}

bool KTTestDefinitions::writeLines(const QString& path, const QStringList& lines)
{
    return write(path, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

namespace {

const QString systemValues = QStringLiteral("|1|0|1|2|0|1");

QList<KTTestDefinitions::Field> recordDataFields()
{
    QList<KTTestDefinitions::Field> fields{{"pkyTableRecordData", "BIGINT", "UNSIGNED", ""},
                                           {"fldTableName", "VARCHAR", "60", ""},
                                           {"fldAlias", "VARCHAR", "120", ""},
                                           {"fldVersion", "VARCHAR", "20", ""}};
    for (const char* name : {"fldEnabledRecords", "fldDisabledRecords", "fldAuthorizedRecords",
                             "fldNotAuthorizedRecords", "fldNormalUserAccessRecords", "fldAdminUserAccessRecords",
                             "fldSuperUserAccessRecords", "fldNormalUserVisibleRecords",
                             "fldAdminUserVisibleRecords", "fldSuperUserVisibleRecords", "fldTotalRecords",
                             "fldInserts", "fldDeletes", "fldEdits"})
        fields << KTTestDefinitions::Field{name, "INTEGER", "", ""};
    fields << KTTestDefinitions::Field{"txtDescription", "VARCHAR", "200", ""};
    return fields;
}

} // namespace

QStringList KTTestDefinitions::writeSchema(const QString& tablesDir, const QString& dataDir)
{
    const QMap<QString, QString> definitions{
        {"accGroup", groupTable()},
        {"invCategory", table("Categorias", {{"pkyCategory", "BIGINT", "UNSIGNED", ""},
                                             {"fldName", "VARCHAR", "60", "5"}}, {}, "fldName")},
        {"invProduct", table("Productos", {{"pkyProduct", "BIGINT", "UNSIGNED", ""},
                                           {"fldName", "VARCHAR", "60", "3"},
                                           {"codCategory", "BIGINT", "UNSIGNED", ""},
                                           {"fldPrice", "DECIMAL", "10,2", "4"}},
                             {{"codCategory", "invCategory"}}, "fldName")},
        {"accUser", table("Usuarios", {{"pkyUser", "BIGINT", "UNSIGNED", ""}, {"fldLogin", "VARCHAR", "40", ""}})},
        {"accUserIdentifier", table("Identificadores", {{"pkyUserIdentifier", "BIGINT", "UNSIGNED", ""},
                                                        {"codUser", "BIGINT", "UNSIGNED", ""},
                                                        {"codType", "TINYINT", "UNSIGNED", ""},
                                                        {"fldKey", "VARCHAR", "100", ""},
                                                        {"fldExpirationDate", "DATE", "", ""}},
                                    {{"codUser", "accUser"}})},
        {"agnCompany", table("Empresas", {{"pkyCompany", "BIGINT", "UNSIGNED", ""},
                                          {"fldName", "VARCHAR", "80", ""},
                                          {"fldNIT", "VARCHAR", "20", ""},
                                          {"txtDescription", "VARCHAR", "200", ""},
                                          {"fldAlternativeKey", "VARCHAR", "20", ""}})},
        {"dbaTableRecordData", table("Estadisticas", recordDataFields())},
    };
    const QMap<QString, QStringList> data{
        {"accGroup", {"1|'Todos'" + systemValues, "2|'Administradores'" + systemValues}},
        {"invCategory", {"NULL|'Bebidas'" + systemValues, "NULL|'Panadería'" + systemValues}},
        {"invProduct", {"NULL|'Café molido'|1|12.50" + systemValues, "NULL|'Pan de molde'|2|3.20" + systemValues,
                        "NULL|'Agua mineral'|1|0.90|0|1|1|1|0|1"}},
        {"accUser", {"1|'sistema'" + systemValues, "2|'admin'" + systemValues}},
        {"accUserIdentifier", {"NULL|2|1|'clave'|'2020-01-01'" + systemValues}},
        {"agnCompany", {"1|'Ombrix'|''|'Proveedor'|''" + systemValues, "2|''|''|'   '|''" + systemValues}},
    };
    for (auto it = definitions.cbegin(); it != definitions.cend(); ++it)
        write(tablesDir + "/" + it.key() + ".otd", it.value());
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        writeLines(dataDir + "/" + it.key() + ".odd", it.value());
    return definitions.keys();
}
