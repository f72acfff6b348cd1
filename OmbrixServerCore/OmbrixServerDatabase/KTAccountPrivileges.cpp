#include "KTAccountPrivileges.h"

#include "KTDatabaseController.h"

#include <QCoreApplication>
#include <QRegularExpression>

QStringList KTAccountPrivileges::excess(const QStringList& grants)
{
    // "GRANT <rights> ON *.* TO ...": the rights of the whole server. A role
    // granted ("GRANT role TO ...") names no object and is not followed.
    static const QRegularExpression global(QStringLiteral("^\\s*GRANT\\s+(.+?)\\s+ON\\s+\\*\\.\\*\\s+TO\\s"),
                                           QRegularExpression::CaseInsensitiveOption);
    QStringList rights;
    for (const QString& grant : grants) {
        const QRegularExpressionMatch match = global.match(grant);
        if (!match.hasMatch())
            continue;
        for (const QString& right : match.captured(1).split(QLatin1Char(','))) {
            const QString name = right.simplified().toUpper();
            if (name != QLatin1String("USAGE") && !rights.contains(name))
                rights << name;
        }
    }
    return rights;
}

QStringList KTAccountPrivileges::grants(KTDatabaseController* controller)
{
    QStringList lines;
    QSqlQuery query = controller->customQuery(QStringLiteral("SHOW GRANTS"));
    while (query.next())
        lines << query.value(0).toString();
    return lines;
}

QString KTAccountPrivileges::warning(const QString& user, const QStringList& excess, const QString& database)
{
    if (excess.isEmpty())
        return QString();
    return QCoreApplication::translate("KTAccountPrivileges",
                                       "La cuenta '%1' de MariaDB tiene privilegios sobre todo el servidor (%2). El "
                                       "servidor solo necesita todos los privilegios sobre su base de datos '%3': "
                                       "quite los demás (en especial FILE y SUPER) para que nada de lo que ejecute "
                                       "alcance archivos del equipo ni otras bases de datos.")
        .arg(user, excess.join(QStringLiteral(", ")), database);
}
