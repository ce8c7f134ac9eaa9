// Lists of many huge ranges cost their items times the table in every reader: the rule run, the check, the table
// window's highlighting and the decipher, in a child process whose address space is limited to 1 GB.
#include "core/FormulaHighlighter.h"
#include "engine/FormulaParser.h"
#include "engine/RuleCheck.h"
#include "engine/RuleEngine.h"
#include "forms/table/ControlHighlight.h"
#include "platform/Database.h"
#include "support/ChildProcess.h"
#include "support/Fixture.h"

#include <QStringList>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

// Peak resident size of the process, in megabytes.
long peakMegabytes() {
    long kb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %ld", &kb) == 1) break;
        std::fclose(f);
    }
    return kb / 1024;
}

// Ф30 (1000): rows 1..5, columns 4..7 (fixcols 3, fixrows 3).
bool readHugeLists(QString &report) {
    const long before = peakMegabytes();
    const rlimit r{rlim_t(1) << 30, rlim_t(1) << 30};
    if (setrlimit(RLIMIT_AS, &r) != 0) return false;
    QStringList ranges;
    for (int i = 0; i < 3000; ++i) ranges << (i % 2 ? "1..99999999999999999999" : "1..999999999");
    const QString huge = ranges.join(',');

    RuleRunContext context;
    context.institution = 9;
    RuleRun run(context);
    run.addRule(1, "СТР[" + huge + "]ГР4", "0", ">=", "строки", "");
    run.addRule(2, "СТР1ГР[" + huge + "]", "0", ">=", "графы", "");
    run.addRule(3, "СТР1", "0", ">=", "цикл", "ГР[" + huge + "]");
    run.runControls("Ф30Т[1000]");
    const QStringList errors = run.errors().texts();
    // Each item of the cycle is column 1 (outside) and 4..7; each position is checked once.
    const int cycleLines = int(errors.filter("\tцикл").size());
    const int outsideCycle = int(errors.filter(QRegularExpression("^ВПТ Ф30\\(1000\\) гр1стр1.*\tцикл$")).size());

    const bool refused = !rulecheck::CheckRule(db::connection(db::kMain),
                                               {"Ф30", "(1000)", "СТР[" + huge + "]ГР4", "=", "0", ""});

    ControlCountList counts;
    CountRuleSideCells(counts, "СТР[" + huge + "]ГР[" + huge + "]", "", 0, "", "", 3, 3, {7, 5});
    CountRuleSideCells(counts, "СТР1", "ГР[" + huge + "]", 0, "", "", 3, 3, {7, 5});
    const bool covers = RuleSideCoversCell("Ф30Т[1000]СТР[" + huge + "]ГР4", "", 5, "(1000)", "Ф30", 2, 3, 3, 4);
    const QList<MarkedCell> marked = ReferenceCells("Ф30Т[1000]СТР[" + huge + "]ГР[" + huge + "]", 3, {7, 5});
    const QString rowsOnly = ParseRowRef("Ф30Т[1000]СТР[" + huge + "]ГР4", {1, 5, 4, 7});

    const QString decipher = BuildDecipher("Ф30Т[1000]СТР[" + huge + "]ГР[" + huge + "]");

    const long grown = peakMegabytes() - before;
    report = QStringLiteral("lines %1, cycle %2/%3, counts %4 (%5), covers %6, marked %7, rows text %8, decipher %9, "
                            "grown %10 MB").arg(errors.size()).arg(cycleLines).arg(outsideCycle)
                 .arg(counts.size()).arg(counts.value(MakeCellKey(0, 0)).IntraTableCount).arg(covers).arg(marked.size())
                 .arg(rowsOnly.size()).arg(decipher.size()).arg(grown);
    return errors.size() >= 3 && errors[0].startsWith("ВПТ Ф30(1000) гр4стр6>=0.00\t") &&
           errors[1].startsWith("ВПТ Ф30(1000) гр1стр1>=0.00\t") && cycleLines >= 1 && cycleLines <= 5 &&
           outsideCycle == 1 && refused && counts.size() == 20 &&
           counts.value(MakeCellKey(0, 0)).IntraTableCount == 2 && covers && marked.size() == 20 &&
           decipher.contains("стр.1..5,6..") && decipher.contains("гр.1..3,4..7,8..") && decipher.size() < 200000 &&
           grown < 300;
}

} // namespace

TEST(HugeLists, EveryReaderCostsItsItemsTimesTheTable) {
    SampleFixture fx;
    fx.reloadCaches();
    const LimitedRun end = runWithFileSizeLimit(-1, readHugeLists);
    EXPECT_TRUE(end.finished) << "the child crashed or ran out of memory";
    EXPECT_TRUE(end.result) << end.message.toStdString();
}
