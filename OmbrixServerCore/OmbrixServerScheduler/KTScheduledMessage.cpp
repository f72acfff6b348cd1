#include "KTScheduledMessage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDate>
#include <QTime>

KTScheduledMessage::KTScheduledMessage(const QString& command)
    : _values(command.split(QLatin1Char(',')))
{
    _error = check();
    if (isValid())
        _text = QString::fromUtf8(QByteArray::fromBase64(_values.at(Text).toLatin1()));
}

bool KTScheduledMessage::isNumber(const QString& text)
{
    bool numeric = false;
    text.trimmed().toULongLong(&numeric);
    return numeric;
}

QString KTScheduledMessage::check() const
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("KTScheduledMessage", text); };
    if (_values.size() != Size)
        return tr("el mensaje planificado no tiene 14 valores");
    const QString key = _values.at(Key).trimmed();
    if (key != QLatin1String("NULL") && !isNumber(key))
        return tr("el código del mensaje no es un número");
    for (int k : {int(SourceUser), int(TargetGroup)})
        if (!isNumber(_values.at(k)))
            return tr("el remitente o el grupo del mensaje no es un número");
    for (int k = System; k < Size; ++k)
        if (!isNumber(_values.at(k)))
            return tr("un valor de sistema del mensaje no es un número");
    if (!QDate::fromString(_values.at(Date).trimmed(), QStringLiteral("yyyy-MM-dd")).isValid())
        return tr("la fecha del mensaje no es válida");
    const QString time = _values.at(Time).trimmed();
    if (!QTime::fromString(time, QStringLiteral("HH:mm:ss")).isValid()
        && !QTime::fromString(time, QStringLiteral("HH:mm")).isValid())
        return tr("la hora del mensaje no es válida");
    const QByteArray text = _values.at(Text).trimmed().toLatin1();
    if (QString::fromLatin1(text) != _values.at(Text).trimmed()
        || QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors).decodingStatus
            != QByteArray::Base64DecodingStatus::Ok)
        return tr("el texto del mensaje no está en Base64");
    return QString();
}

QStringList KTScheduledMessage::messageRow(const Quoter& quote) const
{
    QStringList row{_values.at(Key).trimmed(), _values.at(SourceUser).trimmed(), _values.at(TargetGroup).trimmed(),
                    quote(_values.at(Date).trimmed()), quote(_values.at(Time).trimmed())};
    row << quote(_values.at(Subject)) << quote(_values.at(Reference)) << quote(_text);
    return row + systemValues();
}

QStringList KTScheduledMessage::systemValues() const
{
    QStringList values;
    for (int k = System; k < Size; ++k)
        values << _values.at(k).trimmed();
    return values;
}

QStringList KTScheduledMessage::notificationValues() const
{
    return _values.mid(Date, Size - Date);
}
