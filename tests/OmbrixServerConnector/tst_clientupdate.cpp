#include "KTTestServer.h"

#include <KTDatabaseController.h>
#include <KTProtocolClient.h>
#include <KTServerConnector.h>

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const QString dbName = QStringLiteral("ombrix_test_clientupdate");

QString digest(const QByteArray& contents)
{
    return QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha1).toBase64());
}

QString negotiation(const QString& version, const QString& system)
{
    return KTTestServer::negotiation(version).replace("<OperatingSystem>Linux64</OperatingSystem>",
                                                      "<OperatingSystem>" + system + "</OperatingSystem>");
}

} // namespace

// The client program files the server hands out from its download area.
class tst_ClientUpdate : public QObject
{
    Q_OBJECT

    KTDatabaseController* _controller = nullptr;
    QTemporaryDir _app;
    std::unique_ptr<KTTestServer> _server;
    QString _platform;

    void write(const QString& path, const QByteArray& contents)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    // Every reply to a RequestUpdate on a connection negotiated (or refused) for system.
    QStringList update(const QMap<QString, QString>& digests, const QString& system = QStringLiteral("Linux64"),
                       const QString& version = QStringLiteral("2.8.1"))
    {
        auto raw = _server->client();
        raw->sendText(negotiation(version, system));
        raw->nextReply();
        raw->sendText(KTProtocolClient::requestUpdate(digests));
        QStringList replies;
        while (true) {
            const QString reply = raw->nextReply();
            if (reply.isEmpty())
                return replies;
            replies << reply;
            if (KTProtocolClient::rootTag(reply) == QLatin1String("UpdateEnd"))
                return replies;
        }
    }

    static QStringList named(const QStringList& replies, const QString& name)
    {
        QStringList found;
        for (const QString& reply : replies)
            if (KTProtocolClient::element(reply, "Name") == name)
                found << reply;
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        _controller = new KTDatabaseController(this);
        QVERIFY(KTTestServer::prepareDatabase(_controller, dbName));
        // Readable by others, so that a test can read it without root's privileges.
        const QFileDevice::Permissions shared = QFileDevice::ReadGroup | QFileDevice::ExeGroup
            | QFileDevice::ReadOther | QFileDevice::ExeOther;
        QVERIFY(QFile::setPermissions(_app.path(), QFile::permissions(_app.path()) | shared));
        _platform = _app.path() + "/Downloads/OmbrixClient-Linux64";
        write(_platform + "/OmbrixClient", "programa");
        write(_platform + "/lib/libOmbrixCore.so", "biblioteca");
        write(_platform + "/Downloads/viejo.bin", "no se entrega");
        write(_app.path() + "/Downloads/ClientVersion.txt",
              "[ClientValues]\nClientVersion=3.0.0\n[Files]\nOmbrixClient=1,bin/OmbrixClient,x\n"
              "libOmbrixCore.so=2,lib/libOmbrixCore.so,y\n");
        _server = std::make_unique<KTTestServer>(_controller, dbName);
        _server->connector()->setApplicationDirectory(_app.path());
    }

    void currentFilesAreNotSent()
    {
        const QStringList replies = update({{"OmbrixClient", digest("programa")},
                                            {"libOmbrixCore.so", digest("biblioteca")}});
        QCOMPARE(replies.size(), 3);
        for (const QString name : {"OmbrixClient", "libOmbrixCore.so"}) {
            const QString reply = named(replies, name).value(0);
            QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
            QVERIFY(!reply.contains("<Contents>"));
            QCOMPARE(KTProtocolClient::element(reply, "Message"),
                     QStringLiteral("No se requiere actualizar objeto : '%1'").arg(name));
        }
        QCOMPARE(KTProtocolClient::element(named(replies, "OmbrixClient").value(0), "RelativePath"),
                 QStringLiteral("bin/OmbrixClient"));
        QCOMPARE(KTProtocolClient::rootTag(replies.last()), QStringLiteral("UpdateEnd"));
        QCOMPARE(KTProtocolClient::element(replies.last(), "Status"), QStringLiteral("1"));
    }

    void changedAndMissingFilesAreSent()
    {
        const QStringList replies = update({{"OmbrixClient", digest("antiguo")}});
        for (const auto& [name, contents] : {std::pair{"OmbrixClient", "programa"}, {"libOmbrixCore.so", "biblioteca"}}) {
            const QString reply = named(replies, name).value(0);
            QCOMPARE(KTProtocolClient::element(reply, "Sha1"), digest(contents));
            QCOMPARE(QByteArray::fromBase64(KTProtocolClient::element(reply, "Contents").toLatin1()),
                     QByteArray(contents));
        }
        // The download area's own subfolder is never entered.
        QVERIFY(named(replies, "viejo.bin").isEmpty());
    }

    void unreadableFileFailsTheUpdateButNotTheWalk()
    {
        const QString path = _platform + "/lib/roto.so";
        write(path, "ilegible");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        // Root reads any file: the server reads as nobody for this one request.
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::seteuid(65534) == 0);
        const QStringList replies = update({});
        QVERIFY(!root || ::seteuid(0) == 0);
        QFile::remove(path);

        QCOMPARE(named(replies, "libOmbrixCore.so").size(), 1);
        QCOMPARE(named(replies, "OmbrixClient").size(), 1);
        const QString failed = named(replies, "roto.so").value(0);
        QCOMPARE(KTProtocolClient::element(failed, "Status"), QStringLiteral("0"));
        QCOMPARE(KTProtocolClient::element(failed, "Message"), QStringLiteral("Error al abrir objeto : 'roto.so'"));
        QVERIFY(!failed.contains("<Sha1>"));
        QCOMPARE(KTProtocolClient::rootTag(replies.last()), QStringLiteral("UpdateEnd"));
        QCOMPARE(KTProtocolClient::element(replies.last(), "Status"), QStringLiteral("0"));
    }

    void platformNamesOneFolderOnly_data()
    {
        QTest::addColumn<QString>("system");
        QTest::newRow("no such platform") << "Windows";
        QTest::newRow("parent folder") << "Linux64/..";
        QTest::newRow("other folder") << "Linux64/lib";
    }

    void platformNamesOneFolderOnly()
    {
        QFETCH(QString, system);
        const QStringList replies = update({}, system);
        QCOMPARE(replies.size(), 1);
        QCOMPARE(KTProtocolClient::rootTag(replies.first()), QStringLiteral("UpdateEnd"));
        QCOMPARE(KTProtocolClient::element(replies.first(), "Status"), QStringLiteral("1"));
    }

    void refusedClientUpdatesAndNegotiatesAgain()
    {
        auto raw = _server->client();
        raw->sendText(negotiation("2.8.1", "Linux64"));
        QCOMPARE(KTTestServer::element(raw->nextReply(), "Status"), QStringLiteral("0"));
        raw->sendText(KTProtocolClient::requestUpdate({}));
        QString reply;
        do
            reply = raw->nextReply();
        while (!reply.isEmpty() && KTProtocolClient::rootTag(reply) != QLatin1String("UpdateEnd"));
        QCOMPARE(KTProtocolClient::element(reply, "Status"), QStringLiteral("1"));
        raw->sendText(negotiation("3.0.0", "Linux64"));
        QCOMPARE(KTTestServer::element(raw->nextReply(), "Status"), QStringLiteral("1"));
    }
};

QTEST_MAIN(tst_ClientUpdate)
#include "tst_clientupdate.moc"
