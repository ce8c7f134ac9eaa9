#pragma once
// Scripted answers for the dialog seam: every message is recorded, every question, input, file choice and modal window
// takes the next scripted answer of its kind (or a default when none is left: No, cancel, Rejected).
#include "platform/Dialogs.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

class FakeDialogs : public DialogProvider {
public:
    FakeDialogs() { setDialogs(this); }
    ~FakeDialogs() override { setDialogs(nullptr); }

    // Scripting.
    std::deque<bool> answers;                        // question()
    std::deque<int> cancelAnswers;                   // questionCancel()
    std::deque<std::optional<QString>> inputs;       // inputText()
    std::deque<QString> files;                       // openFile/saveFile/chooseFolder
    std::deque<QStringList> fileLists;               // openFiles()
    // Modal windows: each handler gets the dialog (fill its fields here) and
    // returns the result; without a handler the window is rejected.
    std::deque<std::function<int(QDialog *)>> modals;

    // What was shown.
    QStringList messages;
    QStringList questions;
    QStringList opened;                              // openDocument()
    QStringList openFolders;                         // the start folder of each openFile() and openFiles()
    QStringList savePaths;                           // the proposed path of each saveFile()
    QStringList modalTitles;

    // Called with each message as it is shown (to look at the files at that moment).
    std::function<void(const QString &)> onMessage;

    void message(QWidget *, const QString &text, MsgKind) override {
        messages.append(text);
        if (onMessage) onMessage(text);
    }
    bool question(QWidget *, const QString &text, const QString &) override {
        questions.append(text);
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    int questionCancel(QWidget *, const QString &text, const QString &) override {
        questions.append(text);
        if (cancelAnswers.empty()) return -1;
        const int a = cancelAnswers.front();
        cancelAnswers.pop_front();
        return a;
    }
    std::optional<QString> inputText(QWidget *, const QString &, const QString &label, const QString &) override {
        questions.append(label);
        if (inputs.empty()) return std::nullopt;
        auto a = inputs.front();
        inputs.pop_front();
        return a;
    }
    QString nextFile() {
        if (files.empty()) return QString();
        QString f = files.front();
        files.pop_front();
        return f;
    }
    QString openFile(QWidget *, const QString &, const QString &dir, const QString &) override {
        openFolders.append(dir);
        return nextFile();
    }
    QStringList openFiles(QWidget *, const QString &, const QString &dir, const QString &) override {
        openFolders.append(dir);
        if (fileLists.empty()) return {};
        QStringList l = fileLists.front();
        fileLists.pop_front();
        return l;
    }
    QString saveFile(QWidget *, const QString &, const QString &path, const QString &) override {
        savePaths.append(path);
        return nextFile();
    }
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return nextFile(); }
    int execModal(QDialog *dialog) override {
        modalTitles.append(dialog->windowTitle());
        if (modals.empty()) return QDialog::Rejected;
        auto h = modals.front();
        modals.pop_front();
        const int r = h(dialog);
        dialog->setResult(r);
        return r;
    }
    bool openDocument(const QString &path) override {
        opened.append(path);
        return true;
    }
    bool sawMessage(const QString &part) const {
        for (const QString &m : messages)
            if (m.contains(part)) return true;
        return false;
    }
};
