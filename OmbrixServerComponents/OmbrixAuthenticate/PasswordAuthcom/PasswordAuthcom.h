#ifndef PASSWORDAUTHCOM_H
#define PASSWORDAUTHCOM_H

#include <KTAuthcomBase.h>

#include <QByteArray>
#include <QMap>

class KTDatabaseController;
class QXmlStreamWriter;

// Logs a user in with a login and password checked against the user tables
// and answers with everything the client needs to start: user type, icon,
// default business codes, unread messages, the client objects the user may
// use and the authorizations waiting for the user.
class PasswordAuthcom : public KTAuthcomBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTAuthcomBaseInterface_iid)
    Q_INTERFACES(KTAuthcomBaseInterface)
public:
    explicit PasswordAuthcom(QObject* parent = nullptr);

    QString authenticate(const QMap<QString, QString>& params) override;
    KTAuthcomBase* createInstance() override;
    QString label() override;
    QString name() override;
    void log(const QString& user, const QString& objectType, const QString& objectKey, const QString& actionKey,
             const QString& date, const QString& time, const QString& key) override;
    void postSetup() override;

public Q_SLOTS:
    void setDbController(KTDatabaseController* dbController);

private:
    struct Access {
        int read = 0;
        int write = 0;
        int disable = 0;
    };

    QString accessListXML(int userType, const QByteArray& icon);
    QString passwordIncorrectXML();
    QString keyExpiredXML();
    QString userNotFoundXML();
    QString refusal(const QString& message, const char* location);
    QMap<QString, Access> accessMap(int userType, const QStringList& clientObjects);
    void writeComponents(QXmlStreamWriter& writer, int userType);
    // The tables each client component works on, by component name.
    QMap<QString, QStringList> componentTables();
    void writeAuthorizations(QXmlStreamWriter& writer);
    QString unreadMessages();

    KTDatabaseController* _dbController = nullptr;
    QString _warehouse;
    QString _salesplace;
    QString _pricelist;
    QString _seller;
    QString _pettycash;
};

#endif
