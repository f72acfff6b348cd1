#ifndef KTREQUESTPARAMETERS_H
#define KTREQUESTPARAMETERS_H

#include "KTRequestElement.h"
#include <QMap>
#include <QString>

// The parameters a request's element carries as its children's text.
class KTRequestParameters
{
public:
    // One value per name: a repeated child keeps its last value.
    static QMap<QString, QString> of(const KTRequestElement& root);
};

#endif
