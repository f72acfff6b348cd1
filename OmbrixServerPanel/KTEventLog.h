#ifndef KTEVENTLOG_H
#define KTEVENTLOG_H

#include <KTEventSink.h>

#include <QDate>
#include <QFile>
#include <QRecursiveMutex>
#include <QObject>

// The event log on disk, for a machine without a display and for after a
// crash: every event the panel relays, and Qt's own warnings, one line each
// (date, time, type, location, text, separated by tabs) in
// <directory>/OmbrixServer-<yyyy-MM-dd>.log. Each line is flushed as it is
// written. On a terminal (or when asked) the events also go to standard
// error.
class KTEventLog : public QObject, public KTEventSink
{
    Q_OBJECT
public:
    static constexpr int defaultKeepDays = 30;

    explicit KTEventLog(const QString& directory, QObject* parent = nullptr);

    QString filePath(const QDate& date) const;
    // Removes the files of the days more than keepDays before today.
    void removeOlderThan(int keepDays);
    // Qt's warnings and worse; safe from any thread.
    void appendQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);
    // Under a service manager standard error is the journal: the events go there too.
    void setEchoToStandardError(bool echo) { _echo = echo; }
    bool echoesToStandardError() const { return _echo; }
    // Echoed lines start with the syslog priority ("<3>" for an error), which
    // the journal reads as the line's priority (`journalctl -p err`).
    void setJournalPriorities(bool prefixed) { _journalPriorities = prefixed; }
    // An event at the time it happened; safe from any thread.
    void writeEvent(const KTEvent& event) override;

public Q_SLOTS:
    void appendEvent(const QString& message, int type, const QString& objectLocation);

private:
    void write(const QDateTime& time, const QString& type, const QString& location, const QString& text, bool echo,
               int priority = 6);
    bool openFor(const QDate& date);

    QString _directory;
    // Recursive: a Qt warning raised while a line is written comes back here.
    QRecursiveMutex _mutex;
    QFile _file;
    QDate _fileDate;
    bool _echo;
    bool _journalPriorities = false;
};

#endif
