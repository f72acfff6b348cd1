#ifndef KTAUTHCOMBASE_H
#define KTAUTHCOMBASE_H

#include "KTAuthcomBaseInterface.h"

#include <QList>

// Shared state of authentication components. The plug-in's root object is a
// prototype: each connection works on its own createInstance().
class KTAuthcomBase : public QObject, public KTAuthcomBaseInterface
{
    Q_OBJECT
    Q_INTERFACES(KTAuthcomBaseInterface)
public:
    explicit KTAuthcomBase(QObject* parent = nullptr);

public Q_SLOTS:
    bool authenticated() override;
    QString authenticate(const QMap<QString, QString>& params) override = 0;
    virtual KTAuthcomBase* createInstance() = 0;
    QString label() override = 0;
    QString lastMessage() override;
    QString name() override = 0;
    QString user() override;
    QString userCod() override;
    virtual QString group();
    virtual int userType();
    void log(const QString& user, const QString& objectType, const QString& objectKey,
             const QString& actionKey, const QString& date, const QString& time,
             const QString& key) override = 0;
    void postSetup() override = 0;
    void setup(int connectionID) override;

Q_SIGNALS:
    void eventMessage(const QString& message, int type, const QString& source);
    void updateTableRecordDataModelRequested(QString tableName, QList<int> modifiers);

protected:
    bool _authenticated = false;
    int _connectionID = 0;
    int _userType = 0;
    QMap<QString, QString> _params;
    QString _lastMessage;
    QString _user;
    QString _userCod;
    QString _group;
};

#endif
