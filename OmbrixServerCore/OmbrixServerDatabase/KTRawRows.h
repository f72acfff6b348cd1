#ifndef KTRAWROWS_H
#define KTRAWROWS_H

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The rows of one finished select as the client library holds them: each
// value is read as the bytes MariaDB sent, with no QVariant in between.
// text() gives what the Qt driver's value would read as text (NULL empty,
// a date in ISO form), still as UTF-8 bytes.
class KTRawRows
{
public:
    // Takes over a stored result of the client library (MYSQL_RES*).
    explicit KTRawRows(void* result);
    ~KTRawRows();
    KTRawRows(const KTRawRows&) = delete;
    KTRawRows& operator=(const KTRawRows&) = delete;

    qint64 size() const;
    int columnCount() const { return int(_kinds.size()); }
    // Moves to the next row; false after the last.
    bool next();
    bool isNull(int column) const { return !_row[column]; }
    // The bytes of a value of the current row; valid until the next row.
    QByteArrayView value(int column) const;
    // The value as text; valid until the next row.
    QByteArrayView text(int column);

private:
    // How a column's bytes become the text the driver would give.
    enum class Kind : char { AsSent, Date, DateTime, Integer };

    void* _result = nullptr;
    char** _row = nullptr;
    unsigned long* _lengths = nullptr;
    QList<Kind> _kinds;
    QList<QByteArray> _converted;
};

#endif
