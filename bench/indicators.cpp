// Speed of indicator evaluation over the sample configuration:
//   EvaluateSet:   a set of 30 rows x 4 columns over three tables, mode "Types"
//                  with every institution (one table load per table)
//   SplitRow:      the split of one row of that set by the 12 institutions
//                  (one query per reference and institution)
#include "support/Fixture.h"

#include "engine/SharedState.h"
#include "reports/IndicatorEval.h"

#include <QApplication>
#include <benchmark/benchmark.h>

using namespace indicators;

namespace {

struct Setup {
    SampleFixture fixture;
    qint64 term = 0;
    Setup() {
        fixture.reloadCaches();
        term = AddSet(QStringLiteral("Замер"), 0);
        const QStringList refs = {QStringLiteral("Ф30Т[1000]СТР[1..5]ГР%1"), QStringLiteral("Ф30Т[2000]СТР%2ГР[4,5]"),
                                  QStringLiteral("Ф14Т[1000]СТР1ГР%1")};
        for (int r = 1; r <= 30; ++r)
            for (int c = 1; c <= 4; ++c) {
                auto ref = [&](int i, int column, int row) {
                    return QString(refs[i % 3])
                        .replace(QStringLiteral("%1"), QString::number(column))
                        .replace(QStringLiteral("%2"), QString::number(row));
                };
                const QString a = ref(r + c, 4 + c % 2, 1 + r % 3);
                const QString b = ref(r + c + 1, 4 + r % 2, 1 + c % 3);
                StoreGridCell(term, c, r, a + QStringLiteral("*100/") + b, 64, 20);
            }
    }
    const WorkContext work{ReportMode::Types, ValueTable::Data, false, 0,
                           QStringLiteral("5,6,7,8,9,10,11,12,13,14,15,16")};
};

Setup &setup() {
    static Setup s;
    return s;
}

void BM_EvaluateSet(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) benchmark::DoNotOptimize(EvaluateSet(s.work, s.term));
}
BENCHMARK(BM_EvaluateSet)->Unit(benchmark::kMillisecond);

void BM_SplitRow(benchmark::State &state) {
    Setup &s = setup();
    const EvaluatedSet e = EvaluateSet(s.work, s.term);
    for (auto _ : state) benchmark::DoNotOptimize(SplitByUnits(e, 1, {1, 2, 3, 4}));
}
BENCHMARK(BM_SplitRow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
