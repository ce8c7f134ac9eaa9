#include "reports/DbfExport.h"

#include "engine/LinksDb.h"
#include "engine/SharedState.h"
#include "platform/Errors.h"
#include "widgets/WindowLayout.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "reports/DbfExportLogic.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TUnf::TUnf(QWidget *parent, const QString &linksFile) : QDialog(parent), m_yearText(shared().yearText()) {
    setObjectName(QStringLiteral("Unf"));
    setWindowTitle(QStringLiteral("Выгрузка в формате ГВЦ"));

    m_ui.sections = new QListWidget(this);
    m_ui.sections->setObjectName(QStringLiteral("CheckListBox1"));
    m_ui.markAll = new QPushButton(QStringLiteral("Отметить все"), this);
    m_ui.clearAll = new QPushButton(QStringLiteral("Очистить все"), this);
    m_ui.territories = new QComboBox(this);
    m_ui.territories->setObjectName(QStringLiteral("ComboBox3"));
    m_ui.kindBox = new QGroupBox(QStringLiteral("Тип выгрузки"), this);
    m_ui.summaries = new QRadioButton(QStringLiteral("Своды"), m_ui.kindBox);
    m_ui.institutions = new QRadioButton(QStringLiteral("ЛПУ"), m_ui.kindBox);
    m_ui.choicePrompt = new QLabel(this);
    m_ui.choicePrompt->setWordWrap(true);
    m_ui.choice = new QComboBox(this);
    m_ui.choice->setObjectName(QStringLiteral("ComboBox2"));
    m_ui.exportReport = new QPushButton(QStringLiteral("Выгрузить отчет"), this);
    m_ui.exportReport->setEnabled(false);
    m_ui.progress = new QProgressBar(this);
    m_ui.progress->setVisible(false);

    auto *radios = new QHBoxLayout(m_ui.kindBox);
    radios->addWidget(m_ui.summaries);
    radios->addWidget(m_ui.institutions);
    radios->addStretch();

    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Разделы:"), this));
    left->addWidget(m_ui.sections, 1);
    auto *marks = new QHBoxLayout;
    marks->addWidget(m_ui.markAll);
    marks->addWidget(m_ui.clearAll);
    marks->addStretch();
    left->addLayout(marks);

    auto *right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Территория:"), this));
    right->addWidget(m_ui.territories);
    right->addWidget(m_ui.kindBox);
    right->addWidget(m_ui.choicePrompt);
    right->addWidget(m_ui.choice);
    right->addStretch();
    right->addWidget(m_ui.progress);
    right->addWidget(m_ui.exportReport);

    auto *main = new QHBoxLayout(this);
    main->addLayout(left, 3);
    main->addLayout(right, 2);
    winutil::fitToScreen(this, QSize(820, 460));

    connect(m_ui.exportReport, &QPushButton::clicked, this, [this] { exportChosen(); });
    connect(m_ui.markAll, &QPushButton::clicked, this, [this] { markAllSections(); });
    connect(m_ui.clearAll, &QPushButton::clicked, this, [this] { clearAllSections(); });
    connect(m_ui.choice, &QComboBox::activated, this, [this] { takeChosen(); });
    connect(m_ui.summaries, &QRadioButton::clicked, this, [this] { switchKind(); });
    connect(m_ui.institutions, &QRadioButton::clicked, this, [this] { switchKind(); });

    FormCreate(linksFile.isEmpty() ? links::findLinksFile() : linksFile);
}

TUnf::~TUnf() = default;

void TUnf::FormCreate(const QString &linksFile) {
    m_links = links::openLinks(linksFile);
    const QSqlDatabase l = m_links->db();
    for (const dbfexport::Section &s : dbfexport::ReadSections(l)) {
        auto *item = new QListWidgetItem(s.item, m_ui.sections);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, s.r3 ? 1 : 0);
    }
    m_ui.territories->addItems(dbfexport::ReadTerritories(l));
    m_ui.territories->setCurrentIndex(-1);
    m_ui.summaries->setChecked(true);
    switchKind();
}

