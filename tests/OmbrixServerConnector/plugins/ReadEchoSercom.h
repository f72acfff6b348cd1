#ifndef READECHOSERCOM_H
#define READECHOSERCOM_H

#include <KTDatabaseController.h>
#include <KTSercomBase.h>

#include <QSqlQuery>
#include <QXmlStreamWriter>

// Declares that it only reads, whatever its <Sql> does: runs that statement
// and answers with the first column of its first row as <Value>; fails when
// the statement fails.
class ReadEchoSercom : public KTSercomBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    KTSercomBase* createInstance() override { return new ReadEchoSercom; }
    bool readsOnly() const override { return true; }
    bool broadcast() override { return false; }
    QString processRequest(const QMultiMap<QString, QString>& params) override
    {
        QSqlQuery query = _dbController->customQuery(params.value(QStringLiteral("Sql")));
        _lastResult = query.isActive();
        _lastMessage = _lastResult ? QStringLiteral("lectura") : QStringLiteral("lectura fallida");
        QString reply;
        QXmlStreamWriter writer(&reply);
        writer.writeStartElement(QStringLiteral("ReadEcho"));
        writer.writeTextElement(QStringLiteral("Value"), query.next() ? query.value(0).toString() : QString());
        writer.writeEndElement();
        return reply;
    }
    QString label() override { return QStringLiteral("Lectura"); }
    QString name() override { return QStringLiteral("ReadEchoSercom"); }
    void log(const QString&, const QString&, const QString&, const QString&, const QString&, const QString&,
             const QString&) override {}
    void postSetup() override {}

public Q_SLOTS:
    void setDbController(KTDatabaseController* controller) { _dbController = controller; }

private:
    KTDatabaseController* _dbController = nullptr;
};

#endif
