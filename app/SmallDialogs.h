#pragma once
// TSBY, TGBP, TAboutForm: small dialogs of the main window.
// Small dialogs of the main window: the year choice (TSBY), the folder and
// name of a configuration to attach or copy (TGBP) and the About box.
#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Year choice: caption given by the caller, the years in ComboBox1.
class TSBY : public QDialog {
    Q_OBJECT
public:
    explicit TSBY(QWidget *parent = nullptr);
    void setYears(const QStringList &years);
    // The chosen or typed year, trimmed.
    QString year() const;
    QComboBox *ComboBox1 = nullptr;
    QPushButton *BitBtn1 = nullptr;   // OK
};

// Choice of another configuration when the one to open cannot be opened.
class TSelectConfig : public QDialog {
    Q_OBJECT
public:
    explicit TSelectConfig(const QString &reason, const QStringList &names, QWidget *parent = nullptr);
    QLabel *Label1 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QPushButton *BitBtn1 = nullptr;   // OK
    QPushButton *BitBtn2 = nullptr;   // "Отказ"
};

// Name and folder of a configuration. The folder is typed or chosen with
// the folder button; the list below shows the database files found there.
class TGBP : public QDialog {
    Q_OBJECT
public:
    explicit TGBP(const QString &initialFolder, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;          // "Название базы данных"
    QLineEdit *Edit1 = nullptr;        // name
    QLabel *Label2 = nullptr;          // "Расположение"
    QLineEdit *Edit2 = nullptr;        // folder
    QPushButton *FolderButton = nullptr;
    QListWidget *FileListBox1 = nullptr;   // "*.mdb", disabled
    QPushButton *BitBtn1 = nullptr;    // OK, enabled exactly when the name is not empty
    QPushButton *BitBtn2 = nullptr;    // "Отказ"

    void setFolder(const QString &folder);
    // The name and folder as typed.
    QString name() const;
    QString folder() const;
    // The folder is given: it is shown, not typed.
    void lockFolder();

private:
    void updateOk();
    void listFiles();
};

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *parent = nullptr);
};
