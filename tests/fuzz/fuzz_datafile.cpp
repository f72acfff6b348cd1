// Data files as the database library turns them into INSERT statements,
// through the MySQL dialect map, with and without a bound binary column.

#include <KTDatabaseParser.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

struct Setting {
    QTemporaryDir dir;
    KTDatabaseParser parser;
    Setting()
    {
        parser.loadMapPlugins(qEnvironmentVariable("OMBRIX_APP_DIR") + QStringLiteral("/OmbrixServerComponents/OmbrixDbMaps"),
                              QStringLiteral("MySqlDialectMap"));
    }
};

Setting& setting()
{
    static int argc = 1;
    static char name[] = "fuzz_datafile";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    static Setting instance;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Setting& s = setting();
    QFile file(s.dir.filePath(QStringLiteral("invProduct.odd")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    file.open(QIODevice::ReadOnly);
    s.parser.createDataFromFile(file);
    file.seek(0);
    // Blob names are looked up in an empty folder of the fuzzer's own.
    s.parser.createDataFromFileBindingBlobs(file, 2, s.dir.path());
    return 0;
}
