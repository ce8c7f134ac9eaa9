#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"
#include "support/FakeDialogs.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace office;

namespace {

// A desktop without a program for the document.
class NoViewerDialogs : public FakeDialogs {
public:
    bool openDocument(const QString &path) override {
        opened.append(path);
        return false;
    }
};

} // namespace

// Printing must never end in silence: when the document cannot be opened the
// user learns where it was saved; when it opens nothing is said.
TEST(OfficeShow, DocumentThatCannotBeOpenedIsReportedWithItsFile) {
    QTemporaryDir dir;
    {
        NoViewerDialogs dialogs;
        WordDocument doc = WordDocument::createBlank();
        doc.addParagraph(QStringLiteral("Текст"));
        const QString file = office::show(doc, QStringLiteral("Контроли"), dir.path());
        EXPECT_TRUE(QFileInfo::exists(file));
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages.first().startsWith(QStringLiteral("Не удалось открыть документ")));
        EXPECT_TRUE(dialogs.messages.first().contains(file));

        office::showFile(file);
        EXPECT_EQ(dialogs.messages.size(), 2);
    }
    {
        FakeDialogs dialogs;
        ExcelWorkbook book = ExcelWorkbook::create();
        book.addSheet().setValue(1, 1, QStringLiteral("1"));
        const QString file = office::show(book, QStringLiteral("Таблица"), dir.path());
        EXPECT_EQ(dialogs.opened, QStringList{file});
        EXPECT_TRUE(dialogs.messages.isEmpty());
    }
}
