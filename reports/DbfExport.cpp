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

    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    Button2 = new QPushButton(QStringLiteral("Отметить все"), this);
    Button3 = new QPushButton(QStringLiteral("Очистить все"), this);
    ComboBox3 = new QComboBox(this);
    ComboBox3->setObjectName(QStringLiteral("ComboBox3"));
    RadioGroup1 = new QGroupBox(QStringLiteral("Тип выгрузки"), this);
    RadioSvod = new QRadioButton(QStringLiteral("Своды"), RadioGroup1);
    RadioLpu = new QRadioButton(QStringLiteral("ЛПУ"), RadioGroup1);
    Label1 = new QLabel(this);
    Label1->setWordWrap(true);
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    Button1 = new QPushButton(QStringLiteral("Выгрузить отчет"), this);
    Button1->setEnabled(false);
    Gauge1 = new QProgressBar(this);
    Gauge1->setVisible(false);

    auto *radios = new QHBoxLayout(RadioGroup1);
    radios->addWidget(RadioSvod);
    radios->addWidget(RadioLpu);
    radios->addStretch();

    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Разделы:"), this));
    left->addWidget(CheckListBox1, 1);
    auto *marks = new QHBoxLayout;
    marks->addWidget(Button2);
    marks->addWidget(Button3);
    marks->addStretch();
    left->addLayout(marks);

    auto *right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Территория:"), this));
    right->addWidget(ComboBox3);
    right->addWidget(RadioGroup1);
    right->addWidget(Label1);
    right->addWidget(ComboBox2);
    right->addStretch();
    right->addWidget(Gauge1);
    right->addWidget(Button1);

    auto *main = new QHBoxLayout(this);
    main->addLayout(left, 3);
    main->addLayout(right, 2);
    winutil::fitToScreen(this, QSize(820, 460));

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(ComboBox2, &QComboBox::activated, this, [this] { ComboBox2Change(); });
    connect(RadioSvod, &QRadioButton::clicked, this, [this] { RadioGroup1Click(); });
    connect(RadioLpu, &QRadioButton::clicked, this, [this] { RadioGroup1Click(); });

    FormCreate(linksFile.isEmpty() ? links::findLinksFile() : linksFile);
}

TUnf::~TUnf() = default;

void TUnf::FormCreate(const QString &linksFile) {
    m_links = links::openLinks(linksFile);
    const QSqlDatabase l = m_links->db();
    for (const dbfexport::Section &s : dbfexport::ReadSections(l)) {
        auto *item = new QListWidgetItem(s.item, CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, s.r3 ? 1 : 0);
    }
    ComboBox3->addItems(dbfexport::ReadTerritories(l));
    ComboBox3->setCurrentIndex(-1);
    RadioSvod->setChecked(true);
    RadioGroup1Click();
}

int TUnf::radioIndex() const { return RadioLpu->isChecked() ? 1 : 0; }

void TUnf::RadioGroup1Click() {
    winutil::guarded(this, [&] {
        const bool svod = radioIndex() == 0;
        Label1->setText(svod ? QStringLiteral("Выберите сводный отчет, который Вы хотите выгрузить")
                             : QStringLiteral("Выберите ЛПУ, которое Вы хотите выгрузить"));
        ComboBox2->clear();
        const QSqlDatabase m = db::connection(db::kMain);
        const auto choices = svod ? dbfexport::ReadReports(m) : dbfexport::ReadInstitutions(m);
        for (const dbfexport::Choice &c : choices) ComboBox2->addItem(c.text, c.id);
        ComboBox2->setCurrentIndex(-1);
    });
}

void TUnf::ComboBox2Change() { Button1->setEnabled(ComboBox2->currentIndex() >= 0); }

void TUnf::Button2Click() {
    for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Checked);
}

void TUnf::Button3Click() {
    for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
}

void TUnf::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TUnf::Button1Click() {
    // The choices are checked before the file is asked for, so the user never
    // names a file only to hear that nothing can be exported.
    if (ComboBox3->currentIndex() < 0 || ComboBox3->currentText().isEmpty()) {
        showError(QStringLiteral("Ошибка: не выбрана территория в ComboBox3!"), this);
        return;
    }
    if (ComboBox2->currentIndex() < 0 || ComboBox2->currentData().toLongLong() == 0) {
        showError(QStringLiteral("Ошибка: не выбран отчет/ЛПУ в ComboBox2!"), this);
        return;
    }
    const QString chosen = dialogs().saveFile(this, QStringLiteral("Сохранить как"),
                                              paths::programFolder() + ComboBox2->currentText(),
                                              QStringLiteral("Формат DBF (*.dbf)"));
    if (chosen.isEmpty()) return;
    const QFileInfo file(dbfexport::WithDbfExtension(chosen));

    dbfexport::Request r;
    r.links = m_links->db();
    r.summaryReports = radioIndex() == 0;
    r.id = ComboBox2->currentData().toLongLong();
    r.yearText = m_yearText;
    r.territoryItem = ComboBox3->currentText();
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        const QListWidgetItem *item = CheckListBox1->item(i);
        r.sections.append({item->text(), item->data(Qt::UserRole).toInt() == 1, item->checkState() == Qt::Checked});
    }
    r.folder = paths::withSlash(file.absolutePath());
    r.tableName = dbfexport::SanitizeDbfTableName(file.fileName());
    bool busy = false;
    r.progress = [this, &busy](int position, int maximum) {
        if (!busy) {
            busy = true;
            Gauge1->setMaximum(maximum);
            Gauge1->setVisible(true);
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
        Gauge1->setValue(position);
        QCoreApplication::processEvents();
    };

    Button1->setVisible(false);
    const auto restore = [this, &busy] {
        if (busy) QApplication::restoreOverrideCursor();
        busy = false;
        Gauge1->setVisible(false);
        Button1->setVisible(true);
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
