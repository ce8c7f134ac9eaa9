// Zip archives through both readers: the update unpacker
// (updates/UpdateSupport, updates/UpdateInstaller: the whole archive, and a
// package by its manifest) and the package of office files
// (platform/office/Package). Oracles: nothing is written outside the folder
// unpacked into; no more comes out than the limit; a package read is written
// and read back with the same parts; a failure is a Russian message.
#include "fuzz/Fuzz.h"

#include "platform/office/Package.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateSupport.h"

#include <QDirIterator>
#include <QFileInfo>

namespace {

constexpr qint64 kLimit = 8 * 1024 * 1024;

// Every file and folder under the scratch folder but the one unpacked into,
// with the sizes of the files.
QStringList besides(const QString &unpacked) {
    QStringList out;
    QDirIterator it(fuzz::scratch(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        if (!p.startsWith(unpacked)) out << p + u' ' + QString::number(it.fileInfo().size());
    }
    out.sort();
    return out;
}

qint64 unpackedBytes(const QString &folder) {
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        fuzz::check(!it.fileInfo().isSymLink(), "an archive unpacks no link", it.filePath());
        total += it.fileInfo().size();
    }
    return total;
}

void unpack(const char *name, const std::function<bool(const QString &, QString *)> &run) {
    const QString folder = fuzz::emptyFolder(QStringLiteral("unpacked/a"));
    const QStringList before = besides(fuzz::scratch() + QStringLiteral("unpacked/"));
    QString why;
    bool ok = false;
    fuzz::answers(name, [&] { ok = run(folder, &why); });
    fuzz::check(ok || !why.isEmpty(), "a refused archive is refused with a reason", QString::fromUtf8(name));
    fuzz::check(besides(fuzz::scratch() + QStringLiteral("unpacked/")) == before,
                "nothing is written outside the folder unpacked into", QString::fromUtf8(name));
    QDirIterator up(fuzz::scratch() + QStringLiteral("unpacked"), QDir::AllEntries | QDir::NoDotAndDotDot);
    while (up.hasNext())
        fuzz::check(up.next() == fuzz::scratch() + QStringLiteral("unpacked/a"),
                    "nothing is written beside the folder unpacked into", up.filePath());
    fuzz::check(unpackedBytes(folder) <= kLimit, "no more is unpacked than the limit", QString::fromUtf8(name));
}

} // namespace

void fuzz::input(const QByteArray &input) {
    const QString archive = fuzz::writeInput(input, QStringLiteral("input.zip"));
    unpack("the update unpacker",
           [&](const QString &folder, QString *why) { return ExtractZipArchive(archive, folder, {}, kLimit, why); });
    unpack("the unpacker of update packages",
           [&](const QString &folder, QString *why) { return ExtractUpdatePackage(archive, folder, why); });

    office::Package p;
    if (!fuzz::answers("the office package", [&] { p = office::Package::read(archive, kLimit); })) return;
    qint64 total = 0;
    for (const QString &n : p.names()) total += p.part(n).size();
    fuzz::check(total <= kLimit, "a package holds no more than the limit");
    const QString written = fuzz::scratch() + QStringLiteral("written.zip");
    if (!fuzz::answers("writing a package", [&] { p.write(written); })) return;
    const office::Package back = office::Package::read(written, kLimit);
    QStringList names = p.names(), backNames = back.names();
    names.sort();
    backNames.sort();
    fuzz::check(backNames == names, "a package written reads back with its parts", names.join(u' '));
    for (const QString &n : names)
        fuzz::check(back.part(n) == p.part(n), "a package written reads back with the same parts", n);
    return;
}
