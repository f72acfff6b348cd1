#include "KTRequestParameters.h"

QMap<QString, QString> KTRequestParameters::of(const KTRequestElement& root)
{
    QMap<QString, QString> params;
    for (KTRequestElement element = root.firstChildElement(); !element.isNull(); element = element.nextSiblingElement())
        params.insert(element.tagName(), element.text());
    return params;
}
