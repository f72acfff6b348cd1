// Runs a fuzz target over every file of the folders given, as libFuzzer
// would run one input: the corpus and the inputs that once crashed become a
// test of the normal build.

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTextStream>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int inputs = 0;
    for (const QString& folder : app.arguments().mid(1)) {
        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                return 2;
            const QByteArray input = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
            ++inputs;
        }
    }
    QTextStream(stdout) << inputs << " inputs\n";
    return inputs > 0 ? 0 : 1;
}
