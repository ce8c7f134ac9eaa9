#include "reports/Summation.h"

#include "core/ProgressWindow.h"

#include <QElapsedTimer>
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "platform/Errors.h"
#include "widgets/WindowLayout.h"
#include "platform/Dialogs.h"
#include "widgets/DialogParts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

// ---- TSFRF -----------------------------------------------------------------

TSFRF::TSFRF(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Суммирование"));
    m_ui.prompt = new QLabel(QStringLiteral("Укажите отчет, данные которого должны быть показаны  в несуммируемых "
                                       "позициях форм"),
                        this);
    m_ui.prompt->setWordWrap(true);
    m_ui.levelBox = new QGroupBox(this);
    new QVBoxLayout(m_ui.levelBox);
    m_ui.levels = new QButtonGroup(this);
    QHBoxLayout *buttons = dlgparts::okCancelRow(this, m_ui.ok, m_ui.cancel);
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_ui.prompt);
    l->addWidget(m_ui.levelBox, 1);
    l->addLayout(buttons);
    resize(380, 220);
}

void TSFRF::addLevel(const QString &name, qint64 id) {
    auto *b = new QRadioButton(name, m_ui.levelBox);
    b->setProperty("levelId", id);
    m_ui.levelBox->layout()->addWidget(b);
    m_ui.levels->addButton(b);
}

qint64 TSFRF::chosenId() const {
    const QAbstractButton *b = m_ui.levels->checkedButton();
    return b ? b->property("levelId").toLongLong() : -1;
}

void TSFRF::choose(int index) {
    const QList<QAbstractButton *> all = m_ui.levels->buttons();
    if (index >= 0 && index < all.size()) all[index]->setChecked(true);
}

// ---- Progress images -------------------------------------------------------

void DrawProgressImage(QLabel *image, int total, int remaining, const QString &text) {
    const QSize size = image->size().isValid() && !image->size().isEmpty() ? image->size() : QSize(300, 18);
    QPixmap pm(size);
    pm.fill(Qt::white);
    QPainter p(&pm);
    const double done = total > 0 ? 1.0 - double(remaining) / double(total) : 0.0;
    p.fillRect(QRect(0, 0, int(std::nearbyint(done * size.width())), size.height()), QColor(128, 128, 255));
    p.setPen(Qt::black);
    p.drawText(pm.rect(), Qt::AlignCenter, text);
    p.end();
    image->setPixmap(pm);
    image->repaint();
}

namespace {
// The images are painted at most every 40 ms, and at the end of their list:
// a run over many institutions and tables does not spend its time painting.
class ImagePainter {
public:
    explicit ImagePainter(QLabel *image) : m_image(image) {}
    void paint(const merge::ListCount &count, const QString &text) {
        if (m_painted.isValid() && m_painted.elapsed() < 40 && count.remaining > 0) return;
        m_painted.start();
        DrawProgressImage(m_image, count.total, count.remaining, text);
    }

private:
    QLabel *m_image;
    QElapsedTimer m_painted;
};
} // namespace

// ---- TFMerge ---------------------------------------------------------------

TFMerge::TFMerge(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Суммирование"));
    m_ui.sourceCaption = new QLabel(QStringLiteral("Что суммировать"), this);
    m_ui.sources = new QListWidget(this);
    m_ui.receiverCaption = new QLabel(QStringLiteral("Куда суммировать"), this);
    m_ui.receivers = new QListWidget(this);
    m_ui.selective = new QCheckBox(QStringLiteral("Выборочное суммирование"), this);
    m_ui.treeCaption = new QLabel(QStringLiteral("Укажите учреждения для суммирования"), this);
    m_ui.tree = new QTreeWidget(this);
    winutil::setupTree(m_ui.tree);
    m_ui.tree->installEventFilter(this);
    m_ui.summate = new QPushButton(QStringLiteral("Суммировать"), this);
    m_ui.unitsImage = new QLabel(this);
    m_ui.tablesImage = new QLabel(this);
    for (QLabel *img : {m_ui.unitsImage, m_ui.tablesImage}) {
        img->setFixedHeight(18);
        img->setMinimumWidth(200);
        img->setFrameShape(QFrame::Box);
        img->setVisible(false);
    }
    m_ui.treeCaption->setVisible(false);
    m_ui.tree->setVisible(false);

    auto *left = new QVBoxLayout;
    left->addWidget(m_ui.sourceCaption);
    left->addWidget(m_ui.sources, 1);
    left->addWidget(m_ui.receiverCaption);
    left->addWidget(m_ui.receivers, 1);
    left->addWidget(m_ui.selective);
    auto *right = new QVBoxLayout;
    right->addWidget(m_ui.treeCaption);
    right->addWidget(m_ui.tree, 1);
    auto *top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_ui.summate);
    auto *images = new QVBoxLayout;
    images->addWidget(m_ui.unitsImage);
    images->addWidget(m_ui.tablesImage);
    bottom->addLayout(images, 1);
    auto *l = new QVBoxLayout(this);
    l->addLayout(top, 1);
    l->addLayout(bottom);
    winutil::fitToScreen(this, QSize(640, 480));

    connect(m_ui.sources, &QListWidget::itemChanged, this, [this] { listReceivers(); });
    connect(m_ui.selective, &QCheckBox::toggled, this, &TFMerge::showSelection);
    connect(m_ui.tree, &QTreeWidget::itemDoubleClicked, this, [this] { toggleInstitution(); });
    connect(m_ui.summate, &QPushButton::clicked, this, &TFMerge::summate);
    FormCreate();
}

