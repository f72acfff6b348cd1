#include "KTRawFrames.h"

#include <KTFrame.h>
#include <KTRequestDocument.h>
#include <KTXmlGuard.h>
#include <KTSharedFrame.h>

#include <QBuffer>
#include <QDomDocument>
#include <QtTest>

namespace {

QString decodeWhole(const QByteArray& frame, bool* ok, qint64 maxSize = KTFrame::defaultMaxSize)
{
    return KTFrame::decode(frame.mid(8), maxSize, ok);
}

// Name, attributes asked by name, text and children of an element, as one string.
template<typename Element>
QString describe(const Element& element)
{
    QString out = element.tagName() + QLatin1Char('[');
    for (const char* name : {"ObjectType", "ObjectName", "Logins", "k", "n", "p:k", "missing"})
        out += element.attribute(QLatin1String(name)) + QLatin1Char('|');
    out += QStringLiteral("](") + element.text() + QLatin1Char(')');
    for (Element child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        out += QLatin1Char('{') + describe(child) + QLatin1Char('}');
    return out;
}

} // namespace

class tst_KTFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encodedFramesHaveTheWireLayout_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("level");
        QString rows;
        for (int row = 0; row < 5000; ++row)
            rows += QStringLiteral("<Row>%1|Producto de prueba %1|10.00|Añoranza ✓</Row>\n").arg(row);
        for (int level : {-1, 0, 1, 6, 9}) {
            QTest::addRow("short, level %d", level) << QStringLiteral("<Saludo>Añoranza ✓</Saludo>") << level;
            QTest::addRow("rows, level %d", level) << rows << level;
            QTest::addRow("empty, level %d", level) << QString() << level;
        }
    }

    // What the server writes, Qt's own qUncompress and zlib itself read.
    void encodedFramesHaveTheWireLayout()
    {
        QFETCH(QString, text);
        QFETCH(int, level);
        QByteArray frame = KTFrame::encode(text, level);
        const quint64 size = qFromBigEndian<quint64>(frame.constData());
        QCOMPARE(size, quint64(frame.size() - 8));
        QCOMPARE(qFromBigEndian<quint32>(frame.constData() + 8), quint32(size - 4));
        const QByteArray block = frame.mid(12);
        QCOMPARE(QString::fromUtf8(qUncompress(block)), text);
        if (text.isEmpty())
            QCOMPARE(block, qCompress(QByteArray()));
        QCOMPARE(KTRawFrames::takeTexts(frame), QStringList{text});
    }

    // Level 0 stores, the others compress: the negotiated level is the one used.
    void framesAreCompressedAtTheirLevel()
    {
        QString rows;
        for (int row = 0; row < 2000; ++row)
            rows += QStringLiteral("<Row>%1|Cliente %1</Row>").arg(row);
        const qsizetype stored = KTFrame::encode(rows, 0).size();
        QVERIFY(stored > rows.toUtf8().size());
        QVERIFY(KTFrame::encode(rows, 1).size() < stored / 3);
        QVERIFY(KTFrame::encode(rows, 9).size() <= KTFrame::encode(rows, 1).size());
    }

    // What Qt's qCompress and zlib write, the server reads.
    void foreignFramesDecode()
    {
        bool ok = false;
        QCOMPARE(decodeWhole(KTRawFrames::frame("<a/>", 0), &ok), QStringLiteral("<a/>"));
        QVERIFY(ok);
        QCOMPARE(decodeWhole(KTRawFrames::frame(QString()), &ok), QString());
        QVERIFY(ok);
        QCOMPARE(decodeWhole(KTRawFrames::frameOfBlock(KTRawFrames::block(QByteArray("<a/>\0basura", 11))), &ok),
                 QStringLiteral("<a/>"));
        const QString text = QString(3000, QLatin1Char('x')) + QStringLiteral("<Saludo>Añoranza ✓</Saludo>");
        for (int level : {-1, 0, 1, 9}) {
            QCOMPARE(decodeWhole(KTRawFrames::frameOfBlock(qCompress(text.toUtf8(), level)), &ok), text);
            QVERIFY(ok);
        }
        QCOMPARE(decodeWhole(KTRawFrames::frameOfBlock(qCompress(QByteArray())), &ok), QString());
        QVERIFY(ok);
    }

    // Every receiver of a pushed reply at one level writes the same bytes.
    void sharedFramesAreEncodedOncePerLevel()
    {
        const KTSharedFrame shared(QStringLiteral("<Todos>Añoranza</Todos>"));
        const QByteArray first = shared.frame(6);
        QCOMPARE(shared.frame(6).constData(), first.constData());
        QCOMPARE(first, KTFrame::encode(shared.text(), 6));
        QVERIFY(shared.frame(0) != first);
        QByteArray stored = shared.frame(0);
        QCOMPARE(KTRawFrames::takeTexts(stored), QStringList{shared.text()});
    }

    void faultyPayloadsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("frame");
        const QByteArray good = KTRawFrames::frame("<Documento>texto</Documento>");
        QByteArray lyingLength = good;
        qToBigEndian<quint32>(5, lyingLength.data() + 12); // claims 5 bytes of text, holds more
        QByteArray shortClaim = good;
        qToBigEndian<quint32>(100, shortClaim.data() + 12); // claims more than the stream gives
        QByteArray corrupt = good;
        corrupt[20] = char(corrupt[20] ^ 0x5a);
        QByteArray wrongBlockLength = good;
        qToBigEndian<quint32>(quint32(good.size()), wrongBlockLength.data() + 8);
        QTest::newRow("text longer than claimed") << lyingLength;
        QTest::newRow("text shorter than claimed") << shortClaim;
        QTest::newRow("corrupt stream") << corrupt;
        QTest::newRow("block length differs") << wrongBlockLength;
        QTest::newRow("not zlib") << KTRawFrames::frameOfBlock(KTRawFrames::bigEndian32(4) + "abcd");
        QTest::newRow("no block") << KTRawFrames::bigEndian64(0);
    }

    void faultyPayloadsAreRefused()
    {
        QFETCH(QByteArray, frame);
        bool ok = true;
        QCOMPARE(decodeWhole(frame, &ok), QString());
        QVERIFY(!ok);
    }

    void claimedTextAboveTheLimitIsRefusedBeforeInflating()
    {
        // 1 MiB of zeros compresses to about a kilobyte.
        const QByteArray bomb = KTRawFrames::frame(QString(1 << 20, QLatin1Char('a')), 9);
        QVERIFY(bomb.size() < 8192);
        bool ok = true;
        QCOMPARE(decodeWhole(bomb, &ok, 1 << 16), QString());
        QVERIFY(!ok);
        QCOMPARE(decodeWhole(bomb, &ok, 1 << 21).size(), 1 << 20);
        QVERIFY(ok);
    }

    void readingWaitsForWholeFramesAndChecksTheAnnouncedSize()
    {
        QByteArray stream = KTFrame::encode("<uno/>", 6) + KTFrame::encode("<dos/>", 6);
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        qint64 blockSize = 0;
        QByteArray payload;
        QStringList texts;
        for (char byte : stream) {
            const qint64 at = device.pos();
            device.seek(device.size());
            device.write(&byte, 1);
            device.seek(at);
            while (KTFrame::read(&device, blockSize, 1024, &payload) == KTFrame::Complete)
                texts << KTFrame::decode(payload, 1024);
        }
        QCOMPARE(texts, QStringList({"<uno/>", "<dos/>"}));

        QBuffer huge;
        huge.setData(KTRawFrames::bigEndian64(1025) + QByteArray(16, 'x'));
        huge.open(QIODevice::ReadOnly);
        blockSize = 0;
        QCOMPARE(KTFrame::read(&huge, blockSize, 1024, &payload), KTFrame::TooLarge);
        QBuffer enormous;
        enormous.setData(KTRawFrames::bigEndian64(~quint64(0)));
        enormous.open(QIODevice::ReadOnly);
        blockSize = 0;
        QCOMPARE(KTFrame::read(&enormous, blockSize, 1024, &payload), KTFrame::TooLarge);
    }

    void documentBounds_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<bool>("accepted");
        const auto repeat = [](const char* text, qint64 times) { return QString::fromLatin1(text).repeated(times); };
        QTest::newRow("request") << "<?xml version=\"1.0\"?><!-- x --><a k=\"v\"><b/><c>t</c></a>" << true;
        QTest::newRow("markup in comments and text")
            << "<a><!-- " + repeat("<b>", 1000) + " --><![CDATA[" + repeat("<c>", 1000) + "]]>&lt;d&gt;</a>" << true;
        QTest::newRow("deepest allowed") << repeat("<a>", KTXmlGuard::full.depth) + repeat("</a>", KTXmlGuard::full.depth)
                                         << true;
        QTest::newRow("one level deeper")
            << repeat("<a>", KTXmlGuard::full.depth + 1) + repeat("</a>", KTXmlGuard::full.depth + 1) << false;
        // Empty-element ends in text and comments once hid nesting from a count of "/>".
        QTest::newRow("nesting behind /> in text") << "<r>" + repeat("/>", 5000) + repeat("<a>", 5000) << false;
        QTest::newRow("nesting behind /> in a comment") << "<r><!--" + repeat("/>", 5000) + "-->" + repeat("<a>", 5000)
                                                        << false;
        QTest::newRow("markup in an attribute") << "<r x=\"" + repeat("<a>", 5000) + "\"/>" << false;
        QTest::newRow("a million levels") << repeat("<a>", 1000000) << false;
        QTest::newRow("pretty printed siblings")
            << "<r>\n" + repeat("  <a/>\n", KTXmlGuard::full.nodes - 1) + "</r>" << true;
        QTest::newRow("too many siblings") << "<r>" + repeat("<a/>", KTXmlGuard::full.nodes) + "</r>" << false;
        QTest::newRow("millions of siblings") << "<r>" + repeat("<a/>", 3000000) + "</r>" << false;
        QTest::newRow("too many comments") << "<r>" + repeat("<!---->", KTXmlGuard::full.nodes) + "</r>" << false;
        QString attributes;
        for (int i = 0; i <= KTXmlGuard::full.elementAttributes; ++i)
            attributes += QStringLiteral(" a%1=\"\"").arg(i);
        QTest::newRow("attributes past the element bound") << "<r" + attributes + "/>" << false;
        const QString element = "<e" + attributes.section(' ', 0, KTXmlGuard::full.elementAttributes) + "/>";
        const qint64 elements = KTXmlGuard::full.attributes / KTXmlGuard::full.elementAttributes;
        QTest::newRow("attributes spread to the bound") << "<r>" + element.repeated(elements) + "</r>" << true;
        QTest::newRow("attributes spread past the bound") << "<r>" + element.repeated(elements + 1) + "</r>" << false;
        QTest::newRow("huge attribute") << "<r a=\"" + QString(KTXmlGuard::full.characters, 'x') + "\"/>" << false;
        QTest::newRow("huge text") << "<r>" + QString(KTXmlGuard::full.characters + 1, 'x') + "</r>" << false;
        QTest::newRow("huge comment") << "<r><!--" + QString(KTXmlGuard::full.characters + 1, 'x') + "--></r>" << false;
        QTest::newRow("huge name") << "<" + QString(KTXmlGuard::full.characters + 1, 'x') + "/>" << false;
        QTest::newRow("entity declarations")
            << "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>" << false;
        QTest::newRow("not well formed") << "<r><a></r>" << false;
        QTest::newRow("empty") << QString() << false;
    }

    void documentBounds()
    {
        QFETCH(QString, xml);
        QFETCH(bool, accepted);
        KTXmlGuard guard;
        QCOMPARE(guard.accepts(xml), accepted);
        QCOMPARE(guard.errorString().isEmpty(), accepted);
        // The reader the connection uses refuses exactly what the guard refuses.
        KTRequestDocument document;
        QCOMPARE(document.read(xml), accepted);
        QCOMPARE(document.documentElement().isNull(), !accepted);
    }

    // Components were written against a DOM; the one-pass reader must hand
    // them the same names, attributes and texts.
    void requestDocumentReadsAsTheDom_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::newRow("action request")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ActionRequest>\n  <DbSelectSercom ObjectType=\"2\" "
               "ObjectName=\"frmCliente\">\n    <Table>salCustomer</Table>\n    <Fields>a</Fields>\n    <Fields>b</Fields>\n"
               "    <Condition>  x &lt; 3 &amp;&amp; y = 'ñ'  </Condition>\n    <Empty/>\n    <Blank>   </Blank>\n"
               "  </DbSelectSercom>\n  <BroadcastUsers Logins=\"a,b\"/>\n</ActionRequest>";
        QTest::newRow("mixed text") << "<r>uno<a>dos<b>tres</b></a> cuatro <c/>cinco</r>";
        QTest::newRow("cdata and references") << "<r><a><![CDATA[<b>&amp;</b>]]>&#233;&#x41;</a><b><![CDATA[  ]]></b></r>";
        QTest::newRow("comments and instructions") << "<r><!-- no --><?pi data?><a>x<!-- y -->z</a></r>";
        QTest::newRow("declared prefixes") << "<p:r xmlns:p=\"urn:x\" p:k=\"v\" k=\"w\"><p:a>t</p:a></p:r>";
        QTest::newRow("attribute entities") << "<r k=\"&lt;&quot;&apos;\" n=\"\"/>";
        QTest::newRow("line ends") << "<r><a>uno\r\ndos\rtres</a></r>";
    }

    void requestDocumentReadsAsTheDom()
    {
        QFETCH(QString, xml);
        QDomDocument dom;
        QVERIFY(dom.setContent(xml.toUtf8(), false));
        KTRequestDocument document;
        QVERIFY2(document.read(xml), qPrintable(document.errorString()));
        QCOMPARE(describe(document.documentElement()), describe(dom.documentElement()));
    }
};

QTEST_GUILESS_MAIN(tst_KTFrame)
#include "tst_ktframe.moc"
