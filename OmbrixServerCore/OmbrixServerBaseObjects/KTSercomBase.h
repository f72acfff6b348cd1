#ifndef KTSERCOMBASE_H
#define KTSERCOMBASE_H

#include "KTSercomBaseInterface.h"

// Shared state of server components. The plug-in's root object is a
// prototype: each connection works on its own createInstance(), and every
// component of one connection shares that connection's two maps.
class KTSercomBase : public QObject, public KTSercomBaseInterface
{
    Q_OBJECT
    Q_INTERFACES(KTSercomBaseInterface)
public:
    explicit KTSercomBase(QObject* parent = nullptr);
    // A component that only reads runs without a transaction of its own when
    // it is a request's only action, and in a read-only one beside other
    // readers; the database refuses any write it attempts.
    virtual bool readsOnly() const { return false; }

public Q_SLOTS:
    virtual KTSercomBase* createInstance() = 0;
    bool lastResult() override;
    bool broadcast() override = 0;
    QString processRequest(const QMultiMap<QString, QString>& params) override = 0;
    QString label() override = 0;
    QString lastMessage() override;
    QString name() override = 0;
    void log(const QString& user, const QString& objectType, const QString& objectKey,
             const QString& actionKey, const QString& date, const QString& time,
             const QString& key) override = 0;
    void postSetup() override = 0;
    void setup(int connectionID, QMap<QString, QMap<int, quint64> >* lastKeysMap,
               QMap<QString, QList<int> >* transactionModifiers) override;

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& source);
    void updateTableRecordDataModelRequested(QString tableName, QList<int> modifiers);
    void updateTaskScheduler();

protected:
    bool _lastResult = false;
    int _connectionID = 0;
    int _userType = 0;
    QMap<QString, QList<int> >* _transactionModifiers = nullptr;
    QMap<QString, QMap<int, quint64> >* _lastKeysMap = nullptr;
    QString _lastMessage;
    QString _user;
    QString _userCod;
    QString _group;
};

#endif