void TFMerge::FormCreate() {
    m_selection.clear();
    const QSignalBlocker block(m_ui.sources);
    m_ui.sources->clear();
    for (const merge::Level &lv : merge::subReportLevels()) {
        auto *item = new QListWidgetItem(lv.name, m_ui.sources);
        item->setData(Qt::UserRole, lv.id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    listReceivers();   // nothing checked yet: every level can receive
    m_ui.tree->clear();
    FillAdminTree(m_ui.tree, 0);
}

void TFMerge::listReceivers() {
    m_ui.receivers->clear();
    auto *annual = new QListWidgetItem(QStringLiteral("Годовой"), m_ui.receivers);
    annual->setData(Qt::UserRole, 0);
    for (int i = 0; i < m_ui.sources->count(); ++i) {
        const QListWidgetItem *src = m_ui.sources->item(i);
        if (src->checkState() == Qt::Checked) continue;
        auto *item = new QListWidgetItem(src->text(), m_ui.receivers);
        item->setData(Qt::UserRole, src->data(Qt::UserRole));
    }
}

void TFMerge::showSelection() {
    m_ui.tree->setVisible(m_ui.selective->isChecked());
    m_ui.treeCaption->setVisible(m_ui.selective->isChecked());
}

QString TFMerge::selectionText() const {
    if (m_selection.isEmpty()) return QString();
    QString s = QStringLiteral("-");
    for (qint64 id : m_selection) s += QString::number(id) + QLatin1Char('-');
    return s;
}

namespace {

// Visits the node, then its descendants in tree order.
template <typename F>
void forEachInBranch(QTreeWidgetItem *node, const F &visit) {
    visit(node);
    for (int i = 0; i < node->childCount(); ++i) forEachInBranch(node->child(i), visit);
}

} // namespace

void TFMerge::CheckMergeBranch(QTreeWidgetItem *node) {
    forEachInBranch(node, [this](QTreeWidgetItem *n) {
        if (n->childCount() == 0 && !IsTreeNodeMarked(n) && !m_selection.contains(TreeNodeId(n)))
            m_selection.append(TreeNodeId(n));
    });
    CheckTreeBranch(node);
}

void TFMerge::UncheckMergeBranch(QTreeWidgetItem *node) {
    forEachInBranch(node, [this](QTreeWidgetItem *n) {
        if (n->childCount() == 0 && IsTreeNodeMarked(n)) m_selection.removeAll(TreeNodeId(n));
    });
    UncheckTreeBranch(node);
}

void TFMerge::toggleInstitution() {
    QTreeWidgetItem *node = m_ui.tree->currentItem();
    if (!node) return;
    if (IsTreeNodeMarked(node)) UncheckMergeBranch(node);
    else CheckMergeBranch(node);
    m_ui.tree->viewport()->update();
}

bool TFMerge::selectFinRep() {
    m_finRep = -1;
    TSFRF dlg(this);
    for (int i = 0; i < m_ui.sources->count(); ++i) {
        const QListWidgetItem *item = m_ui.sources->item(i);
        if (item->checkState() == Qt::Checked) dlg.addLevel(item->text(), item->data(Qt::UserRole).toLongLong());
    }
    if (execModal(&dlg) == QDialog::Accepted && dlg.chosenId() >= 0) {
        m_finRep = dlg.chosenId();
        return true;
    }
    showMessage(QStringLiteral("Не задан отчет  несуммируемых значений!"), this);
    return false;
}

namespace {

// The lines of the positions file that name no table, at most kShownLines of them named.
constexpr int kShownLines = 20;
QString unmatchedLines(const merge::ExclList &excl) {
    const QStringList &all = excl.unmatched();
    QString out = all.mid(0, kShownLines).join(QLatin1Char('\n'));
    if (all.size() > kShownLines) out += QStringLiteral("\n... и еще %1").arg(all.size() - kShownLines);
    return out;
}

} // namespace

void TFMerge::GetExclList() { m_excl.load(merge::nonSummableFile()); }

void TFMerge::summate() {
    winutil::guarded(this, [&] {
        merge::Request req;
        for (int i = 0; i < m_ui.sources->count(); ++i)
            if (m_ui.sources->item(i)->checkState() == Qt::Checked)
                req.sources.append(m_ui.sources->item(i)->data(Qt::UserRole).toLongLong());
        if (req.sources.isEmpty()) {
            showMessage(QStringLiteral("Не выбраны источники суммирования!"), this);
            return;
        }
        QListWidgetItem *receiver = m_ui.receivers->currentItem();
        if (!receiver || !receiver->isSelected()) {
            showMessage(QStringLiteral("Не выбран приемник суммирования!"), this);
            return;
        }
        req.receiver = receiver->data(Qt::UserRole).toLongLong();
        if (m_ui.selective->isChecked()) {
            if (m_selection.isEmpty()) {
                showMessage(QStringLiteral("Не указаны учреждения для суммирования!"), this);
                return;
            }
            req.institutions = m_selection;
        }
        req.year = shared().Year;
        // The run replaces what the receiver holds for these institutions.
        if (merge::receiverHoldsValues(req) &&
            !confirmDefaultNo(QStringLiteral("Данные уровня \"%1\" за %2 год будут заменены. Продолжить?")
                                  .arg(receiver->text())
                                  .arg(req.year),
                              this))
            return;
        if (!selectFinRep()) return;
        req.fixedSource = m_finRep;
        GetExclList();
        // A line naming no table leaves positions summed that were meant to stay apart.
        if (!m_excl.unmatched().isEmpty() &&
            !confirmDefaultNo(QStringLiteral("Строки файла \"%1\" не относятся ни к одной таблице перечня форм:\n%2\n"
                                             "Суммировать без них?")
                                  .arg(QFileInfo(merge::nonSummableFile()).fileName(), unmatchedLines(m_excl)),
                              this))
            return;

        m_ui.unitsImage->setVisible(true);
        m_ui.tablesImage->setVisible(true);
        m_ui.summate->setEnabled(false);
        struct Restore {
            TFMerge *w;
            ~Restore() {
                w->m_ui.unitsImage->setVisible(false);
                w->m_ui.tablesImage->setVisible(false);
                w->m_ui.summate->setEnabled(true);
            }
        } restore{this};
        const merge::Result result = [&] {
            ProgressRun progressRun(QStringLiteral("Суммирование"));
            ImagePainter units(m_ui.unitsImage), tables(m_ui.tablesImage);
            merge::ImageProgress images;
            images.institution = [&](merge::ListCount c, const QString &name) { units.paint(c, name); };
            images.table = [&](merge::ListCount c) { tables.paint(c, QString()); };
            return merge::run(req, m_excl, progressRun.window(), images);
        }();
        if (result.outside > 0)
            showWarning(QStringLiteral("Значения вне ячеек таблиц не просуммированы: %1").arg(result.outside), this);
        showMessage(QStringLiteral("Суммирование завершено!"), this);
        accept();
    });
}

bool TFMerge::eventFilter(QObject *watched, QEvent *event) {
    if (const QKeyEvent *k = dlgparts::keyPressOn(watched, m_ui.tree, event)) {
        if (k->key() == Qt::Key_Space) {
            toggleInstitution();
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            if (QTreeWidgetItem *n = m_ui.tree->currentItem()) n->setExpanded(!n->isExpanded());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFMerge::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    QDialog::keyPressEvent(event);
}

void openSubReportSummation(QWidget *parent) {
    winutil::guarded(parent, [&] {
        TFMerge w(parent);
        execModal(&w);
    });
}
