#ifndef KTACCESSLIST_H
#define KTACCESSLIST_H

#include <KTSqlNameScan.h>

#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>

// What one connection's login granted: the user's type and, for a
// restricted user, the rights on each client object and the tables each
// works on as the login reply listed them, with the schema's names to tell
// the tables and columns a request names. Empty (not authenticated) until a
// login succeeds.
class KTAccessList
{
public:
    struct Grant {
        bool read = false;
        bool write = false;
        bool disable = false;
        QStringList readOnlyFields;
        QStringList tables;
    };

    KTAccessList() = default;
    // The list of a successful login of a user of userType that was answered
    // with reply. parents maps a client object to the one it is embedded in;
    // definitions are the schema's tables.
    static KTAccessList fromLogin(int userType, const QString& reply, const QMap<QString, QString>& parents = {},
                                  const QMap<QString, KTDbTable*>& definitions = {});

    bool authenticated() const { return _authenticated; }
    int userType() const { return _userType; }
    // Administrators (types 1 and 2) reach everything the protocol offers.
    bool unrestricted() const { return _authenticated && (_userType == 1 || _userType == 2); }
    bool restricted() const { return _authenticated && _userType == 3; }
    // The grant that decides for a client object: its own, or else the one
    // of the object it is embedded in; no rights when neither was granted.
    // An embedded object bound to no table of its own works on its parent's.
    Grant grant(const QString& objectName) const;
    const KTSqlNameScan& schema() const { return _schema; }

private:
    bool _authenticated = false;
    int _userType = 0;
    QMap<QString, Grant> _grants;
    QMap<QString, QString> _parents;
    KTSqlNameScan _schema;
};

Q_DECLARE_METATYPE(KTAccessList)

#endif
