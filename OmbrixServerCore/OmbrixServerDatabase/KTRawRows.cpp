#include "KTRawRows.h"

#include <QDate>
#include <QDateTime>

#include <mysql.h>

namespace {

MYSQL_RES* stored(void* result)
{
    return static_cast<MYSQL_RES*>(result);
}

} // namespace

KTRawRows::KTRawRows(void* result)
    : _result(result)
{
    const unsigned int count = mysql_num_fields(stored(_result));
    const MYSQL_FIELD* fields = mysql_fetch_fields(stored(_result));
    _kinds.reserve(count);
    for (unsigned int k = 0; k < count; ++k) {
        switch (fields[k].type) {
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE: _kinds << Kind::Date; break;
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP: _kinds << Kind::DateTime; break;
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_YEAR:
            // Integers are sent as their digits; only zero fill differs from the number's own text.
            _kinds << ((fields[k].flags & ZEROFILL_FLAG) ? Kind::Integer : Kind::AsSent);
            break;
        default: _kinds << Kind::AsSent;
        }
    }
    _converted.resize(count);
}

KTRawRows::~KTRawRows()
{
    mysql_free_result(stored(_result));
}

qint64 KTRawRows::size() const
{
    return qint64(mysql_num_rows(stored(_result)));
}

bool KTRawRows::next()
{
    _row = mysql_fetch_row(stored(_result));
    _lengths = _row ? mysql_fetch_lengths(stored(_result)) : nullptr;
    return _row != nullptr;
}

QByteArrayView KTRawRows::value(int column) const
{
    return _row[column] ? QByteArrayView(_row[column], qsizetype(_lengths[column])) : QByteArrayView();
}

// Dates go through Qt's types as the driver reads them, so that a zero or
// invalid date reads empty and a time stamp in the driver's ISO form.
QByteArrayView KTRawRows::text(int column)
{
    const QByteArrayView sent = value(column);
    if (sent.isEmpty())
        return sent;
    QByteArray& converted = _converted[column];
    switch (_kinds.at(column)) {
    case Kind::AsSent: return sent;
    case Kind::Date:
        return QDate::fromString(QString::fromLatin1(sent), Qt::ISODate).isValid() ? sent : QByteArrayView();
    case Kind::DateTime: {
        QString stamp = QString::fromLatin1(sent);
        if (stamp.size() == 14)
            stamp.insert(4, u'-').insert(7, u'-').insert(10, u'T').insert(13, u':').insert(16, u':');
        converted = QDateTime::fromString(stamp, Qt::ISODate).toString(Qt::ISODateWithMs).toLatin1();
        return converted;
    }
    case Kind::Integer:
        converted = sent.startsWith('-') ? QByteArray::number(sent.toLongLong()) : QByteArray::number(sent.toULongLong());
        return converted;
    }
    return sent;
}
