#pragma once
// TCld: loading a control file into the control rules.
// The control-file loader: the user picks a folder and a control file
// (*.orv) and loads it into the rule table, adding to the rules (mode 0) or
// replacing them (mode 1). Lines that do not fit the installed forms are
// written to "Несогласованные контроли.orv" beside the loaded file.
#include <QDialog>

class QButtonGroup;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeView;

class TCld : public QDialog {
    Q_OBJECT
public:
    explicit TCld(QWidget *parent = nullptr);

    // The folder shown; its *.orv files fill the file list.
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    QString chosenFile() const;   // full path, empty when none

    QTreeView *DirectoryListBox1 = nullptr;
    QListWidget *FileListBox1 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QButtonGroup *RadioGroup1Buttons = nullptr;
    QPushButton *Button1 = nullptr;
    QLabel *Label3 = nullptr;   // the folder

public slots:
    void Button1Click();
    void FileListBox1Click();
    void DirectoryListBox1Change();

private:
    QFileSystemModel *m_dirs = nullptr;
    QString m_folder;
};
