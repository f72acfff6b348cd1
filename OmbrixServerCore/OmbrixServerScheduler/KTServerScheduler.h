#ifndef KTSERVERSCHEDULER_H
#define KTSERVERSCHEDULER_H

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>

class KTDatabaseController;
class QStandardItem;
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

    explicit KTServerScheduler(QObject* parent = nullptr);
    ~KTServerScheduler() override;

    // Takes the controller all statements go through and loads the tasks.
    void updateData(KTDatabaseController* dbController);
    QStandardItemModel* model() const { return _model; }
    // No more ticks: the server is stopping.
    void stop() { _timer.stop(); }
    // Where the tick reads the time; the local clock unless replaced.
    void setClock(Clock clock) { _clock = std::move(clock); }

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
    struct Due {
        QStandardItem* task;
        QStringList command;
    };

    void loadModels();
    bool isDue(int row, const QDateTime& now) const;
    // Creates the task's message and delivery rows in one transaction; false ends the tick.
    bool execute(const Due& due);
    static bool wellFormed(const QStringList& command);
    void notify(const Due& due, const QString& messageKey, const QStringList& users);
    QString rawValue(int row, int column) const;
    QString lastGeneratedKey();
    QString quoted(const QString& text) const;

    KTDatabaseController* _dbController = nullptr;
    QStandardItemModel* _model = nullptr;
    QStandardItemModel* _targetModel = nullptr;
    QTimer _timer;
    Clock _clock;
    // Task key to the minute it last fired in: a task fires once per matching minute.
    QHash<QString, QDateTime> _lastFired;
};

#endif
