#include "KTTestServer.h"
#include "KTTestEvents.h"

#include <KTDatabaseController.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_loading");
const QString appDir = qEnvironmentVariable("OMBRIX_APP_DIR");

bool copy(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    return QFile::copy(from, to);
}

} // namespace

// Components come from the application directory's component folders, and
// only those named in the server's list of plug-ins.
class tst_ComponentLoading : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    QTemporaryDir _app;

private Q_SLOTS:
    void initTestCase()
    {
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
        const QString authcoms = _app.filePath("OmbrixServerComponents/OmbrixAuthenticate/");
        const QString sercoms = _app.filePath("OmbrixServerComponents/OmbrixDBManipulation/");
        QVERIFY(copy(appDir + "/OmbrixServerComponents/OmbrixAuthenticate/libPasswordAuthcom.so",
                     authcoms + "libPasswordAuthcom.so"));
        QVERIFY(copy(TEST_AUTHCOM_PLUGIN, authcoms + "libTestAuthcom.so"));
        QVERIFY(copy(TEST_AUTHCOM_PLUGIN, authcoms + "Deeper/libTestAuthcom.so"));
        QVERIFY(copy(TEST_SERCOM_PLUGIN, sercoms + "Inventario/libTestSercom.so"));
        QVERIFY(copy(NOT_A_COMPONENT_PLUGIN, sercoms + "libNotAComponent.so"));
    }

    void onlyListedComponentsLoad()
    {
        KTTestServer server(_controller, dbName, "PasswordAuthcom,TestSercom,NotAComponent,Deeper");
        server.connector()->setApplicationDirectory(_app.path());
        auto raw = server.client();
        QVERIFY(server.waitForConnections(1));
        QTRY_VERIFY(eventTexts(server.events()).contains("Componente de servidor : 'TestSercom' fue cargado exitosamente."));
        const QStringList events = eventTexts(server.events());
        QVERIFY(events.contains("Authcom : 'PasswordAuthcom' fue cargado exitosamente."));
        QVERIFY2(events.filter("TestAuthcom").isEmpty(), "not listed, or below the authentication folder");
        const QStringList failures = events.filter("No se pudo cargar Componente de Servidor : 'NotAComponent', Mensaje : '");
        QCOMPARE(failures.size(), 1);
        QVERIFY(failures.first().endsWith("' "));
    }

    void everyConnectionHasItsOwnInstances()
    {
        KTTestServer server(_controller, dbName, "PasswordAuthcom");
        server.connector()->setApplicationDirectory(_app.path());
        auto first = server.negotiatedClient();
        auto second = server.negotiatedClient();
        QVERIFY(first && second);
        QSqlQuery key = _controller->customQuery("SELECT fldKey FROM accUserIdentifier WHERE codUser = 2");
        QVERIFY(key.next());
        first->sendText(KTTestServer::login("admin", key.value(0).toString()));
        QCOMPARE(KTTestServer::element(first->nextReply(), "Status"), QStringLiteral("1"));
        second->sendText(KTTestServer::login("admin", "equivocada"));
        QCOMPARE(KTTestServer::element(second->nextReply(), "Status"), QStringLiteral("0"));
        // The refusal on the second connection left the first one logged in.
        QTRY_COMPARE(server.connector()->loggedUsers(), QStringList{"admin"});
        QCOMPARE(server.connector()->model()->item(0, 1)->text(), QStringLiteral("admin"));
        QCOMPARE(server.connector()->model()->item(1, 1)->text(), QStringLiteral("?"));
    }

    // The test component logs users in with type 0: a login of a type other
    // than 1, 2 or 3 runs no action at all.
    void aUserOfAnotherTypeRunsNothing()
    {
        KTTestServer server(_controller, dbName, "TestAuthcom,TestSercom");
        server.connector()->setApplicationDirectory(_app.path());
        auto raw = server.negotiatedClient();
        QVERIFY(raw);
        raw->sendText("<Authenticate><IdentifierType>TestAuthcom</IdentifierType><Login>otro</Login>"
                      "<Password>secreto</Password></Authenticate>");
        QCOMPARE(raw->nextReply(), QStringLiteral("ok"));
        raw->sendText("<ActionRequest><TestSercom ObjectName=\"ComponentOrder\"><Table>salOrder</Table>"
                      "</TestSercom></ActionRequest>");
        const QString reply = raw->nextReply();
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QVERIFY2(KTProtocolClient::element(reply, "Message").contains("Los usuarios de tipo 0 no pueden realizar acciones"),
                 qPrintable(reply));
        QVERIFY(raw->connected());
    }
};

QTEST_GUILESS_MAIN(tst_ComponentLoading)
#include "tst_componentloading.moc"
