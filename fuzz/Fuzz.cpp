#include "fuzz/Fuzz.h"

#include "core/SampleConfig.h"
#include "engine/Caches.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Paths.h"
#include "platform/office/OfficeError.h"
#include "platform/office/Package.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzz {

namespace {

QTemporaryDir *scratchDir = nullptr;

// Nobody is there to answer: every question is answered Yes (the answer
// that changes something, so that its path is fuzzed too), every choice and
// window is cancelled, every message is dropped.
class Unattended : public DialogProvider {
public:
    void message(QWidget *, const QString &, MsgKind) override {}
    bool question(QWidget *, const QString &, const QString &) override { return true; }
    int questionCancel(QWidget *, const QString &, const QString &) override { return 1; }
    std::optional<QString> inputText(QWidget *, const QString &, const QString &, const QString &) override {
        return std::nullopt;
    }
    QString openFile(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString saveFile(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
    int execModal(QDialog *) override { return 0; }
    bool openDocument(const QString &) override { return true; }
};

// Rollbacks are all the sample's databases see: the disk is not waited for.
void quickWrites(const QString &connection) {
    const QSqlDatabase d = db::connection(connection);
    db::exec(d, QStringLiteral("PRAGMA synchronous=OFF"));
    db::exec(d, QStringLiteral("PRAGMA journal_mode=MEMORY"));
}

} // namespace

void init() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    QLocale::setDefault(QLocale::c());
    // The program's debug lines (each statement of an import) would cost
    // more than the input.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    static Unattended unattended;
    setDialogs(&unattended);
    scratchDir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/kelvana-fuzz-XXXXXX"));
    if (!scratchDir->isValid()) fail("no scratch folder", QDir::tempPath());
    // The scratch folder goes however the process ends (the fuzzer leaves
    // through exit()).
    std::atexit([] { delete scratchDir; });
}

QString scratch() {
    init();
    return scratchDir->path() + QLatin1Char('/');
}

void fail(const QString &what, const QString &detail) {
    static const QStringList known =
        qEnvironmentVariable("KELVANA_FUZZ_KNOWN").split(u'|', Qt::SkipEmptyParts);
    for (const QString &k : known)
        if (what.contains(k)) throw Known{};
    QString shown = detail;
    shown.replace(QChar(0), QStringLiteral("\\0"));
    std::fprintf(stderr, "\n==== finding: %s\n%s\n", what.toUtf8().constData(), shown.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

QByteArray bytes(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

QString writeInput(const QByteArray &content, const QString &fileName) {
    const QString path = scratch() + fileName;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        fail("scratch file not written", path);
    return path;
}

namespace {
const QByteArray kPartMark("\0\0PART ", 7);
}

QByteArray partsOf(const QString &officeFile) {
    const office::Package p = office::Package::read(officeFile);
    QByteArray out;
    for (const QString &name : p.names()) out += kPartMark + name.toUtf8() + '\n' + p.part(name);
    return out;
}

QString writePackage(const QByteArray &parts, const QString &fileName) {
    office::Package p;
    qsizetype at = parts.indexOf(kPartMark);
    while (at >= 0) {
        const qsizetype nameStart = at + kPartMark.size();
        const qsizetype lineEnd = parts.indexOf('\n', nameStart);
        if (lineEnd < 0) break;
        const qsizetype next = parts.indexOf(kPartMark, lineEnd + 1);
        const QString name = QString::fromUtf8(parts.mid(nameStart, lineEnd - nameStart));
        const QByteArray data = parts.mid(lineEnd + 1, next < 0 ? -1 : next - lineEnd - 1);
        if (!name.isEmpty() && !p.has(name)) p.setPart(name, data);
        at = next;
    }
    if (p.names().isEmpty()) return {};
    const QString path = scratch() + fileName;
    try {
        p.write(path);
    } catch (const office::Error &) {
        return {};   // names no archive can hold: no file to open
    }
    return path;
}

QString emptyFolder(const QString &name) {
    const QString path = scratch() + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path + QLatin1Char('/');
}

bool answers(const char *reader, const std::function<void()> &work) {
    try {
        work();
        return true;
    } catch (const AppError &) {
        return false;
    } catch (const Cancelled &) {
        fail(QStringLiteral("%1: cancelled with nobody asking").arg(QString::fromUtf8(reader)));
    } catch (const std::exception &e) {
        fail(QStringLiteral("%1 let a failure through that is not told in Russian").arg(QString::fromUtf8(reader)),
             QString::fromUtf8(typeid(e).name()) + QStringLiteral(": ") + QString::fromUtf8(e.what()));
    }
}

const Sample &sample() {
    static std::unique_ptr<Sample> made;
    if (made) return *made;
    init();
    made = std::make_unique<Sample>();
    Sample &s = *made;
    s.year = 2024;
    s.programFolder = scratch() + QStringLiteral("program/");
    s.configFolder = scratch() + QStringLiteral("config/");
    s.yearFolder = s.configFolder + QString::number(s.year) + QLatin1Char('/');
    const bool made_ = answers("the sample configuration", [&] {
        paths::makePath(s.programFolder);
        paths::setProgramFolder(s.programFolder);
        sample::createProgramFiles(s.programFolder);
        sample::createConfiguration(s.configFolder, s.year);
        sample::registerConfiguration(paths::settingsFile(), QStringLiteral("Образец"), s.configFolder, s.year);
        db::open(db::kMain, s.yearFolder + QStringLiteral("orvmain.mdb"));
        db::open(db::kData, s.yearFolder + QStringLiteral("data0.mdb"));
        quickWrites(db::kMain);
        quickWrites(db::kData);
        SharedState &st = shared();
        st.ConfigName = QStringLiteral("Образец");
        st.ConfigPath = s.configFolder;
        st.Year = s.year;
        caches::reloadAll();
    });
    if (!made_) fail("the sample configuration could not be made");
    return s;
}

bool rolledBack(const char *reader, const std::function<void()> &work, bool refreshCaches) {
    sample();
    struct Undo {};
    bool answered = true;
    try {
        db::transaction(db::connection(db::kMain), [&] {
            db::transaction(db::connection(db::kData), [&] {
                answered = answers(reader, work);
                throw Undo{};
            });
        });
    } catch (const Undo &) {
    } catch (const std::exception &e) {
        fail("the sample's transactions failed", QString::fromUtf8(e.what()));
    } catch (...) {
        if (refreshCaches) caches::reloadAll();
        throw;   // a known finding: the next input meets the sample as it was made
    }
    if (refreshCaches) caches::reloadAll();
    return answered;
}

bool sameValue(double a, double b) {
    if (a == b) return true;
    return std::fabs(a - b) <= 1e-14 * std::max(std::fabs(a), std::fabs(b));
}

bool sidesAreNumbers(const QString &line, const QString &relation) {
    const QString sides = line.section(u'\t', 0, 0);
    const qsizetype at = sides.indexOf(relation, 1);
    return at > 0 && IsNumberText(sides.left(at)) && IsNumberText(sides.mid(at + relation.size()));
}

} // namespace fuzz
