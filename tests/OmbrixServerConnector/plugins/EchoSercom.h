#ifndef ECHOSERCOM_H
#define ECHOSERCOM_H

#include <KTDatabaseController.h>
#include <KTSercomBase.h>

#include <QSqlQuery>

#include <QThread>
#include <QXmlStreamWriter>

// Answers with every parameter it was handed, one "Param" per value in the
// order the map gives them; fails when asked to with <Fail>1</Fail> and
// takes its time with <DelayMs>; runs the statement of <Sql> on the
// connection's database, and fails when it fails.
class EchoSercom : public KTSercomBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTSercomBaseInterface_iid)
    Q_INTERFACES(KTSercomBaseInterface)
public:
    KTSercomBase* createInstance() override { return new EchoSercom; }
    bool broadcast() override { return true; }
    QString processRequest(const QMultiMap<QString, QString>& params) override
    {
        QThread::msleep(params.value(QStringLiteral("DelayMs")).toULong());
        const QString sql = params.value(QStringLiteral("Sql"));
        const bool ran = sql.isEmpty() || (_dbController && _dbController->customQuery(sql).isActive());
        QString reply;
        QXmlStreamWriter writer(&reply);
        writer.writeStartElement(QStringLiteral("Echo"));
        for (auto it = params.cbegin(); it != params.cend(); ++it) {
            writer.writeStartElement(QStringLiteral("Param"));
            writer.writeAttribute(QStringLiteral("Key"), it.key());
            writer.writeCharacters(it.value());
            writer.writeEndElement();
        }
        writer.writeEndElement();
        _lastResult = ran && params.value(QStringLiteral("Fail")) != QLatin1String("1");
        _lastMessage = _lastResult ? QStringLiteral("eco") : QStringLiteral("eco fallido");
        return reply;
    }
    QString label() override { return QStringLiteral("Eco"); }
    QString name() override { return QStringLiteral("EchoSercom"); }
    void log(const QString&, const QString&, const QString&, const QString&, const QString&, const QString&,
             const QString&) override {}
    void postSetup() override {}

public Q_SLOTS:
    void setDbController(KTDatabaseController* controller) { _dbController = controller; }

private:
    KTDatabaseController* _dbController = nullptr;
};

#endif
