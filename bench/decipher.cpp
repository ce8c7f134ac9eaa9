// Speed of the reference decipher on the sample configuration:
//   ExtractReferences:       finding the references of a long control rule (text only)
//   GetDecipher:             one reference with rows and columns against the open year
//   CompareWithPreviousYear: the same plus the previous year's database, opened per call
#include "core/FormulaHighlighter.h"
#include "support/Fixture.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

std::unique_ptr<SampleFixture> g_fixture;
const QString kReference = QStringLiteral("Ф30Т(1000)СТР[1..5]ГР[4..7]");

QString longRule() {
    QStringList parts;
    for (int i = 1; i <= 50; ++i) parts.append(QStringLiteral("Ф30Т(1000)СТР[%1]ГР[4..7]").arg(i % 5 + 1));
    return parts.join(QStringLiteral(" + ")) + QStringLiteral(" >= Ф14Т[1000]СТР1ГР4 AND Ф30Т(2000)СТР1ГР5");
}

void BM_ExtractReferences(benchmark::State &state) {
    const QString rule = longRule();
    TFormulaHighlighter h(nullptr, nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(h.ExtractReferences(rule));
}
BENCHMARK(BM_ExtractReferences);

void BM_GetDecipher(benchmark::State &state) {
    TFormulaHighlighter h(nullptr, nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(h.GetDecipher(kReference));
}
BENCHMARK(BM_GetDecipher);

void BM_CompareWithPreviousYear(benchmark::State &state) {
    TFormulaHighlighter h(nullptr, nullptr);
    QString current, previous;
    bool same = false;
    for (auto _ : state) benchmark::DoNotOptimize(h.CompareWithPreviousYear(kReference, current, previous, same));
    if (!same) state.SkipWithError("the sample's years should decipher alike");
}
BENCHMARK(BM_CompareWithPreviousYear);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_fixture = std::make_unique<SampleFixture>(true);
    g_fixture->reloadCaches();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_fixture.reset();
    return 0;
}
