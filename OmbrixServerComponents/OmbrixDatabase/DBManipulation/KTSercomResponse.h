#ifndef KTSERCOMRESPONSE_H
#define KTSERCOMRESPONSE_H

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QXmlStreamWriter>

// The answer document of a server component: the "ActionRequest" root naming
// the client object that asked, and one outcome element with its children.
class KTSercomResponse
{
public:
    // The root's attributes in the order they are written.
    using Attributes = QList<QPair<QString, QString> >;

    KTSercomResponse(const Attributes& rootAttributes, const QString& outcome);
    KTSercomResponse(const KTSercomResponse&) = delete;
    KTSercomResponse& operator=(const KTSercomResponse&) = delete;

    KTSercomResponse& text(const QString& tag, const QString& value);
    // One "Row" per entry, each followed by its "RowDisp" when display is given.
    KTSercomResponse& rows(const QStringList& values, const QStringList& display = QStringList());
    // An element of the outcome whose text writeText appends to the document
    // itself, already escaped (see KTXmlText): laid out as text() lays out
    // its elements, without a string per element.
    template <typename WriteText>
    KTSercomResponse& element(QLatin1StringView tag, const WriteText& writeText)
    {
        openElement(tag);
        writeText(&_document);
        closeElement(tag);
        return *this;
    }
    // Writes xml into the outcome element as markup, not as text.
    KTSercomResponse& markup(const QString& xml);
    // Closes the document and returns it.
    QString toString();

private:
    void openElement(QLatin1StringView tag);
    void closeElement(QLatin1StringView tag);

    QString _document;
    QXmlStreamWriter _writer;
};

#endif
