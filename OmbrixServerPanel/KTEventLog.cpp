#include "KTEventLog.h"

#include <KT.h>
#include <KTLocalClock.h>

#include <QDateTime>
#include <QDir>
#include <QMutexLocker>
#include <QRegularExpression>

#include <cstdio>
#include <unistd.h>

namespace {

const QString filePrefix = QStringLiteral("OmbrixServer-");
const QString fileSuffix = QStringLiteral(".log");

QString eventType(int type)
{
    switch (type) {
    case KT::ErrorMessage: return KTEventLog::tr("Error");
    case KT::BugMessage: return KTEventLog::tr("Fallo");
    case KT::WarningMessage: return KTEventLog::tr("Advertencia");
    case KT::InformationMessage: return KTEventLog::tr("Información");
    case KT::SuccessMessage: return KTEventLog::tr("Éxito");
    case KT::ClientErrorMessage: return KTEventLog::tr("Error del cliente");
    case KT::ClientBugMessage: return KTEventLog::tr("Fallo del cliente");
    case KT::ClientWarningMessage: return KTEventLog::tr("Advertencia del cliente");
    case KT::ClientInformationMessage: return KTEventLog::tr("Información del cliente");
    case KT::ClientSuccessMessage: return KTEventLog::tr("Éxito del cliente");
    default: return QString::number(type);
    }
}

// syslog's levels: the server's own errors are errors, a client's are notices.
int journalPriority(int type)
{
    switch (type) {
    case KT::ErrorMessage:
    case KT::BugMessage: return 3;
    case KT::WarningMessage: return 4;
    case KT::ClientErrorMessage:
    case KT::ClientBugMessage:
    case KT::ClientWarningMessage: return 5;
    default: return 6;
    }
}

QString qtType(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return KTEventLog::tr("Depuración Qt");
    case QtInfoMsg: return KTEventLog::tr("Información Qt");
    case QtWarningMsg: return KTEventLog::tr("Advertencia Qt");
    case QtCriticalMsg: return KTEventLog::tr("Error Qt");
    case QtFatalMsg: return KTEventLog::tr("Error fatal Qt");
    }
    return QString();
}

// One event, one line: line breaks inside a message are written as "\n".
QString oneLine(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\\n"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\r'), QLatin1String("\\n"))
        .replace(QLatin1Char('\t'), QLatin1Char(' '));
}

} // namespace

KTEventLog::KTEventLog(const QString& directory, QObject* parent)
    : QObject(parent)
    , _directory(directory)
    , _echo(isatty(STDERR_FILENO))
{
}

QString KTEventLog::filePath(const QDate& date) const
{
    return _directory + QLatin1Char('/') + filePrefix + date.toString(QStringLiteral("yyyy-MM-dd")) + fileSuffix;
}

void KTEventLog::removeOlderThan(int keepDays)
{
    const QDate oldest = QDate::currentDate().addDays(-keepDays);
    static const QRegularExpression name(QStringLiteral("^OmbrixServer-(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    QDir directory(_directory);
    for (const QString& fileName : directory.entryList({filePrefix + QStringLiteral("*") + fileSuffix}, QDir::Files)) {
        const QRegularExpressionMatch match = name.match(fileName);
        const QDate date = match.hasMatch() ? QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd")) : QDate();
        if (date.isValid() && date < oldest)
            directory.remove(fileName);
    }
}

void KTEventLog::appendEvent(const QString& message, int type, const QString& objectLocation)
{
    write(KTLocalClock::now(), eventType(type), objectLocation, message, _echo, journalPriority(type));
}

void KTEventLog::writeEvent(const KTEvent& event)
{
    write(KTLocalClock::at(event.msecsSinceEpoch), eventType(event.type), event.location, event.message, _echo,
          journalPriority(event.type));
}

void KTEventLog::appendQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    const QString location = category.isEmpty() || category == QLatin1String("default")
        ? QStringLiteral("Qt") : QStringLiteral("Qt (%1)").arg(category);
    // Qt writes its own messages to standard error already.
    write(KTLocalClock::now(), qtType(type), location, message, false);
}

void KTEventLog::write(const QDateTime& now, const QString& type, const QString& location, const QString& text,
                       bool echo, int priority)
{
    const QByteArray line = (QStringList{now.toString(QStringLiteral("yyyy-MM-dd")),
                                         now.toString(QStringLiteral("hh:mm:ss")), type, oneLine(location),
                                         oneLine(text)}.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8();
    QMutexLocker locker(&_mutex);
    if (openFor(now.date())) {
        _file.write(line);
        _file.flush();
    }
    if (echo) {
        if (_journalPriorities)
            std::fprintf(stderr, "<%d>", priority);
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }
}

// The file of the given day, opened for appending; a new day starts a new file.
bool KTEventLog::openFor(const QDate& date)
{
    if (_file.isOpen() && _fileDate == date)
        return true;
    _file.close();
    _fileDate = date;
    if (!QDir().mkpath(_directory))
        return false;
    _file.setFileName(filePath(date));
    return _file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}
