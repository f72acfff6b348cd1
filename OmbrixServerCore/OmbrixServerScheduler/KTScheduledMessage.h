#ifndef KTSCHEDULEDMESSAGE_H
#define KTSCHEDULEDMESSAGE_H

#include <QString>
#include <QStringList>

#include <functional>

// The message row a scheduled task creates, read from the task's command
// text: fourteen values separated by ",", the message's own eight columns
// (the text in Base64) and its six system values. Every value is checked for
// its type before any of it goes into a statement.
class KTScheduledMessage
{
public:
    using Quoter = std::function<QString(const QString&)>;

    explicit KTScheduledMessage(const QString& command);

    bool isValid() const { return _error.isEmpty(); }
    // Why the command cannot be used, in the operator's words; empty when valid.
    QString error() const { return _error; }

    // The values of the comMessage row, texts quoted by quote.
    QStringList messageRow(const Quoter& quote) const;
    // The six system values the message and its delivery rows share.
    QStringList systemValues() const;
    // Date, time, subject, reference, Base64 text and system values, as the
    // notification row carries them.
    QStringList notificationValues() const;
    // The user the message says it comes from.
    QString sourceUser() const { return _values.value(SourceUser).trimmed(); }

    // Unsigned whole numbers: the only values that go into statements unquoted.
    static bool isNumber(const QString& text);

private:
    enum Value { Key, SourceUser, TargetGroup, Date, Time, Subject, Reference, Text, System, Size = 14 };

    QString check() const;

    QStringList _values;
    QString _text;
    QString _error;
};

#endif
