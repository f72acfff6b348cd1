#ifndef KTDBSERCOM_H
#define KTDBSERCOM_H

#include "KTSercomResponse.h"

#include <KTSercomBase.h>

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

class KTDatabaseController;
class KTDbTable;
class KTRawRows;
class QSqlQuery;

// What every database component shares: the identity a request carries, the
// controller of the connection, the table's modifiers vector for the
// transaction, the row format of answers, key references between the actions
// of one request, the user log and the failure answer.
class KTDbSercom : public KTSercomBase
{
    Q_OBJECT
public:
    // Positions in the modifiers vector, in the column order of the table record data model.
    enum Counter {
        EnabledRecords, DisabledRecords, AuthorizedRecords, NotAuthorizedRecords, NormalUserAccessRecords,
        AdminUserAccessRecords, SuperUserAccessRecords, NormalUserVisibleRecords, AdminUserVisibleRecords,
        SuperUserVisibleRecords, TotalRecords, Inserts, Deletes, Edits, CounterCount
    };
    // Positions in the table statistics the control panel publishes.
    enum Statistic {
        StatTotal, StatInserts, StatDeletes, StatEdits, StatNormalVisible, StatAdminVisible, StatSuperVisible,
        StatisticCount
    };
    // The system columns that close every table and every whole row.
    static const QStringList systemFields;

    // The constants that tell components apart: the name requests use, the
    // label the panel shows, whether answers go to the other users and
    // whether the component keeps the user log.
    KTDbSercom(const QString& name, const QString& label, bool broadcast, bool writesLog, QObject* parent = nullptr);

    QString name() override;
    QString label() override;
    bool broadcast() override;
    // One row of the user log; the reading components log nothing.
    void log(const QString& user, const QString& objectType, const QString& objectKey, const QString& actionKey,
             const QString& date, const QString& time, const QString& key) override;
    void postSetup() override;

    // The counters a record with these system values counts in (total included).
    static QList<int> recordCounters(const QString& enabled, const QString& editable, const QString& authorized,
                                     const QString& visible);

public Q_SLOTS:
    void setDbController(KTDatabaseController* dbController);

protected:
    struct Rows {
        QStringList values;
        QStringList display;
        QStringList keys;
    };

    // Copies the requester's identity and client object into the state.
    void readIdentity(const QMultiMap<QString, QString>& params);
    KTDbTable* definition(const QString& tableName) const;
    // condition narrowed to the records the server lets the requester touch
    // (for a restricted user, those normal users may change or see).
    QString withRecordCondition(const QString& condition) const;
    bool hasRecordCondition() const { return !_recordCondition.isEmpty(); }
    bool recordExists(const QString& tableName, const QString& condition) const;
    static QString primaryKeyName(KTDbTable* table);
    // What names a row by its first value: the key the database generated
    // last on this connection for "NULL", the value itself otherwise.
    QString keyExpression(const QString& firstValue) const;
    // The failure answer for a request the component cannot run, with its warning event.
    QString refuse(const QString& message);
    // The attributes of every answer's root, in order: the client object that asked.
    virtual KTSercomResponse::Attributes rootAttributes() const;
    // An answer whose outcome element is outcome.
    KTSercomResponse answer(const QString& outcome) const;
    QString failureResponse(const QString& message, bool withParentComponent = false,
                            const QString& parentComponent = QString()) const;

    void ensureModifiers(const QString& tableName);
    void addModifiers(const QString& tableName, const QList<int>& deltas);
    static QList<int> noModifiers();

    // A row value as it goes into SQL: a key reference LID-table-line becomes
    // the key recorded earlier in the request, a binary field's Base64 text a
    // binary literal.
    QString sqlValue(KTDbTable* table, const QString& fieldName, const QString& value) const;
    QString recordedKey(const QString& reference) const;
    void recordKey(const QString& tableName, int lineNumber, const QString& key);

    // Every row of a finished select in the answers' row format. resolved:
    // the select carries a label column after each resolved key. Only the
    // first binaryEnd fields may be binary; -1: all but the system columns.
    Rows readRows(QSqlQuery& query, KTDbTable* table, const QStringList& fields, bool resolved,
                  int binaryEnd = -1) const;

    // The same rows, read raw, written straight into the answer as the
    // "Row" and "RowDisp" elements rows() writes for readRows()' result.
    void writeRows(KTRawRows& rows, KTDbTable* table, const QStringList& fields, bool resolved,
                   KTSercomResponse& response) const;

    // The table's statistics as the panel publishes them, always StatisticCount
    // long; published tells whether the panel had any for the table.
    static QList<quint64> tableStats(const QString& tableName, bool* published = nullptr);
    // How many of the table's records the requester may see.
    quint64 visibleCount(const QList<quint64>& stats) const;

    // Writes one user-log row per record key when the request comes from a
    // client component; false when it does not.
    bool logRecords(const QStringList& keys, const QString& actionKey);

    void report(const QString& message, int type);
    QString source() const;

    KTDatabaseController* _dbController = nullptr;
    QString _objectType;
    QString _objectName;
    QString _objectNameEmbedded;

private:
    const QString _name;
    const QString _label;
    QString _recordCondition;
    const bool _broadcast;
    const bool _writesLog;

    // How one field of a select turns into text.
    struct Column {
        bool binary = false;
        bool emptiedZero = false;
        bool resolvedKey = false;
    };

    QString lastGeneratedKey() const;
    static QList<Column> columnPlan(KTDbTable* table, const QStringList& fields, bool resolved, int binaryEnd);
    static void appendRow(const QSqlQuery& query, const QList<Column>& columns, QString* values, QString* labels,
                          QString* key);
    static void rowTexts(KTRawRows& rows, const QList<Column>& columns, QByteArrayView* values, QByteArrayView* labels,
                         QByteArray* encoded);
    static void appendJoined(QString* document, const QByteArrayView* texts, qsizetype count);
};

#endif
