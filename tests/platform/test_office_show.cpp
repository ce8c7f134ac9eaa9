#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"
#include "support/FakeDialogs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace office;

namespace {

// Messages are recorded, but documents go to the real desktop opener.
class RealOpenerDialogs : public FakeDialogs {
public:
    bool openDocument(const QString &path) override {
        opened.append(path);
        return openWithDesktop(path, [this, path] { messages.append(documentNotOpenedText(path)); });
    }
};

// Lets the openers run to their end (they report through the event loop).
void waitForOpeners() {
    QElapsedTimer t;
    t.start();
    while (desktopOpenersRunning() > 0 && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A desktop made of scripts on PATH: "xdg-mime" names the default application (or none), "xdg-open" records its
// argument and ends with the given status; without an opener script the opener cannot be started.
class FakeDesktop {
public:
    FakeDesktop(const QString &defaultApp, int openerExit, bool haveOpener, int seconds = 0)
        : savedPath_(qgetenv("PATH")) {
        script("xdg-mime", "echo '" + defaultApp.toUtf8() + "'\n");
        if (haveOpener)
            script("xdg-open", "printf '%s' \"$1\" > '" + QFile::encodeName(dir_.filePath("arg")) + "'\n/bin/sleep " +
                                   QByteArray::number(seconds) + "\nexit " + QByteArray::number(openerExit) + "\n");
        qputenv("PATH", QFile::encodeName(dir_.path()));
    }
    ~FakeDesktop() { qputenv("PATH", savedPath_); }
    QString openedArgument() const {
        QFile f(dir_.filePath("arg"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    void script(const char *name, const QByteArray &body) {
        QFile f(dir_.filePath(QLatin1String(name)));
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n" + body);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QTemporaryDir dir_;
    QByteArray savedPath_;
};

} // namespace

// A document that cannot be opened is never taken for shown: the user learns
// the full path of the file it was saved to. One that opens is not talked about.
TEST(OfficeShow, FailingOpenerIsReportedWithTheSavedFile) {
    struct Case {
        const char *what;
        QString defaultApp;
        int openerExit;
        bool haveOpener;
        bool opens;
        int seconds = 0;   // the opener ends that late
    };
    const Case cases[] = {
        {"opener succeeds", "viewer.desktop", 0, true, true},
        {"opener ends with an error", "viewer.desktop", 1, true, false},
        {"opener ends with an error after 6 s", "viewer.desktop", 1, true, false, 6},
        {"no application for the type", "", 0, true, false},
        {"no opener at all", "viewer.desktop", 0, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir out;
        FakeDesktop desktop(c.defaultApp, c.openerExit, c.haveOpener, c.seconds);
        RealOpenerDialogs dialogs;
        WordDocument doc = WordDocument::createBlank();
        doc.addParagraph(QStringLiteral("Текст"));
        QElapsedTimer shown;
        shown.start();
        const QString file = office::show(doc, QStringLiteral("Контроли"), out.path());
        EXPECT_LT(shown.elapsed(), 2000);   // the window is not held while the opener runs
        waitForOpeners();
        EXPECT_TRUE(QFileInfo::exists(file));
        if (c.haveOpener && !c.defaultApp.isEmpty()) EXPECT_EQ(desktop.openedArgument(), file);
        if (c.opens) {
            EXPECT_TRUE(dialogs.messages.isEmpty());
            continue;
        }
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages.first().startsWith(QStringLiteral("Не удалось открыть документ")));
        EXPECT_TRUE(dialogs.messages.first().contains(QStringLiteral("Документ сохранен в файле ") + file));

        // A workbook and a document opened again are reported alike.
        ExcelWorkbook book = ExcelWorkbook::create();
        const QString xlsx = office::show(book, QStringLiteral("Таблица"), out.path());
        office::showFile(xlsx);
        waitForOpeners();
        EXPECT_EQ(dialogs.messages.size(), 3);
        EXPECT_TRUE(dialogs.messages.last().contains(xlsx));
    }
}