int TUnf::radioIndex() const { return m_ui.institutions->isChecked() ? 1 : 0; }

void TUnf::switchKind() {
    winutil::guarded(this, [&] {
        const bool svod = radioIndex() == 0;
        m_ui.choicePrompt->setText(svod ? QStringLiteral("Выберите сводный отчет, который Вы хотите выгрузить")
                             : QStringLiteral("Выберите ЛПУ, которое Вы хотите выгрузить"));
        m_ui.choice->clear();
        const QSqlDatabase m = db::connection(db::kMain);
        const auto choices = svod ? dbfexport::ReadReports(m) : dbfexport::ReadInstitutions(m);
        for (const dbfexport::Choice &c : choices) m_ui.choice->addItem(c.text, c.id);
        m_ui.choice->setCurrentIndex(-1);
    });
}

void TUnf::takeChosen() { m_ui.exportReport->setEnabled(m_ui.choice->currentIndex() >= 0); }

void TUnf::markAllSections() {
    for (int i = 0; i < m_ui.sections->count(); ++i) m_ui.sections->item(i)->setCheckState(Qt::Checked);
}

void TUnf::clearAllSections() {
    for (int i = 0; i < m_ui.sections->count(); ++i) m_ui.sections->item(i)->setCheckState(Qt::Unchecked);
}

void TUnf::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TUnf::exportChosen() {
    // The choices are checked before the file is asked for, so the user never
    // names a file only to hear that nothing can be exported.
    if (m_ui.territories->currentIndex() < 0 || m_ui.territories->currentText().isEmpty()) {
        showError(QStringLiteral("Ошибка: не выбрана территория в ComboBox3!"), this);
        return;
    }
    if (m_ui.choice->currentIndex() < 0 || m_ui.choice->currentData().toLongLong() == 0) {
        showError(QStringLiteral("Ошибка: не выбран отчет/ЛПУ в ComboBox2!"), this);
        return;
    }
    const QString chosen = dialogs().saveFile(this, QStringLiteral("Сохранить как"),
                                              paths::programFolder() + m_ui.choice->currentText(),
                                              QStringLiteral("Формат DBF (*.dbf)"));
    if (chosen.isEmpty()) return;
    const QFileInfo file(dbfexport::WithDbfExtension(chosen));

    dbfexport::Request r;
    r.links = m_links->db();
    r.summaryReports = radioIndex() == 0;
    r.id = m_ui.choice->currentData().toLongLong();
    r.yearText = m_yearText;
    r.territoryItem = m_ui.territories->currentText();
    for (int i = 0; i < m_ui.sections->count(); ++i) {
        const QListWidgetItem *item = m_ui.sections->item(i);
        r.sections.append({item->text(), item->data(Qt::UserRole).toInt() == 1, item->checkState() == Qt::Checked});
    }
    r.folder = paths::withSlash(file.absolutePath());
    r.tableName = dbfexport::SanitizeDbfTableName(file.fileName());
    bool busy = false;
    r.progress = [this, &busy](int position, int maximum) {
        if (!busy) {
            busy = true;
            m_ui.progress->setMaximum(maximum);
            m_ui.progress->setVisible(true);
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
        m_ui.progress->setValue(position);
        QCoreApplication::processEvents();
    };

    m_ui.exportReport->setVisible(false);
    const auto restore = [this, &busy] {
        if (busy) QApplication::restoreOverrideCursor();
        busy = false;
        m_ui.progress->setVisible(false);
        m_ui.exportReport->setVisible(true);
    };
    try {
        r.mainDb = db::connection(db::kMain);
        r.dataDb = db::connection(db::kData);
        const dbfexport::Result result = dbfexport::Run(r);
        restore();
        if (result.misfits.isEmpty())
            showMessage(dbfexport::ResultMessage(result), this);
        else
            showWarning(dbfexport::ResultMessage(result), this);
    } catch (const std::exception &e) {
        restore();
        showError(winutil::errorText(e), this);
    }
}

void openDbfExport(QWidget *parent) {
    winutil::guarded(parent, [&] {
        TUnf w(parent);
        execModal(&w);
    });
}
