#include "KTDbSercom.h"

#include "KTSercomResponse.h"
#include "KTXmlText.h"

#include <KT.h>
#include <KTDatabaseController.h>
#include <KTDbTable.h>
#include <KTMainWindow.h>
#include <KTRawRows.h>

#include <QDateTime>
#include <QSqlQuery>
#include <QVarLengthArray>

#include <algorithm>

namespace {

const QString userLogTable = QStringLiteral("dbaUserLog");

bool hasEmptiedZero(const QString& fieldName)
{
    for (const char* prefix : {"cod", "cos", "par", "blb"})
        if (fieldName.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

} // namespace

const QStringList KTDbSercom::systemFields{
    QStringLiteral("sysEnabled"), QStringLiteral("sysEditable"), QStringLiteral("sysAuthorized"),
    QStringLiteral("sysVisible"), QStringLiteral("sysContext"), QStringLiteral("sysAuthorizationGroup")};

KTDbSercom::KTDbSercom(const QString& name, const QString& label, bool broadcast, bool writesLog, QObject* parent)
    : KTSercomBase(parent)
    , _name(name)
    , _label(label)
    , _broadcast(broadcast)
    , _writesLog(writesLog)
{
}

QString KTDbSercom::name() { return _name; }
QString KTDbSercom::label() { return _label; }
bool KTDbSercom::broadcast() { return _broadcast; }

void KTDbSercom::postSetup()
{
    _dbController = nullptr;
}

// The socket relays the controller's events itself; relaying them here too
// would log each of them once more per component.
void KTDbSercom::setDbController(KTDatabaseController* dbController)
{
    if (_dbController == dbController)
        return;
    _dbController = dbController;
    if (_dbController)
        connect(_dbController, &KTDatabaseController::updateTableRecordDataModelRequested, this,
                &KTDbSercom::updateTableRecordDataModelRequested);
}

// The log row is part of the request's transaction, so its counters wait for
// the commit like the request's own.
void KTDbSercom::log(const QString& user, const QString& objectType, const QString& objectKey,
                     const QString& actionKey, const QString& date, const QString& time, const QString& key)
{
    if (!_writesLog || !_dbController)
        return;
    _dbController->insertRecords(userLogTable,
                                 {{QStringLiteral("NULL"), user, objectType, objectKey, actionKey, key, date, time,
                                   QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                   QStringLiteral("0"), QStringLiteral("1")}},
                                 noModifiers(), QStringList());
    QList<int> counters = recordCounters(QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1"),
                                         QStringLiteral("2"));
    counters[Inserts] = 1;
    addModifiers(userLogTable, counters);
}

QList<int> KTDbSercom::recordCounters(const QString& enabled, const QString& editable, const QString& authorized,
                                      const QString& visible)
{
    QList<int> counters = noModifiers();
    bool numeric = false;
    if (const int value = enabled.toInt(&numeric); numeric)
        ++counters[value != 0 ? EnabledRecords : DisabledRecords];
    if (const int value = authorized.toInt(&numeric); numeric)
        ++counters[value != 0 ? AuthorizedRecords : NotAuthorizedRecords];
    if (const int value = editable.toInt(&numeric); numeric && value >= 0 && value <= 2)
        ++counters[SuperUserAccessRecords - value];
    if (const int value = visible.toInt(&numeric); numeric && value >= 0 && value <= 2)
        ++counters[SuperUserVisibleRecords - value];
    counters[TotalRecords] = 1;
    return counters;
}

void KTDbSercom::readIdentity(const QMultiMap<QString, QString>& params)
{
    _user = params.value(QStringLiteral("_UserLogin"));
    _userCod = params.value(QStringLiteral("_UserCod"));
    _userType = params.value(QStringLiteral("_UserType")).toInt();
    _group = params.value(QStringLiteral("_Group"));
    _objectType = params.value(QStringLiteral("_ObjectType"));
    _objectName = params.value(QStringLiteral("_ObjectName"));
    _objectNameEmbedded = params.value(QStringLiteral("_ObjectNameEmbedded"));
    _recordCondition = params.value(QStringLiteral("_RecordCondition"));
}

QString KTDbSercom::withRecordCondition(const QString& condition) const
{
    if (_recordCondition.isEmpty())
        return condition;
    return condition.isEmpty() ? _recordCondition : QStringLiteral("(%1) AND %2").arg(condition, _recordCondition);
}

bool KTDbSercom::recordExists(const QString& tableName, const QString& condition) const
{
    QSqlQuery count = _dbController->select(tableName, {QStringLiteral("COUNT(*)")}, condition, QString(), QString(),
                                            QString());
    return count.next() && count.value(0).toLongLong() > 0;
}

KTDbTable* KTDbSercom::definition(const QString& tableName) const
{
    return _dbController ? _dbController->dbDefinitionMap().value(tableName) : nullptr;
}

QString KTDbSercom::primaryKeyName(KTDbTable* table)
{
    return table && table->_primaryKey.keyField ? table->_primaryKey.keyField->name : QString();
}

QString KTDbSercom::keyExpression(const QString& firstValue) const
{
    if (firstValue != QLatin1String("NULL") || !_dbController)
        return firstValue;
    // The dialect's complete select of the last generated key, as a sub-query.
    return QStringLiteral("( %1 )").arg(_dbController->lastInsertID().chopped(1));
}

QString KTDbSercom::refuse(const QString& message)
{
    _lastResult = false;
    _lastMessage = QStringLiteral("%1 > %2").arg(_objectName, message);
    report(tr("%1 > %2. Usuario '%3' con ID de Conexión : '%4'").arg(_objectName, message, _user).arg(_connectionID),
           KT::WarningMessage);
    return failureResponse(_lastMessage);
}

KTSercomResponse::Attributes KTDbSercom::rootAttributes() const
{
    return {{QStringLiteral("ObjectType"), _objectType}, {QStringLiteral("ObjectName"), _objectName}};
}

KTSercomResponse KTDbSercom::answer(const QString& outcome) const
{
    return KTSercomResponse(rootAttributes(), outcome);
}

QString KTDbSercom::failureResponse(const QString& message, bool withParentComponent,
                                    const QString& parentComponent) const
{
    KTSercomResponse response = answer(QStringLiteral("LogMessage"));
    response.text(QStringLiteral("Status"), QStringLiteral("0")).text(QStringLiteral("Message"), message);
    if (withParentComponent)
        response.text(QStringLiteral("ParentComponent"), parentComponent);
    return response.toString();
}

QList<int> KTDbSercom::noModifiers()
{
    return QList<int>(CounterCount, 0);
}

void KTDbSercom::ensureModifiers(const QString& tableName)
{
    if (_transactionModifiers && !_transactionModifiers->contains(tableName))
        _transactionModifiers->insert(tableName, noModifiers());
}

void KTDbSercom::addModifiers(const QString& tableName, const QList<int>& deltas)
{
    if (!_transactionModifiers)
        return;
    QList<int>& counters = (*_transactionModifiers)[tableName];
    counters.resize(CounterCount);
    for (int i = 0; i < CounterCount && i < deltas.size(); ++i)
        counters[i] += deltas.at(i);
}

QString KTDbSercom::sqlValue(KTDbTable* table, const QString& fieldName, const QString& value) const
{
    QString text = value.startsWith(QLatin1String("LID")) ? recordedKey(value) : value;
    const _TableField* field = table ? table->dbField(fieldName) : nullptr;
    if (field && field->format == QLatin1String("5")) {
        // Bytes go in as a literal of their own: as text they would end the
        // statement at the first quote or break at the first invalid character.
        const QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
        text = QStringLiteral("X'%1'").arg(QString::fromLatin1(bytes.toHex()));
    }
    return text;
}

QString KTDbSercom::recordedKey(const QString& reference) const
{
    const QStringList parts = reference.split(QLatin1Char('-'));
    const QString table = parts.value(1).trimmed();
    bool numeric = false;
    const int line = parts.value(2).trimmed().toInt(&numeric);
    if (!numeric || !_lastKeysMap || !_lastKeysMap->value(table).contains(line))
        return QStringLiteral("0");
    return QString::number(_lastKeysMap->value(table).value(line));
}

void KTDbSercom::recordKey(const QString& tableName, int lineNumber, const QString& key)
{
    if (_lastKeysMap)
        (*_lastKeysMap)[tableName].insert(lineNumber, key.toULongLong());
}

KTDbSercom::Rows KTDbSercom::readRows(QSqlQuery& query, KTDbTable* table, const QStringList& fields,
                                      bool resolved, int binaryEnd) const
{
    Rows rows;
    if (binaryEnd < 0)
        binaryEnd = int(fields.size() - systemFields.size());
    const QList<Column> columns = columnPlan(table, fields, resolved, binaryEnd);
    // Without resolved keys there is no display column: the display row is the row itself.
    const bool display = std::any_of(columns.cbegin(), columns.cend(), [](const Column& c) { return c.resolvedKey; });
    QString values;
    QString labels;
    QString key;
    while (query.next()) {
        values.truncate(0);
        labels.truncate(0);
        appendRow(query, columns, &values, display ? &labels : nullptr, &key);
        rows.keys << key;
        // Copied at their size, so that the buffers keep their room for the next row.
        rows.values << QString(values.constData(), values.size());
        rows.display << (display ? QString(labels.constData(), labels.size()) : rows.values.constLast());
    }
    return rows;
}

// What each field needs, found once per select rather than once per value.
QList<KTDbSercom::Column> KTDbSercom::columnPlan(KTDbTable* table, const QStringList& fields, bool resolved,
                                                 int binaryEnd)
{
    QList<Column> columns;
    columns.reserve(fields.size());
    for (int k = 0; k < fields.size(); ++k) {
        const QString& name = fields.at(k);
        const _TableField* field = k < binaryEnd && table ? table->dbField(name) : nullptr;
        Column column;
        column.binary = field && field->format == QLatin1String("5");
        column.emptiedZero = hasEmptiedZero(name);
        column.resolvedKey = !column.binary && resolved && table && table->resolvedKeyIndex(name) >= 0;
        columns << column;
    }
    return columns;
}

// A resolved key is followed in the select by its label column, which is
// the key's display form; binary fields travel as Base64; a zero reference
// means "none" and travels empty. Values are joined by "|"; labels, when
// asked for, get the display form of each.
void KTDbSercom::appendRow(const QSqlQuery& query, const QList<Column>& columns, QString* values, QString* labels,
                           QString* key)
{
    key->clear();
    int position = 0;
    for (int k = 0; k < columns.size(); ++k, ++position) {
        const Column& column = columns.at(k);
        if (k > 0) {
            values->append(QLatin1Char('|'));
            if (labels)
                labels->append(QLatin1Char('|'));
        }
        QString value = column.binary ? QString::fromLatin1(query.value(position).toByteArray().toBase64())
                                      : KTDatabaseController::valueText(query.value(position));
        if (!column.binary && column.emptiedZero && value == QLatin1String("0"))
            value.clear();
        if (k == 0)
            *key = value;
        values->append(value);
        if (column.resolvedKey)
            ++position;
        if (labels)
            labels->append(value.isEmpty() || !column.resolvedKey ? value
                                                                  : KTDatabaseController::valueText(query.value(position)));
    }
}

// Each value is looked at once: its text (or Base64) is kept as a view for
// the "Row" and the "RowDisp" and escaped straight into the answer.
void KTDbSercom::writeRows(KTRawRows& rows, KTDbTable* table, const QStringList& fields, bool resolved,
                           KTSercomResponse& response) const
{
    const QList<Column> columns = columnPlan(table, fields, resolved, int(fields.size() - systemFields.size()));
    const bool display = std::any_of(columns.cbegin(), columns.cend(), [](const Column& c) { return c.resolvedKey; });
    const qsizetype count = columns.size();
    QVarLengthArray<QByteArrayView, 64> values(count);
    QVarLengthArray<QByteArrayView, 64> labels(count);
    QList<QByteArray> encoded(count);
    while (rows.next()) {
        rowTexts(rows, columns, values.data(), display ? labels.data() : nullptr, encoded.data());
        response.element(QLatin1StringView("Row"), [&](QString* document) {
            appendJoined(document, values.constData(), count);
        });
        response.element(QLatin1StringView("RowDisp"), [&](QString* document) {
            appendJoined(document, display ? labels.constData() : values.constData(), count);
        });
    }
}

// appendRow()'s rules over raw values.
void KTDbSercom::rowTexts(KTRawRows& rows, const QList<Column>& columns, QByteArrayView* values,
                          QByteArrayView* labels, QByteArray* encoded)
{
    int position = 0;
    for (int k = 0; k < columns.size(); ++k, ++position) {
        const Column& column = columns.at(k);
        QByteArrayView value;
        if (column.binary) {
            const QByteArrayView bytes = rows.value(position);
            encoded[k] = QByteArray::fromRawData(bytes.data(), bytes.size()).toBase64();
            value = encoded[k];
        } else {
            value = rows.text(position);
            if (column.emptiedZero && value == QByteArrayView("0"))
                value = QByteArrayView();
        }
        values[k] = value;
        if (column.resolvedKey)
            ++position;
        if (labels)
            labels[k] = value.isEmpty() || !column.resolvedKey ? value : rows.text(position);
    }
}

void KTDbSercom::appendJoined(QString* document, const QByteArrayView* texts, qsizetype count)
{
    for (qsizetype k = 0; k < count; ++k) {
        if (k > 0)
            document->append(QLatin1Char('|'));
        KTXmlText::append(document, texts[k]);
    }
}

QList<quint64> KTDbSercom::tableStats(const QString& tableName, bool* published)
{
    KTMainWindow* window = KTMainWindow::mainWindowInstance();
    QList<quint64> stats = window ? window->tableMainStats(tableName) : QList<quint64>();
    if (published)
        *published = stats.size() >= StatisticCount;
    stats.resize(StatisticCount, 0);
    return stats;
}

// Administrators see the records visible to them and to normal users,
// normal users only their own; any other type sees nothing.
quint64 KTDbSercom::visibleCount(const QList<quint64>& stats) const
{
    switch (_userType) {
    case 1: return stats.at(StatNormalVisible) + stats.at(StatAdminVisible) + stats.at(StatSuperVisible);
    case 2: return stats.at(StatNormalVisible) + stats.at(StatAdminVisible);
    case 3: return stats.at(StatNormalVisible);
    default: return 0;
    }
}

bool KTDbSercom::logRecords(const QStringList& keys, const QString& actionKey)
{
    if (_objectType != QLatin1String("Component") || !_dbController)
        return false;
    QSqlQuery component = _dbController->select(QStringLiteral("srvComponent"), {QStringLiteral("pkyComponent")},
                                                QStringLiteral("fldName = %1").arg(_dbController->quoted(_objectName)),
                                                QString(), QString(), QString());
    const QString componentKey = component.next() ? component.value(0).toString() : QStringLiteral("0");
    const QDateTime now = QDateTime::currentDateTime();
    const QString date = QStringLiteral("'%1'").arg(now.toString(QStringLiteral("yyyy-MM-dd")));
    const QString time = QStringLiteral("'%1'").arg(now.toString(QStringLiteral("hhmmss")));
    const QString lastKey = lastGeneratedKey();
    for (const QString& key : keys)
        log(_userCod, QStringLiteral("2"), componentKey, actionKey, date, time, key);
    // A later action's "NULL" key means the request's own last generated key,
    // not the log row's: give the connection its key back (MySQL keeps it per
    // connection and lets LAST_INSERT_ID(n) set it).
    if (!keys.isEmpty() && !lastKey.isEmpty())
        _dbController->customQuery(QStringLiteral("SELECT LAST_INSERT_ID(%1)").arg(lastKey));
    return true;
}

QString KTDbSercom::lastGeneratedKey() const
{
    QSqlQuery query = _dbController->customQuery(_dbController->lastInsertID());
    return query.next() ? QString::number(query.value(0).toULongLong()) : QString();
}

void KTDbSercom::report(const QString& message, int type)
{
    emit eventMessage(message, type, source());
}

QString KTDbSercom::source() const
{
    return QString::fromLatin1(metaObject()->className()) + QStringLiteral("::processRequest()");
}
