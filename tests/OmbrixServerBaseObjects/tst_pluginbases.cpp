#include <KTAuthcomBase.h>
#include <KTDatabaseMap.h>
#include <KTPanetBase.h>
#include <KTPluginLoader.h>
#include <KTSercomBase.h>

#include <QtTest>

#include <memory>

namespace {

QString pluginPath(const QString& name)
{
    return QStringLiteral(TEST_PLUGIN_DIR "/lib%1.so").arg(name);
}

using KeysMap = QMap<QString, QMap<int, quint64> >;
using ModifiersMap = QMap<QString, QList<int> >;

QMultiMap<QString, QString> request(const QString& table, int lines)
{
    QMultiMap<QString, QString> params;
    params.insert(QStringLiteral("Table"), table);
    for (int i = 0; i < lines; ++i)
        params.insert(QStringLiteral("Line"), QString::number(i));
    return params;
}

}

class tst_PluginBases : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsPluginFilesWithTheirObjectNames()
    {
        QStringList objects;
        for (const KTPluginLoader::File& file : KTPluginLoader::files(TEST_PLUGIN_DIR))
            objects << file.objectName;
        objects.sort();
        QCOMPARE(objects, QStringList({"NotAComponent", "Readme", "TestAuthcom", "TestSercom"}));
    }

    void pluginOfNoKnownKindIsIgnoredByEveryLoader()
    {
        const QString path = pluginPath("NotAComponent");
        QVERIFY(KTPluginLoader::rootInstance(path) != nullptr);
        QString error;
        QVERIFY(!KTPluginLoader::load<KTSercomBase>(path, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!KTPluginLoader::load<KTAuthcomBase>(path));
        QVERIFY(!KTPluginLoader::load<KTDatabaseMap>(path));
        QVERIFY(!KTPluginLoader::load<KTPanetBase>(path));
        QVERIFY(!KTPluginLoader::load<KTSercomBaseInterface>(path));
    }

    void fileThatIsNoPluginReportsTheLoaderError()
    {
        QString error;
        QVERIFY(!KTPluginLoader::load<KTSercomBase>(QStringLiteral(TEST_PLUGIN_DIR "/libReadme.so.txt"), &error));
        QVERIFY(!error.isEmpty());
    }

    void componentsAreRecognisedByTheirOwnKindOnly()
    {
        QVERIFY(KTPluginLoader::load<KTSercomBase>(pluginPath("TestSercom")));
        QVERIFY(!KTPluginLoader::load<KTAuthcomBase>(pluginPath("TestSercom")));
        QVERIFY(KTPluginLoader::load<KTAuthcomBase>(pluginPath("TestAuthcom")));
        QVERIFY(!KTPluginLoader::load<KTSercomBase>(pluginPath("TestAuthcom")));
    }

    void sercomInstancesOfTwoConnectionsShareNothing()
    {
        KTSercomBase* prototype = KTPluginLoader::load<KTSercomBase>(pluginPath("TestSercom"));
        QVERIFY(prototype);
        std::unique_ptr<KTSercomBase> first(prototype->createInstance());
        std::unique_ptr<KTSercomBase> second(prototype->createInstance());
        QVERIFY(first.get() != prototype && second.get() != first.get());

        KeysMap keys1, keys2;
        ModifiersMap modifiers1, modifiers2;
        first->setup(1, &keys1, &modifiers1);
        second->setup(2, &keys2, &modifiers2);
        QMultiMap<QString, QString> params = request("invProduct", 3);
        params.insert(QStringLiteral("_UserLogin"), QStringLiteral("ana"));
        first->processRequest(params);

        QVERIFY(first->lastResult());
        QVERIFY(!second->lastResult());
        QCOMPARE(first->lastMessage(), QStringLiteral("3 líneas"));
        QVERIFY(second->lastMessage().isEmpty());
        QCOMPARE(keys1.value("invProduct").value(3), quint64(1));
        QVERIFY(keys2.isEmpty() && modifiers2.isEmpty());
        QString user1, user2;
        QMetaObject::invokeMethod(first.get(), "seenUser", Q_RETURN_ARG(QString, user1));
        QMetaObject::invokeMethod(second.get(), "seenUser", Q_RETURN_ARG(QString, user2));
        QCOMPARE(user1, QStringLiteral("ana"));
        QVERIFY(user2.isEmpty());
    }

    void sercomsOfOneConnectionShareItsMaps()
    {
        KTSercomBase* prototype = KTPluginLoader::load<KTSercomBase>(pluginPath("TestSercom"));
        std::unique_ptr<KTSercomBase> insert(prototype->createInstance());
        std::unique_ptr<KTSercomBase> update(prototype->createInstance());
        KeysMap keys;
        ModifiersMap modifiers;
        insert->setup(7, &keys, &modifiers);
        update->setup(7, &keys, &modifiers);

        insert->processRequest(request("invProduct", 1));
        update->processRequest(request("invCategory", 2));
        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys.value("invProduct").value(1), quint64(7));
        QCOMPARE(keys.value("invCategory").value(2), quint64(7));
        QCOMPARE(modifiers.value("invCategory").size(), 14);
    }

    void sercomSetupResetsTheLastResult()
    {
        KTSercomBase* prototype = KTPluginLoader::load<KTSercomBase>(pluginPath("TestSercom"));
        std::unique_ptr<KTSercomBase> component(prototype->createInstance());
        KeysMap keys;
        ModifiersMap modifiers;
        component->setup(1, &keys, &modifiers);
        component->processRequest(request("t", 1));
        QVERIFY(component->lastResult());
        component->setup(2, &keys, &modifiers);
        QVERIFY(!component->lastResult());
        int id = 0;
        QMetaObject::invokeMethod(component.get(), "connectionID", Q_RETURN_ARG(int, id));
        QCOMPARE(id, 2);
    }

    void authcomSetupResetsAuthenticated()
    {
        KTAuthcomBase* prototype = KTPluginLoader::load<KTAuthcomBase>(pluginPath("TestAuthcom"));
        QVERIFY(prototype);
        std::unique_ptr<KTAuthcomBase> component(prototype->createInstance());
        component->setup(4);
        QVERIFY(!component->authenticated());
        component->authenticate({{"Login", "ana"}, {"Password", "secreto"}});
        QVERIFY(component->authenticated());
        QCOMPARE(component->user(), QStringLiteral("ana"));
        component->setup(5);
        QVERIFY(!component->authenticated());
        QVERIFY(!prototype->authenticated());
    }

    void componentSignalsCarryTheSharedTypes()
    {
        KTSercomBase* prototype = KTPluginLoader::load<KTSercomBase>(pluginPath("TestSercom"));
        std::unique_ptr<KTSercomBase> component(prototype->createInstance());
        QSignalSpy spy(component.get(), &KTSercomBase::updateTableRecordDataModelRequested);
        Q_EMIT component->updateTableRecordDataModelRequested(QStringLiteral("invProduct"), QList<int>(14, -1));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(1).value<QList<int> >(), QList<int>(14, -1));
    }
};

QTEST_GUILESS_MAIN(tst_PluginBases)
#include "tst_pluginbases.moc"
