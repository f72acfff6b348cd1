#include "KTRequestParameters.h"

QMap<QString, QString> KTRequestParameters::of(const QDomElement& root)
{
    QMap<QString, QString> params;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (!element.isNull())
            params.insert(element.tagName(), element.text());
    }
    return params;
}
