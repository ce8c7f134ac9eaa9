#pragma once
// TSBY, TGBP, TAboutForm: small dialogs of the main window.
// Small dialogs of the main window: the year choice (TSBY), the folder and
// name of a configuration to attach or copy (TGBP) and the About box.
#include "widgets/AbcComboBox.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Year choice: caption given by the caller, the years in a list that takes
// a typed year too.
class TSBY : public QDialog {
    Q_OBJECT
public:
    explicit TSBY(QWidget *parent = nullptr);
    void setYears(const QStringList &years);
    // What to choose, shown above the list as well as in the caption (which
    // a narrow window cuts).
    void setPrompt(const QString &text);
    // The chosen or typed year, trimmed.
    QString year() const;
    QComboBox *yearBox() const { return m_ui.choice; }

private:
    struct Widgets {
        QLabel *prompt = nullptr;    // hidden until a prompt is given
        QComboBox *choice = nullptr;
        QPushButton *ok = nullptr;   // "OK"
    };
    Widgets m_ui;
};

// Choice of another configuration when the one to open cannot be opened.
class TSelectConfig : public QDialog {
    Q_OBJECT
public:
    explicit TSelectConfig(const QString &reason, const QStringList &names, QWidget *parent = nullptr);
    // The index of the chosen name in names.
    int chosenIndex() const;
    QComboBox *choiceBox() const { return m_ui.choice; }
    QString reasonText() const;

private:
    struct Widgets {
        QLabel *reason = nullptr;
        TabcLRComboBox *choice = nullptr;
        QPushButton *ok = nullptr;       // "OK"
        QPushButton *cancel = nullptr;   // "Отказ"
    };
    Widgets m_ui;
};

// Name and folder of a configuration. The folder is typed or chosen with
// the folder button; the list below shows the database files found there.
class TGBP : public QDialog {
    Q_OBJECT
public:
    explicit TGBP(const QString &initialFolder, QWidget *parent = nullptr);

    void setFolder(const QString &folder);
    // The name and folder as typed.
    QString name() const;
    QString folder() const;
    // The folder is given: it is shown, not typed.
    void lockFolder();
    // What tests reach of the widgets.
    QLineEdit *nameEdit() const { return m_ui.name; }
    QLineEdit *folderEdit() const { return m_ui.folder; }
    QPushButton *okButton() const { return m_ui.ok; }

private:
    void updateOk();
    void listFiles();

    struct Widgets {
        QLabel *nameCaption = nullptr;     // "Название базы данных"
        QLineEdit *name = nullptr;
        QLabel *folderCaption = nullptr;   // "Расположение"
        QLineEdit *folder = nullptr;
        QPushButton *folderButton = nullptr;
        QListWidget *files = nullptr;      // "*.mdb", disabled
        QPushButton *ok = nullptr;         // "OK", enabled exactly when the name is not empty
        QPushButton *cancel = nullptr;     // "Отказ"
    };
    Widgets m_ui;
};

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *parent = nullptr);
};
