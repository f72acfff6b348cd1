#ifndef KTSERCOMBASEINTERFACE_H
#define KTSERCOMBASEINTERFACE_H

#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QString>

// Server component contract; declaration order is the binary contract.
// Request parameters repeat keys (several values per name), hence the multi-map.
class KTSercomBaseInterface
{
public:
    virtual bool broadcast() = 0;
    virtual bool lastResult() = 0;
    virtual QString processRequest(const QMultiMap<QString, QString>& params) = 0;
    virtual QString label() = 0;
    virtual QString lastMessage() = 0;
    virtual QString name() = 0;
    virtual void log(const QString& user, const QString& objectType, const QString& objectKey,
                     const QString& actionKey, const QString& date, const QString& time,
                     const QString& key) = 0;
    virtual void postSetup() = 0;
    virtual void setup(int connectionID, QMap<QString, QMap<int, quint64> >* lastKeysMap,
                       QMap<QString, QList<int> >* transactionModifiers) = 0;

protected:
    ~KTSercomBaseInterface() = default;
};

#define KTSercomBaseInterface_iid "Ombrix.KTSercomBaseInterface/1.0.0"
Q_DECLARE_INTERFACE(KTSercomBaseInterface, KTSercomBaseInterface_iid)

#endif
