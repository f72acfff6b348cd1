#ifndef NOTACOMPONENT_H
#define NOTACOMPONENT_H

#include <QObject>

// A valid Qt plug-in that implements none of the server's interfaces.
class NotAComponent : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Ombrix.Tests.NotAComponent/1.0.0")
};

#endif
