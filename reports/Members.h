#pragma once
// TRepInc, TRepCont: the institutions and member reports of a summary report.
// What a summary report is made of: TRepInc chooses its institutions in the
// tree of territories and institutions (a marked node is drawn bold), TRepCont
// chooses the member reports of a composite report.
#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TRepInc : public QDialog {
    Q_OBJECT
public:
    // include: reports.include as stored ("12,15,20,"); caption: the report's name.
    TRepInc(const QString &include, const QString &caption, QWidget *parent = nullptr);

    // Builds the tree and marks the report's institutions with their territories.
    void ShowTrees();
    // Leaves of the tree that are marked, in tree order.
    QList<qint64> memberList() const;

    QTreeWidget *tree() const { return m_ui.tree; }

public slots:
    // Double-click or Space: switches the mark of the selected node's branch.
    void switchBranchMark();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_marking;

    struct Widgets {
        QTreeWidget *tree = nullptr;
        QPushButton *ok = nullptr;       // "OK"
        QPushButton *cancel = nullptr;   // "Отказ"
    };
    Widgets m_ui;
};

class TRepCont : public QDialog {
    Q_OBJECT
public:
    // Made with every other report listed, checked when it is a member now
    // (a database failure is thrown).
    TRepCont(qint64 reportId, const QString &reportName, QWidget *parent = nullptr);
    // Ids of the checked reports in list order.
    QList<qint64> checkedReports() const;

    QListWidget *reportList() const { return m_ui.reports; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    qint64 m_id;

    struct Widgets {
        QLabel *caption = nullptr;
        QListWidget *reports = nullptr;
        QPushButton *ok = nullptr;   // "OK"
    };
    Widgets m_ui;
};

// Commands of the report list: each shows its dialog modally and stores the
// result after OK. True when something was stored.
bool editReportIncludes(QWidget *parent, qint64 reportId, const QString &reportName);
bool editReportComposition(QWidget *parent, qint64 reportId, const QString &reportName);
