// Speed of producing office files of a typical report form.
//   FillWordTable:  a 40 x 20 table of a document filled cell by cell, then saved
//   WriteSheet:     a 50 x 30 sheet with header merges, formats and borders, saved
//   ReadSheet:      the same sheet read back
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/WordDocument.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRows = 40, kCols = 20;
constexpr int kSheetRows = 50, kSheetCols = 30;

QTemporaryDir &dir() {
    static QTemporaryDir d;
    return d;
}

void FillWordTable(benchmark::State &state) {
    const QString file = dir().filePath("form.docx");
    for (auto _ : state) {
        office::WordDocument doc = office::WordDocument::createBlank();
        office::WordTable t = doc.addTable(kRows, kCols);
        for (int r = 1; r <= kRows; ++r)
            for (int c = 1; c <= kCols; ++c) t.setCellText(r, c, QString::number(r * 1000 + c + 0.5));
        doc.saveAs(file);
    }
    state.SetItemsProcessed(state.iterations() * kRows * kCols);
}
BENCHMARK(FillWordTable)->Unit(benchmark::kMillisecond);

void buildSheet(office::ExcelSheet &s) {
    s.setValue(1, 1, QStringLiteral("ЦРБ - (1000) - Таблица"));
    for (int c = 2; c <= kSheetCols + 1; ++c) s.setColumnWidth(c, 12);
    for (int c = 2; c <= kSheetCols; c += 3) {
        s.range(2, c, 2, c + 2).merge().setNumberFormat("@").setWrapText(true).setBold(true)
            .setHorizontalAlignment(office::HAlign::Center);
        s.setValue(2, c, QStringLiteral("Графа %1").arg(c));
    }
    for (int r = 3; r <= kSheetRows + 2; ++r)
        for (int c = 2; c <= kSheetCols + 1; ++c) s.cell(r, c).setNumberFormat("0.00").setValue(r * 0.25 + c);
    s.range(2, 2, kSheetRows + 2, kSheetCols + 1).setAllBorders();
    s.freezePanes(3, 3);
}

void WriteSheet(benchmark::State &state) {
    const QString file = dir().filePath("sheet.xlsx");
    for (auto _ : state) {
        office::ExcelWorkbook book = office::ExcelWorkbook::create();
        buildSheet(book.activeSheet());
        book.saveAs(file);
    }
    state.SetItemsProcessed(state.iterations() * kSheetRows * kSheetCols);
}
BENCHMARK(WriteSheet)->Unit(benchmark::kMillisecond);

void ReadSheet(benchmark::State &state) {
    const QString file = dir().filePath("read.xlsx");
    office::ExcelWorkbook book = office::ExcelWorkbook::create();
    buildSheet(book.activeSheet());
    book.saveAs(file);
    for (auto _ : state) {
        office::ExcelWorkbook b = office::ExcelWorkbook::open(file);
        benchmark::DoNotOptimize(b.sheet(1).value(kSheetRows, kSheetCols));
    }
    state.SetItemsProcessed(state.iterations() * kSheetRows * kSheetCols);
}
BENCHMARK(ReadSheet)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
