#include "KTTableDefinitionReader.h"

#include <KTDbTable.h>

#include <QCoreApplication>
#include <QDomDocument>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("KTDatabaseParser", text);
}

QString simplifiedText(const QDomElement& element)
{
    return element.text().simplified();
}

} // namespace

KTTableDefinitionReader::KTTableDefinitionReader(const QString& tableName)
    : _tableName(tableName)
{
}

QString KTTableDefinitionReader::errorText() const
{
    return _error;
}

KTDbTable* KTTableDefinitionReader::read(const QString& tableDefinition)
{
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(tableDefinition, &message, &line, &column)) {
        _error = tr("Error al cargar la tabla : '%1'. Nro. Línea %2, Nro. Columna %3. Mensaje de error : '%4'")
                     .arg(_tableName).arg(line).arg(column).arg(message);
        return nullptr;
    }
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("Table")) {
        _error = tr("Error al cargar la tabla : '%1'. El archivo no tiene el formato correcto.").arg(_tableName);
        return nullptr;
    }

    auto* table = new KTDbTable;
    table->_tableName = _tableName;
    table->_originalXML = tableDefinition;
    table->_alias = tableText(root, QStringLiteral("TableAlias"));
    table->_description = tableText(root, QStringLiteral("TableDescription"));
    table->_version = tableText(root, QStringLiteral("TableVersion"));
    table->_labelField = tableText(root, QStringLiteral("LabelField"));
    table->_browseField = tableText(root, QStringLiteral("BrowseField"));
    QStringList inputWhenForeign;
    for (const QString& name : tableText(root, QStringLiteral("InputWhenForeignFields")).split(QLatin1Char(',')))
        if (!name.simplified().isEmpty())
            inputWhenForeign << name.simplified();

    readFields(root, table, inputWhenForeign);
    if (_ok)
        readPrimaryKey(root, table);
    if (_ok)
        readIndexes(root, table);
    if (_ok)
        readForeignKeys(root, table);
    if (_ok)
        return table;

    _error = tr("Error al cargar la tabla : '%1'. %2").arg(_tableName, _error);
    delete table;
    return nullptr;
}

QString KTTableDefinitionReader::tableText(const QDomElement& root, const QString& tag)
{
    const QDomElement element = root.firstChildElement(tag);
    if (element.isNull()) {
        fail(tr("La definición de la tabla : '%1', no posee tag <%2>").arg(_tableName, tag));
        return QString();
    }
    return simplifiedText(element);
}

void KTTableDefinitionReader::readFields(const QDomElement& root, KTDbTable* table,
                                         const QStringList& inputWhenForeign)
{
    const QString tag = QStringLiteral("Field");
    QDomElement element = root.firstChildElement(tag);
    if (element.isNull())
        fail(tr("La definición de la tabla : '%1', no posee ningún tag <Field>").arg(_tableName));
    for (; !element.isNull(); element = element.nextSiblingElement(tag)) {
        table->_tableFields.emplace_back();
        _TableField& field = table->_tableFields.back();
        readField(element, field);
        if (inputWhenForeign.contains(field.name))
            table->_inputWhenForeignFields << &field;
    }
}

void KTTableDefinitionReader::readField(const QDomElement& element, _TableField& field)
{
    const QString parentTag = QStringLiteral("Field");
    field.name = simplifiedText(child(element, QStringLiteral("FieldName"), parentTag));
    field.alias = simplifiedText(child(element, QStringLiteral("FieldAlias"), parentTag));
    field.toolTip = simplifiedText(child(element, QStringLiteral("FieldToolTip"), parentTag));
    // The one value compared as written: " TRUE" or "true" make the column NOT NULL.
    field.canBeNull = child(element, QStringLiteral("Null"), parentTag).text() == QLatin1String("TRUE");
    field.type = simplifiedText(child(element, QStringLiteral("Type"), parentTag));
    field.typeModifier = simplifiedText(child(element, QStringLiteral("TypeModifier"), parentTag));
    field.defaultValue = simplifiedText(child(element, QStringLiteral("Default"), parentTag));
    field.regExp = simplifiedText(child(element, QStringLiteral("RegExp"), parentTag));
    field.format = simplifiedText(child(element, QStringLiteral("Format"), parentTag));
}

void KTTableDefinitionReader::readPrimaryKey(const QDomElement& root, KTDbTable* table)
{
    const QString tag = QStringLiteral("PrimaryKey");
    const QDomElement element = root.firstChildElement(tag);
    if (element.isNull()) {
        fail(tr("La definición de la tabla : '%1', no posee tag <PrimaryKey>").arg(_tableName));
        return;
    }
    table->_primaryKey.keyField = knownField(table, child(element, QStringLiteral("IndexField"), tag), tag);
    table->_primaryKey.autoIncrement =
        simplifiedText(child(element, QStringLiteral("AutoIncrement"), tag)) == QLatin1String("TRUE");
}

void KTTableDefinitionReader::readIndexes(const QDomElement& root, KTDbTable* table)
{
    const QString tag = QStringLiteral("Index");
    for (QDomElement element = root.firstChildElement(tag); !element.isNull();
         element = element.nextSiblingElement(tag)) {
        _TableIndex index;
        const QDomElement first = child(element, QStringLiteral("IndexField"), tag);
        index.field = knownField(table, first, QStringLiteral("IndexName"));
        const QDomElement second = first.nextSiblingElement(QStringLiteral("IndexField"));
        if (!second.isNull())
            index.field2 = knownField(table, second, QStringLiteral("IndexName"));
        index.name = simplifiedText(child(element, QStringLiteral("IndexName"), tag));
        index.isUnique = simplifiedText(child(element, QStringLiteral("Unique"), tag)) == QLatin1String("TRUE");
        table->_tableIndexes << index;
    }
}

void KTTableDefinitionReader::readForeignKeys(const QDomElement& root, KTDbTable* table)
{
    const QString tag = QStringLiteral("ForeignKey");
    for (QDomElement element = root.firstChildElement(tag); !element.isNull();
         element = element.nextSiblingElement(tag)) {
        _ForeignKey key;
        key.field = knownField(table, child(element, QStringLiteral("KeyField"), tag), QStringLiteral("KeyField"));
        key.name = simplifiedText(child(element, QStringLiteral("ForeignKeyName"), tag));
        key.foreignTableName = simplifiedText(child(element, QStringLiteral("ForeignTable"), tag));
        key.onUpdate = simplifiedText(child(element, QStringLiteral("OnUpdate"), tag));
        key.onDelete = simplifiedText(child(element, QStringLiteral("OnDelete"), tag));
        table->_tableForeignKeys << key;
    }
}

QDomElement KTTableDefinitionReader::child(const QDomElement& parent, const QString& tag, const QString& parentTag)
{
    const QDomElement element = parent.firstChildElement(tag);
    if (element.isNull())
        fail(tr("La definición de la tabla : '%1', contiene tag <%2> sin tag <%3>").arg(_tableName, parentTag, tag));
    return element;
}

// The field an element names; a missing element was reported by child() already.
_TableField* KTTableDefinitionReader::knownField(KTDbTable* table, const QDomElement& element,
                                                 const QString& referringTag)
{
    if (element.isNull())
        return nullptr;
    _TableField* field = table->dbField(simplifiedText(element));
    if (!field)
        fail(tr("La definición de la tabla : '%1', no posee el campo referido por tag <%2>").arg(_tableName, referringTag));
    return field;
}

void KTTableDefinitionReader::fail(const QString& message)
{
    _ok = false;
    _error = message;
}
