#pragma once
// What the fuzz targets share. Each target (fuzz/<name>.cpp) defines
// LLVMFuzzerTestOneInput for one reader of outside input and checks, besides
// what the sanitizers see, the reader's own promise: what a writer writes
// reads back equal, a load changes only what its file says, every failure is
// an AppError (a Russian text, never a library's English one).
//
// Built with -DKELVANA_FUZZ=ON (clang, libFuzzer) each target is a fuzzer;
// in the ordinary build each is a replay program (fuzz/Replay.cpp) that
// feeds it the files of the folders it is given, which ctest runs on the
// seeds (fuzz/Seeds.cpp) and on the inputs saved under fuzz/corpus/<name>/.
#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <functional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// One input through the target's reader: each target defines it;
// LLVMFuzzerTestOneInput (fuzz/Entry.cpp) calls it.
void input(const QByteArray &in);

// The oracles the environment variable KELVANA_FUZZ_KNOWN names (parts of
// their words, separated by "|") are findings known already: a run of the
// fuzzer leaves an input that meets one and goes on to the next. The tests
// never set it.
struct Known {};

// The application object, the C locale, a scratch folder of the process and
// a dialog seam nobody answers (every question Yes, every choice cancelled);
// called first by every target (once is enough, more are free).
void init();

// A finding: the oracle's words and what it saw go to stderr, then the
// process aborts, which the fuzzer and the replay both count as a failure
// (unless the finding is Known, which is thrown instead).
[[noreturn]] void fail(const QString &what, const QString &detail = {});
inline void check(bool ok, const char *what, const QString &detail = {}) {
    if (!ok) fail(QString::fromUtf8(what), detail);
}

QByteArray bytes(const uint8_t *data, size_t size);
// A file of the scratch folder holding the bytes (the same name each time:
// one input at a time).
QString writeInput(const QByteArray &bytes, const QString &fileName);
// Office files as fuzz inputs: the parts of the package one after another,
// each behind a line "\0\0PART <name>", so that the fuzzer changes the XML
// itself rather than the compressed bytes. partsOf reads a file into that
// form (the seeds); writePackage makes the file of an input (empty when the
// input names no part).
QByteArray partsOf(const QString &officeFile);
QString writePackage(const QByteArray &parts, const QString &fileName);

// A fresh empty folder of the scratch folder.
QString emptyFolder(const QString &name);
QString scratch();   // ends with '/'

// Runs a reader; a failure it reports as an AppError is an answer, any other
// exception a finding. False when the reader refused (threw an AppError).
bool answers(const char *reader, const std::function<void()> &work);

// The sample configuration (core/SampleConfig), made once per process in
// the scratch folder and open as "dbmain" and "dbdat" with the caches
// filled, the shared state on its year.
struct Sample {
    QString programFolder, configFolder, yearFolder;   // each ends with '/'
    int year = 0;
};
const Sample &sample();

// Runs work inside one transaction of each database that is rolled back
// afterwards whatever happens, so that the next input meets the sample as it
// was made; the caches are read again when refreshCaches is set (work that
// changes the catalogue). Returns what answers() returns.
bool rolledBack(const char *reader, const std::function<void()> &work, bool refreshCaches = false);

// Relative equality of stored values (15 significant digits are kept).
bool sameValue(double a, double b);

// Whether a line of a control run's list ("left relation right", then a Tab
// and the rest) shows both sides of a rule of that relation reduced to numbers.
bool sidesAreNumbers(const QString &line, const QString &relation);

} // namespace fuzz
