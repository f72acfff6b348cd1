#include "KTCorePanet.h"

#include <KTMainWindow.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

KTCorePanet::KTCorePanet(const QString& label, QWidget* parent)
    : KTPanetBase(parent), _label(label)
{
}

QString KTCorePanet::areaLabel()
{
    return tr("Principal");
}

QString KTCorePanet::areaName()
{
    return QStringLiteral("Core");
}

QIcon KTCorePanet::icon()
{
    return QIcon(QStringLiteral(":/Resources/Images/") + name() + QStringLiteral(".png"));
}

QString KTCorePanet::label()
{
    return _label;
}

QString KTCorePanet::name()
{
    return QString::fromLatin1(metaObject()->className());
}

void KTCorePanet::setEmitterObject(QObject* emitter)
{
    _emitter = emitter;
    _mainWindow = qobject_cast<KTMainWindow*>(emitter);
}

KTMainWindow* KTCorePanet::mainWindow() const
{
    return _mainWindow.data();
}

bool KTCorePanet::formBuilt() const
{
    return layout() != nullptr;
}

void KTCorePanet::buildForm(const QString& configIcon, const QList<QWidget*>& tools, QWidget* body)
{
    // The object name a designer form would give the page.
    setObjectName(QStringLiteral("ui") + name());

    auto* config = new QToolButton(this);
    config->setObjectName(QStringLiteral("tbtConfig"));
    config->setIcon(QIcon(configIcon));
    config->setToolTip(tr("Configuración"));

    auto* toolRow = new QHBoxLayout;
    toolRow->addWidget(config);
    for (QWidget* tool : tools)
        toolRow->addWidget(tool);
    toolRow->addStretch();

    auto* form = new QVBoxLayout(this);
    form->addLayout(toolRow);
    form->addWidget(body);
}

QTableView* KTCorePanet::createTableView(const QString& objectName, const QString& fontFamily)
{
    auto* view = new QTableView(this);
    view->setObjectName(objectName);
    view->setFont(QFont(fontFamily));
    view->horizontalHeader()->setSortIndicatorShown(true);
    return view;
}
