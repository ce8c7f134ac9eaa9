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

    // What tests reach of the widgets.
    QListWidget *fileList() const { return m_ui.files; }
    QButtonGroup *modeButtons() const { return m_ui.modes; }   // "Режим"

public slots:
    void loadChosenFile();    // "Загрузить контроли"
    void takeChosenFile();    // a file of the list chosen
    void listFolderFiles();   // a folder chosen

private:
    QFileSystemModel *m_dirs = nullptr;
    QString m_folder;

    struct Widgets {
        QTreeView *folders = nullptr;
        QListWidget *files = nullptr;
        QGroupBox *modeBox = nullptr;   // "Режим"
        QButtonGroup *modes = nullptr;
        QPushButton *loadRules = nullptr;
        QLabel *folderLabel = nullptr;   // the folder
    };
    Widgets m_ui;
};
