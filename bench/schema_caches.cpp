// Cost of making a sample configuration and of reloading the lookup caches.
#include "support/Fixture.h"

#include "engine/Caches.h"
#include "core/SampleConfig.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

static void BM_CreateSampleConfiguration(benchmark::State &state) {
    QTemporaryDir dir;
    for (auto _ : state) sample::createConfiguration(dir.path() + QStringLiteral("/config"), 2024);
}
BENCHMARK(BM_CreateSampleConfiguration)->Unit(benchmark::kMillisecond);

static void BM_ReloadCaches(benchmark::State &state) {
    SampleFixture fx;
    for (auto _ : state) caches::reloadAll();
}
BENCHMARK(BM_ReloadCaches)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
