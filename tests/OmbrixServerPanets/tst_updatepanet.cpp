#include "PanetTestSupport.h"

#include <KT.h>
#include <KTVersion.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

using ServerTable = QMap<QString, QStringList>;
using ClientTable = QMultiMap<QString, QStringList>;

namespace {

// A download table entry as the updater publishes it.
QStringList entry(const QString& path, const QString& size, const QString& state, int platform = 0)
{
    return {QStringLiteral("11"), QStringLiteral("21"), path, QStringLiteral("hash-") + path, size,
            platform ? QStringLiteral("Ombrix Client") : QStringLiteral("Ombrix Server"),
            platform ? QStringLiteral("02.09.00") : QStringLiteral("01.32.00"), QStringLiteral("2026-12-01"),
            QStringLiteral("Entrega de diciembre"), QStringLiteral("Estable"), state, QStringLiteral("1"),
            QStringLiteral("carpeta"), platform ? QString::number(platform) : QString()};
}

QStringList column(const QAbstractItemModel* model, int column)
{
    QStringList cells;
    for (int row = 0; row < model->rowCount(); ++row)
        cells << model->index(row, column).data().toString();
    return cells;
}

} // namespace

// The panel with its installation slot, which the page finds by name.
class InstallingMainWindow : public TestMainWindow
{
    Q_OBJECT
public:
    QStringList installations;

public Q_SLOTS:
    void prepareInstallation(QString commands) { installations << commands; }
};

// The updates page driven through the panel's signals, as the updater's
// reports reach it.
class tst_UpdatePanet : public QObject
{
    Q_OBJECT

    InstallingMainWindow* _window = nullptr;
    Panet _panet;

    template <class T>
    T* child(const char* name) const { return _panet->findChild<T*>(QString::fromLatin1(name)); }
    QAbstractItemModel* serverList() const { return child<QTableView>("tvwServer")->model(); }
    QAbstractItemModel* clientList() const { return child<QTableView>("tvwClient")->model(); }
    QString serverLabel() const { return child<QLabel>("lblServer")->text(); }
    QString clientLabel() const { return child<QLabel>("lblClient")->text(); }

    void publishTables()
    {
        const ServerTable server{
            {QStringLiteral("KTNew"), entry(QStringLiteral("lib/libKTNew.so"), QStringLiteral("3072"), QStringLiteral("0"))},
            {QStringLiteral("KTKept"), entry(QStringLiteral("lib/libKTKept.so"), QStringLiteral("100"), QStringLiteral("1"))},
            {QStringLiteral("OmbrixServerRunner"),
             entry(QStringLiteral("OmbrixServerRunner"), QStringLiteral("500"), QStringLiteral("2"))}};
        ClientTable client;
        client.insert(QStringLiteral("OmbrixClient"),
                      entry(QStringLiteral("OmbrixClient"), QStringLiteral("2048"), QStringLiteral("0"), KT::Linux64));
        client.insert(QStringLiteral("OmbrixClient"),
                      entry(QStringLiteral("OmbrixClient.exe"), QStringLiteral("1024"), QStringLiteral("0"), KT::Windows64));
        emit _window->downloadListUpdated(server, client, QStringLiteral("Notas servidor\n"),
                                          QStringLiteral("SQL|UPDATE a SET b = 1|\n"), QStringLiteral("Notas cliente\n"),
                                          QStringLiteral("CLI|x|\n"));
    }

private Q_SLOTS:
    void init()
    {
        _window = new InstallingMainWindow;
        _panet = setUpPanet(QStringLiteral("UpdatePanet"), _window);
        QVERIFY(_panet);
    }

    void cleanup()
    {
        _panet.reset();
        delete _window;
    }

