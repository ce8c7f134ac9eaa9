#pragma once
// The print tests' fixture: the sample year with a print template of Ф30 whose
// every cell is marked. Used by the print tests and the forms-tree commands
// that print.
#include "core/SampleConfig.h"
#include "forms/output/WordOutput.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/office/WordDocument.h"
#include "support/WindowTestBase.h"

struct WordOutputTest : InputWindowTest {
    void SetUp() override {
        InputWindowTest::SetUp();
        // The print template of Ф30: one 10 x 10 table, every cell marked.
        office::WordDocument t = office::WordDocument::createBlank();
        t.insertBefore("Форма 30");
        office::WordTable table = t.addTable(10, 10);
        for (int r = 1; r <= 10; ++r)
            for (int c = 1; c <= 10; ++c) table.setCellText(r, c, QStringLiteral("т%1.%2").arg(r).arg(c));
        t.saveAs(fx.yearFolder() + "forms/Ф30.docx");
    }

    wordout::PrintContext context(qint64 institution, qint64 form = sample::ids::FormF30, const QString &name = "Ф30") {
        wordout::PrintContext c;
        c.formId = form;
        c.formName = name;
        c.institution = institution;
        c.yearFolder = fx.yearFolder();
        c.yearText = QString::number(fx.year());
        return c;
    }
    void writeMapping(const QStringList &lines) {
        ASSERT_TRUE(cp1251::writeLines(fx.yearFolder() + "forms/Ф30.txt", lines));
    }
    void setValue(qint64 hosp, int table, int column, int row, double v) {
        db::exec(db::connection(db::kData),
                 "update data set data=? where hospital=? and \"table\"=? and \"column\"=? and \"row\"=?",
                 {v, hosp, table, column, row});
    }
};
