#include "KTComponentRegistry.h"

#include <KT.h>
#include <KTAuthcomBase.h>
#include <KTDatabaseController.h>
#include <KTPluginLoader.h>
#include <KTSercomBase.h>

#include <QFile>

namespace {

template <class Component> struct ComponentTexts;

template <> struct ComponentTexts<KTAuthcomBase> {
    static QString location() { return QStringLiteral("KTTcpSocket::loadAuthcoms()"); }
    static QString loaded(const QString& name)
    {
        return KTComponentRegistry::tr("Authcom : '%1' fue cargado exitosamente.").arg(name);
    }
    static QString failed(const QString& fileName, const QString&, const QString& error)
    {
        return KTComponentRegistry::tr("El Authcom : '%1' no pudo ser cargado. Mensaje : '%2'").arg(fileName, error);
    }
};

template <> struct ComponentTexts<KTSercomBase> {
    static QString location() { return QStringLiteral("KTTcpSocket::loadSercoms()"); }
    static QString loaded(const QString& name)
    {
        return KTComponentRegistry::tr("Componente de servidor : '%1' fue cargado exitosamente.").arg(name);
    }
    static QString failed(const QString&, const QString& objectName, const QString& error)
    {
        return KTComponentRegistry::tr("No se pudo cargar Componente de Servidor : '%1', Mensaje : '%2' ")
            .arg(objectName, error);
    }
};

} // namespace

KTComponentRegistry::KTComponentRegistry(KTDatabaseController* dbController, const QStringList& systemObjects,
                                         QObject* parent)
    : QObject(parent)
    , _dbController(dbController)
    , _systemObjects(systemObjects)
{
}

KTComponentRegistry::~KTComponentRegistry()
{
    qDeleteAll(_authcomMap);
    qDeleteAll(_sercomMap);
}

void KTComponentRegistry::loadAuthcoms(const QString& path, bool recursive)
{
    loadComponents(path, recursive, true, _authcomMap);
}

void KTComponentRegistry::loadSercoms(const QString& path, bool recursive)
{
    loadComponents(path, recursive, true, _sercomMap);
}

void KTComponentRegistry::clearShared()
{
    _transactionModifiers.clear();
    _lastKeysMap.clear();
    _tasksChanged = false;
}

template <class Component>
void KTComponentRegistry::loadComponents(const QString& path, bool recursive, bool topLevel,
                                         QMap<QString, Component*>& map)
{
    using Texts = ComponentTexts<Component>;
    if (topLevel) {
        qDeleteAll(map);
        map.clear();
    }
    for (const KTPluginLoader::File& file : KTPluginLoader::files(path)) {
        if (!_systemObjects.contains(file.objectName))
            continue;
        QFile readable(file.absolutePath);
        if (!readable.open(QIODevice::ReadOnly)) {
            emit eventMessage(tr("No se pudo leer archivo : %1 ").arg(file.fileName), KT::ErrorMessage, Texts::location());
            continue;
        }
        QString error;
        Component* prototype = KTPluginLoader::load<Component>(file.absolutePath, &error);
        Component* component = prototype ? prototype->createInstance() : nullptr;
        if (!component) {
            emit eventMessage(Texts::failed(file.fileName, file.objectName, error), KT::ErrorMessage, Texts::location());
            continue;
        }
        delete map.value(component->name());
        map.insert(component->name(), component);
        setUpComponent(component);
        component->postSetup();
        connect(component, &Component::eventMessage, this, &KTComponentRegistry::eventMessage);
        // The slot is declared by each component, which knows the controller's class.
        connect(this, SIGNAL(setDbController(KTDatabaseController*)), component,
                SLOT(setDbController(KTDatabaseController*)));
        emit setDbController(_dbController);
        emit eventMessage(Texts::loaded(component->name()), KT::SuccessMessage, Texts::location());
    }
    if (recursive)
        for (const QString& subdirectory : KTPluginLoader::subdirectories(path))
            loadComponents(subdirectory, true, false, map);
}

void KTComponentRegistry::setUpComponent(KTAuthcomBase* component)
{
    component->setup(_connectionID);
}

void KTComponentRegistry::setUpComponent(KTSercomBase* component)
{
    component->setup(_connectionID, &_lastKeysMap, &_transactionModifiers);
    connect(component, &KTSercomBase::updateTaskScheduler, this, [this] { _tasksChanged = true; });
}