    void emptyListStillRequestsTheDownload()
    {
        QCOMPARE(serverLabel(), QStringLiteral("-"));
        QVERIFY(!child<QToolButton>("tbtInfo")->isEnabled());
        emit _window->downloadListUpdated({}, {}, {}, {}, {}, {});
        QCOMPARE(serverLabel(), QStringLiteral("0 / 0 Kb   "));
        QCOMPARE(clientLabel(), QStringLiteral("0 / 0 Kb   "));
        QCOMPARE(_window->calls, QStringList({QStringLiteral("downloadUpdates")}));
        QVERIFY(child<QToolButton>("tbtInfo")->isEnabled());
        QCOMPARE(serverList()->columnCount(), 4);
        QCOMPARE(serverList()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Ruta"));
    }

    void listsShowTheTables()
    {
        publishTables();
        QAbstractItemModel* server = serverList();
        QCOMPARE(column(server, 3), QStringList({QStringLiteral("OmbrixServerRunner"), QStringLiteral("lib/libKTKept.so"),
                                                 QStringLiteral("lib/libKTNew.so")}));
        QCOMPARE(column(server, 1).last(), QStringLiteral("3072 bytes "));
        QCOMPARE(server->index(2, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("Hash :  hash-lib/libKTNew.so"));
        QVERIFY(showsImage(server->index(0, 0).data(Qt::DecorationRole).value<QIcon>(),
                           QStringLiteral("UpdatePanetFileAlreadyInstalled.png")));
        QVERIFY(showsImage(server->index(1, 0).data(Qt::DecorationRole).value<QIcon>(),
                           QStringLiteral("UpdatePanetFileAlreadyDownloaded.png")));
        QVERIFY(showsImage(server->index(2, 2).data(Qt::DecorationRole).value<QIcon>(),
                           QStringLiteral("UpdatePanetLogo") + KTVersion::operatingSystemLiteral() + QStringLiteral(".png")));
        // Only files still to download count.
        QCOMPARE(serverLabel(), QStringLiteral("0 / 3 Kb   "));
        QCOMPARE(child<QProgressBar>("pgbServer")->maximum(), 3072);
        QCOMPARE(child<QGroupBox>("gbxServer")->title(),
                 QStringLiteral("Ombrix Server : ") + KTVersion::ombrixServerVersionSimplified() + QStringLiteral(" - ")
                     + KTVersion::ombrixServerAlias() + QStringLiteral(" ----> ")
                     + KTVersion::simplifiedVersion(QStringLiteral("01.32.00")) + QStringLiteral(" - Ombrix Server"));
        QCOMPARE(child<QGroupBox>("gbxServer")->toolTip(), QStringLiteral("2026-12-01 - Estable\nEntrega de diciembre"));

        QAbstractItemModel* client = clientList();
        QCOMPARE(client->rowCount(), 2);
        QCOMPARE(column(client, 0), QStringList({QStringLiteral("OmbrixClient"), QStringLiteral("OmbrixClient")}));
        QCOMPARE(client->index(1, 2).data(Qt::UserRole + 1).toInt(), int(KT::Windows64));
        QVERIFY(showsImage(client->index(1, 2).data(Qt::DecorationRole).value<QIcon>(),
                           QStringLiteral("UpdatePanetLogoWindows64.png")));
        QCOMPARE(clientLabel(), QStringLiteral("0 / 3 Kb   "));
        QVERIFY(child<QGroupBox>("gbxClient")->title().endsWith(
            QStringLiteral(" ----> ") + KTVersion::simplifiedVersion(QStringLiteral("02.09.00")) + QStringLiteral(" - Ombrix Client")));
    }

    void downloadReportsAdvanceTheProgress()
    {
        publishTables();
        emit _window->objectDownloadStatusUpdated(QStringLiteral("KTMissing"), 1);
        emit _window->clientObjectDownloadStatusUpdated(QStringLiteral("OmbrixClient"), 1, KT::Windows32);
        QCOMPARE(serverLabel(), QStringLiteral("0 / 3 Kb   "));
        QCOMPARE(clientLabel(), QStringLiteral("0 / 3 Kb   "));
        QCOMPARE(child<QProgressBar>("pgbClient")->value(), 0);

        emit _window->objectDownloadStatusUpdated(QStringLiteral("KTNew"), 1);
        QCOMPARE(serverLabel(), QStringLiteral("3 / 3 Kb   "));
        QVERIFY(showsImage(serverList()->index(2, 0).data(Qt::DecorationRole).value<QIcon>(),
                           QStringLiteral("UpdatePanetFileAlreadyDownloaded.png")));
        emit _window->clientObjectDownloadStatusUpdated(QStringLiteral("OmbrixClient"), 1, KT::Windows64);
        QCOMPARE(clientLabel(), QStringLiteral("1 / 3 Kb   "));
        QCOMPARE(child<QProgressBar>("pgbClient")->value(), 1024);
        emit _window->clientObjectDownloadStatusUpdated(QStringLiteral("OmbrixClient"), 1, KT::Linux64);
        QCOMPARE(clientLabel(), QStringLiteral("3 / 3 Kb   "));
    }

    void statusButton_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("idle") << 0 << "PanetStopped.png" << "Sin actividad";
        QTest::newRow("checking") << 1 << "PanetCheckingUpdates.png" << "Revisando actualizaciones";
        QTest::newRow("nothing new") << 2 << "PanetNoUpgrades.png" << "No existen versiones superiores";
        QTest::newRow("downloading") << 3 << "PanetDownloading.png" << "Descargando actualizaciones";
        QTest::newRow("installing") << 4 << "PanetUpgrading.png" << "Actualizando el server";
    }

    void statusButton()
    {
        QFETCH(int, status);
        QFETCH(QString, image);
        QFETCH(QString, toolTip);
        auto* button = child<QPushButton>("pbtStatus");
        emit _window->upgradeStatusChanged(status);
        for (int outside : {5, -1})
            emit _window->upgradeStatusChanged(outside);
        QVERIFY(showsImage(button->icon(), image));
        QCOMPARE(button->toolTip(), toolTip);
    }

    void buttonsFollowTheUpdateCycle()
    {
        auto* upgrade = child<QToolButton>("tbtUpgrade");
        auto* install = child<QToolButton>("tbtInstall");
        QVERIFY(!install->isEnabled());
        emit _window->downloadCompleted();
        QVERIFY(install->isEnabled());
        upgrade->click();
        QCOMPARE(_window->calls, QStringList({QStringLiteral("checkUpdates")}));
        QVERIFY(!install->isEnabled());
        emit _window->upgradeThreadStarted();
        QVERIFY(!upgrade->isEnabled());
        publishTables();
        emit _window->downloadCompleted();
        emit _window->upgradeThreadFinished();
        QVERIFY(upgrade->isEnabled());

        install->click();
        QCOMPARE(_window->installations, QStringList({QStringLiteral("SQL|UPDATE a SET b = 1|\n")}));
        QCOMPARE(child<QPushButton>("pbtStatus")->toolTip(), QStringLiteral("Actualizando el server"));
        QVERIFY(!upgrade->isEnabled() && !install->isEnabled() && !child<QToolButton>("tbtConfig")->isEnabled());
    }

    void informationWindowShowsTheTexts()
    {
        publishTables();
        _panet->resize(700, 500);
        _panet->show();
        QVERIFY(QTest::qWaitForWindowExposed(_panet.get()));
        child<QToolButton>("tbtInfo")->click();
        QWidget* info = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->objectName() == QLatin1String("wdgInfo"))
                info = window;
        QVERIFY(info && info->isVisible());
        QCOMPARE(info->windowTitle(), QStringLiteral("Información"));
        QStringList texts;
        for (const QGroupBox* box : info->findChildren<QGroupBox*>())
            texts << box->title() + QLatin1Char('=') + box->findChild<QLabel*>()->text();
        QCOMPARE(texts, QStringList({QStringLiteral("Log Servidor=Notas servidor\n"),
                                     QStringLiteral("Log Cliente=Notas cliente\n"),
                                     QStringLiteral("Comandos Servidor=SQL|UPDATE a SET b = 1|\n"),
                                     QStringLiteral("Comandos Cliente=CLI|x|\n")}));
        // For a person to look at.
        QVERIFY(_panet->grab().save(QStringLiteral(SCREENSHOT_DIR "/UpdatePanet.png")));
        QVERIFY(info->grab().save(QStringLiteral(SCREENSHOT_DIR "/UpdatePanetInfo.png")));
    }
};

QTEST_MAIN(tst_UpdatePanet)
#include "tst_updatepanet.moc"
