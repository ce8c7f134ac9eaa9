// The fuzz target as an ordinary program: every file of the folders (and
// every file) named on the command line goes once through
// LLVMFuzzerTestOneInput, in name order. A finding aborts, naming the file
// it came from; otherwise the count of inputs is printed. No input at all is
// a failure too: a folder that lost its files would pass unseen.
#include "fuzz/Fuzz.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv) {
    fuzz::init();
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            QDirIterator it(arg, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) files << it.next();
        } else if (QFileInfo(arg).isFile()) {
            files << arg;
        }
    }
    std::sort(files.begin(), files.end());
    for (const QString &path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray input = f.readAll();
        std::fprintf(stderr, "%s\n", qPrintable(path));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
    }
    std::printf("%lld input(s) replayed\n", static_cast<long long>(files.size()));
    return files.isEmpty() ? 1 : 0;
}
