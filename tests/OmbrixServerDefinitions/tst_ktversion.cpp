#include <KT.h>
#include <KTVersion.h>

#include <QtTest>

class tst_KTVersion : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void simplifiedVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("simplified");
        QTest::newRow("client") << "02.08.01" << "2.8.1";
        QTest::newRow("server") << "01.31.00" << "1.31.0";
        QTest::newRow("ten") << "10.00.07" << "10.0.7";
        QTest::newRow("already short") << "1.31.0" << "1.31.0";
        QTest::newRow("not a number") << "a.b.c" << "0.0.0";
        QTest::newRow("two parts") << "3.4" << "3.4.0";
        QTest::newRow("empty") << "" << "0.0.0";
    }
    void simplifiedVersion()
    {
        QFETCH(QString, version);
        QFETCH(QString, simplified);
        QCOMPARE(KTVersion::simplifiedVersion(version), simplified);
    }

    void lessThan_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("less");
        QTest::newRow("leading zeros equal") << "01.31.00" << "1.31.0" << false;
        QTest::newRow("leading zeros equal, reversed") << "1.31.0" << "01.31.00" << false;
        QTest::newRow("patch then major") << "1.99.99" << "2.0.0" << true;
        QTest::newRow("minor spills") << "1.100.0" << "2.0.0" << false;
        QTest::newRow("patch") << "02.08.00" << "02.08.01" << true;
        QTest::newRow("greater") << "02.09.00" << "02.08.01" << false;
        QTest::newRow("short release does not fail") << "2" << "2.0.1" << true;
        QTest::newRow("huge parts do not fail") << "999999.0.0" << "1.0.0" << false;
    }
    void lessThan()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, less);
        QCOMPARE(KTVersion::lessThan(a, b), less);
    }

    void file2Object_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("os");
        QTest::addColumn<QString>("object");
        QTest::newRow("linux64 plug-in") << "libMySqlDialectMap.so" << 2 << "MySqlDialectMap";
        QTest::newRow("versioned library") << "libOmbrixServerDatabase.so.1" << 0 << "OmbrixServerDatabase";
        QTest::newRow("linux32") << "libLogPanet.so" << 1 << "LogPanet";
        QTest::newRow("no .so unchanged") << "README.txt" << 2 << "README.txt";
        QTest::newRow(".so is case-sensitive") << "libX.SO" << 2 << "libX.SO";
        QTest::newRow("windows exe") << "OmbrixServerRunner.exe" << 3 << "OmbrixServerRunner";
        QTest::newRow("windows dll with digits") << "Name4.dll" << 4 << "Name";
        QTest::newRow("windows dll without digits") << "LogPanet.dll" << 3 << "LogPanet";
        QTest::newRow("windows ending case-sensitive") << "Name4.DLL" << 4 << "Name4.DLL";
        QTest::newRow("windows keeps .so names") << "libX.so" << 4 << "libX.so";
        QTest::newRow("unknown platform") << "libMySqlDialectMap.so" << 7 << "libMySqlDialectMap.so";
    }
    void file2Object()
    {
        QFETCH(QString, file);
        QFETCH(int, os);
        QFETCH(QString, object);
        QCOMPARE(KTVersion::file2Object(file, os), object);
    }

    // Names and paths from downloads and data files must not leave their folder.
    void fileNamesAndPathsStayInside()
    {
        for (const char* name : {"OmbrixClient.exe", "libKTNew.so.1", ".hidden"})
            QVERIFY2(KTVersion::isPlainFileName(QLatin1String(name)), name);
        for (const char* name : {"", ".", "..", "../libKTNew.so", "lib/libKTNew.so", "lib\\x.dll"})
            QVERIFY2(!KTVersion::isPlainFileName(QLatin1String(name)), name);
        for (const char* path : {".", "", "lib", "OmbrixServerComponents/Nuevo", "a/..b"})
            QVERIFY2(KTVersion::isInsidePath(QLatin1String(path)), path);
        for (const char* path : {"/tmp", "..", "lib/../..", "\\server\\share", "C:\\Windows", "a\\..\\b"})
            QVERIFY2(!KTVersion::isInsidePath(QLatin1String(path)), path);
    }

    void constants()
    {
        QCOMPARE(KTVersion::ombrixServerVersionSimplified(), QStringLiteral("1.31.0"));
        QCOMPARE(KTVersion::ombrixClientVersionSimplified(), QStringLiteral("2.8.1"));
        QCOMPARE(KTVersion::dbUserName(), QStringLiteral("OmbrixAdm"));
        QCOMPARE(KTVersion::upgradeDatabasePort(), 3306);
        QCOMPARE(KTVersion::operatingSystem(), QString::number(sizeof(void*) == 8 ? 2 : 1));
        QCOMPARE(KTVersion::operatingSystemLiteral(), QString::fromLatin1(sizeof(void*) == 8 ? "Linux64" : "Linux32"));
    }

    void platformLiterals()
    {
        QCOMPARE(KTVersion::operatingSystemLiteral(KT::Windows32), QStringLiteral("Windows32"));
        QCOMPARE(KTVersion::operatingSystemLiteral(KT::Windows64), QStringLiteral("Windows64"));
        QVERIFY(KTVersion::operatingSystemLiteral(0).isEmpty());
        QVERIFY(KTVersion::operatingSystemLiteral(5).isEmpty());
    }

    void upgradeHostIsOverridable()
    {
        const QString builtIn = KTVersion::upgradeHost();
        QVERIFY(!builtIn.isEmpty());
        qputenv("OMBRIX_UPGRADE_HOST", "127.0.0.1");
        QCOMPARE(KTVersion::upgradeHost(), QStringLiteral("127.0.0.1"));
        qunsetenv("OMBRIX_UPGRADE_HOST");
        QCOMPARE(KTVersion::upgradeHost(), builtIn);
    }

    void upgradeAccountIsOverridable()
    {
        const int port = KTVersion::upgradeDatabasePort();
        const QString user = KTVersion::upgradeDatabaseUser();
        qputenv("OMBRIX_UPGRADE_PORT", "33306");
        qputenv("OMBRIX_UPGRADE_USER", "OmbrixAdm");
        qputenv("OMBRIX_UPGRADE_PASSWORD", "");
        QCOMPARE(KTVersion::upgradeDatabasePort(), 33306);
        QCOMPARE(KTVersion::upgradeDatabaseUser(), QStringLiteral("OmbrixAdm"));
        QCOMPARE(KTVersion::upgradeDatabasePassword(), QString());
        qputenv("OMBRIX_UPGRADE_PORT", "puerto");
        QCOMPARE(KTVersion::upgradeDatabasePort(), port);
        for (const char* name : {"OMBRIX_UPGRADE_PORT", "OMBRIX_UPGRADE_USER", "OMBRIX_UPGRADE_PASSWORD"})
            qunsetenv(name);
        QCOMPARE(KTVersion::upgradeDatabaseUser(), user);
        QVERIFY(!KTVersion::upgradeDatabasePassword().isEmpty());
    }

    void serverPasswordIsOverridableButNeverEmpty()
    {
        const QString builtIn = KTVersion::ombrixServerPassword();
        qputenv("OMBRIX_SERVER_PASSWORD", "otra-clave");
        QCOMPARE(KTVersion::ombrixServerPassword(), QStringLiteral("otra-clave"));
        qputenv("OMBRIX_SERVER_PASSWORD", "");
        QCOMPARE(KTVersion::ombrixServerPassword(), builtIn);
        qunsetenv("OMBRIX_SERVER_PASSWORD");
        QCOMPARE(KTVersion::ombrixServerPassword(), builtIn);
    }
};

QTEST_GUILESS_MAIN(tst_KTVersion)
#include "tst_ktversion.moc"
