#ifndef KTCOMPONENTREGISTRY_H
#define KTCOMPONENTREGISTRY_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class KTAuthcomBase;
class KTDatabaseController;
class KTSercomBase;

// One connection's component instances, and what its server components
// share while a request runs: the keys they generated and the changes they
// made to each table's record count.
class KTComponentRegistry : public QObject
{
    Q_OBJECT
public:
    // Only the plug-ins the system objects name are loaded.
    KTComponentRegistry(KTDatabaseController* dbController, const QStringList& systemObjects,
                        QObject* parent = nullptr);
    ~KTComponentRegistry() override;

    void setConnectionID(int connectionID) { _connectionID = connectionID; }
    void loadAuthcoms(const QString& path, bool recursive);
    void loadSercoms(const QString& path, bool recursive);
    KTAuthcomBase* authcom(const QString& name) const { return _authcomMap.value(name); }
    KTSercomBase* sercom(const QString& name) const { return _sercomMap.value(name); }

    // A request starts with nothing shared from the one before.
    void clearShared();
    const QMap<QString, QList<int> >& transactionModifiers() const { return _transactionModifiers; }
    // A component changed the scheduled tasks in the request under way: the
    // scheduler reloads them once the request has committed.
    bool tasksChanged() const { return _tasksChanged; }
    void clearTasksChanged() { _tasksChanged = false; }

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& objectLocation);
    void setDbController(KTDatabaseController* controller);

private:
    template <class Component>
    void loadComponents(const QString& path, bool recursive, bool topLevel, QMap<QString, Component*>& map);
    void setUpComponent(KTAuthcomBase* component);
    void setUpComponent(KTSercomBase* component);

    KTDatabaseController* _dbController;
    QStringList _systemObjects;
    int _connectionID = 0;
    bool _tasksChanged = false;
    QMap<QString, KTAuthcomBase*> _authcomMap;
    QMap<QString, KTSercomBase*> _sercomMap;
    QMap<QString, QMap<int, quint64> > _lastKeysMap;
    QMap<QString, QList<int> > _transactionModifiers;
};

#endif
