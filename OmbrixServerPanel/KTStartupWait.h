#ifndef KTSTARTUPWAIT_H
#define KTSTARTUPWAIT_H

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// The wait for a database that did not answer at start: a new try every
// interval until served() is called, the first try of each minute the only
// one worth a line in the log, and, when a deadline is set, deadlinePassed()
// once it runs out without the server serving.
class KTStartupWait : public QObject
{
    Q_OBJECT
public:
    static constexpr int reportEveryMs = 60000;

    explicit KTStartupWait(QObject* parent = nullptr);

    void setInterval(int ms);
    // 0: no deadline.
    void setDeadline(int ms);
    int deadline() const;
    // The deadline counts from here; tries start with waitForDatabase().
    void start();
    void waitForDatabase();
    // Tries end; the deadline still runs until the port opens.
    void databaseAnswered();
    void served();
    bool isWaiting() const;
    // Asked once per try: whether this try is the one of its minute to report.
    bool reportsThisTry();

Q_SIGNALS:
    void retry();
    void deadlinePassed();

private:
    QTimer* _retry = nullptr;
    QTimer* _deadline = nullptr;
    QElapsedTimer _lastReport;
};

#endif
