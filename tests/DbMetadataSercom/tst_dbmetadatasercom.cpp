#include "KTSessionFixture.h"

#include <QFile>
#include <QtTest>

namespace {

const QString dbName = QStringLiteral("ombrix_test_metadata");

QString metadata(const QString& table)
{
    return KTProtocolClient::actionRequest(
        {KTSessionFixture::action("DbMetadataSercom", {{"Table", table}}, "Component", "ComponentOrder")});
}

} // namespace

// What a client learns of a table without a query.
class tst_DbMetadataSercom : public QObject
{
    Q_OBJECT

    KTSessionFixture _fixture;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(_fixture.start(dbName, "PasswordAuthcom,DbMetadataSercom"));
        _fixture.window().setTableMainStats("salSeller", {15, 9, 2, 4, 3, 5, 7});
    }

    void countsFollowTheUserType()
    {
        const QString admin = _fixture.admin().request(metadata("salSeller"));
        QCOMPARE(KTProtocolClient::element(admin, "Status"), QStringLiteral("1"));
        QCOMPARE(KTProtocolClient::element(admin, "TableName"), QStringLiteral("salSeller"));
        QCOMPARE(KTProtocolClient::element(admin, "TotalRecords"), QStringLiteral("15"));
        QCOMPARE(KTProtocolClient::element(admin, "Inserts"), QStringLiteral("9"));
        QCOMPARE(KTProtocolClient::element(admin, "Deletes"), QStringLiteral("2"));
        QCOMPARE(KTProtocolClient::element(admin, "Edits"), QStringLiteral("4"));
        QCOMPARE(KTProtocolClient::element(admin, "Visibles"), QStringLiteral("8"));
        QCOMPARE(KTProtocolClient::element(_fixture.carla().request(metadata("salSeller")), "Visibles"),
                 QStringLiteral("3"));
    }

    void definitionFollowsTheCountsAsMarkup()
    {
        QFile file(qEnvironmentVariable("OMBRIX_APP_DIR") + "/OmbrixDbData/Tables/salSeller.otd");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString definition = QString::fromUtf8(file.readAll()).trimmed();
        const QString reply = _fixture.admin().request(metadata("salSeller"));
        QVERIFY2(reply.contains(definition), qPrintable(reply));

        QDomDocument document;
        QVERIFY(document.setContent(reply));
        const QDomElement visibles = document.documentElement().firstChildElement("UpdateMetadata")
                                         .firstChildElement("Visibles");
        const QDomElement table = visibles.nextSiblingElement();
        QCOMPARE(table.tagName(), QStringLiteral("Table"));
        QCOMPARE(table.firstChildElement("TableAlias").text(), QStringLiteral("Vendedores"));
    }

    void unloadedTableIsAFailure()
    {
        const QString reply = _fixture.admin().request(metadata("salVendedor"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(reply, "Message"),
                 QStringLiteral("La tabla 'salVendedor' no está cargada en el servidor"));
        QVERIFY(KTProtocolClient::element(reply, "TotalRecords").isEmpty());
    }
};

QTEST_MAIN(tst_DbMetadataSercom)
#include "tst_dbmetadatasercom.moc"
