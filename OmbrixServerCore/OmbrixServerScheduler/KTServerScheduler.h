#ifndef KTSERVERSCHEDULER_H
#define KTSERVERSCHEDULER_H

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>

class KTDatabaseController;
class QSqlQuery;
class QStandardItemModel;

// The scheduled tasks of the server. Clients schedule messages for other
// users; every 30 seconds the due tasks create their message and its
// delivery rows and the connected targets are told. The tasks are also
// published as a tree (task rows, target users as children) for the panel.
class KTServerScheduler : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    // Minutes a late tick still makes up for; older due minutes are reported as missed.
    static constexpr int catchUpMinutes = 10;
    // Seconds any one scheduler statement may run.
    static constexpr double defaultStatementTimeLimit = 5.0;

    explicit KTServerScheduler(QObject* parent = nullptr);
    ~KTServerScheduler() override;

    // Takes the controller all statements go through and loads the tasks.
    void updateData(KTDatabaseController* dbController);
    QStandardItemModel* model() const { return _model; }
    // No more ticks: the server is stopping.
    void stop() { _timer.stop(); }
    // Where the tick reads the time; the local clock unless replaced.
    void setClock(Clock clock) { _clock = std::move(clock); }
    void setStatementTimeLimit(double seconds) { _statementTimeLimit = seconds; }

public Q_SLOTS:
    void updateData();
    // Stores a task; parameters holds the QMap<QString, QVariant> of a Schedule request.
    void schedule(QVariant parameters);
    void processScheduler();

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& source);
    void schedulerModelCreated(QStandardItemModel* model);
    void broadcastActionRequest(QList<QStringList> responseList, const QString& broadcastUsers);

private:
    // What a tick needs of a task row, copied out of the model: a
    // reconnection during the tick may reload the model.
    struct Task {
        QString key;
        QStringList raw;
        QStringList display;
        QStringList targetKeys;
        QStringList targetNames;
    };
    struct Due {
        Task task;
        QDateTime minute;
    };

    void loadModels();
    QList<Task> tasks() const;
    static bool isDue(const Task& task, const QDateTime& minute);
    QList<QDateTime> minutesToCheck(const QDateTime& now);
    void reportMissed(const QList<Task>& tasks, const QDateTime& from, const QDateTime& to);
    // Creates the task's message and delivery rows for one minute in a
    // transaction of its own, unless that minute has fired already.
    void execute(const Due& due);
    bool claim(const Due& due, bool* recorded);
    bool recordRun(const Due& due, bool recorded);
    void taskFailed(const Due& due, const QString& message);
    void notify(const Due& due, const QString& messageKey, const QStringList& values);
    void limitStatements(bool limited);
    bool insertTask(const QMap<QString, QVariant>& params, const QString& id);
    QString lastGeneratedKey();
    QString quoted(const QString& text) const;

    KTDatabaseController* _dbController = nullptr;
    QStandardItemModel* _model = nullptr;
    QStandardItemModel* _targetModel = nullptr;
    QTimer _timer;
    Clock _clock;
    double _statementTimeLimit = defaultStatementTimeLimit;
    // The minute of the previous tick: a late tick makes up for the minutes between.
    QDateTime _lastTick;
    // Task key to the minute its last failure was reported in: once a minute is enough.
    QHash<QString, QDateTime> _reported;
};

#endif
