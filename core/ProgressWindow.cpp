#include "core/ProgressWindow.h"

#include "core/SharedWindow.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

namespace {
// Events run at most this often while a run moves the gauge.
constexpr int kEventsIntervalMs = 40;
} // namespace

void TProgress::letEventsRun(bool now) {
    if (!now && m_sinceEvents.isValid() && m_sinceEvents.elapsed() < kEventsIntervalMs) return;
    QApplication::processEvents();
    m_sinceEvents.start();
}

void TProgress::cancel() {
    m_cancelled = true;
    m_ui.detail->setText(QStringLiteral("Отмена..."));
}

void TProgress::showEvent(QShowEvent *event) {
    m_cancelled = false;
    QDialog::showEvent(event);
}

TProgress::TProgress(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Progress"));
    setWindowTitle(QStringLiteral("Выполнение операции..."));
    // Dialog frame without the title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    setFixedSize(500, 120);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *panel = new QFrame(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    outer->addWidget(panel);

    auto *box = new QVBoxLayout(panel);
    m_ui.status = new QLabel(QStringLiteral("Обработка..."), panel);
    m_ui.status->setObjectName(QStringLiteral("Label1"));
    m_ui.status->setWordWrap(true);
    m_ui.detail = new QLabel(panel);
    m_ui.detail->setObjectName(QStringLiteral("Label2"));
    m_ui.detail->setWordWrap(true);
    m_ui.gauge = new QProgressBar(panel);
    m_ui.gauge->setObjectName(QStringLiteral("Gauge1"));
    m_ui.gauge->setFixedHeight(20);
    m_ui.gauge->setRange(0, 100);
    m_ui.gauge->setValue(0);
    box->addWidget(m_ui.status);
    box->addWidget(m_ui.detail);
    box->addStretch(1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_ui.gauge, 1);
    m_ui.cancel = new QPushButton(QStringLiteral("Отмена"), panel);
    m_ui.cancel->setObjectName(QStringLiteral("CancelButton"));
    m_ui.cancel->setAutoDefault(false);
    bottom->addWidget(m_ui.cancel);
    box->addLayout(bottom);
    connect(m_ui.cancel, &QPushButton::clicked, this, &TProgress::cancel);
}

void TProgress::setVisible(bool visible) {
    if (!visible) {
        QDialog::setVisible(false);
        // Not deleted with the window it was shown over.
        if (parentWidget()) setParent(nullptr, windowFlags());
        return;
    }
    // Above the window that started the run: the modal window on top, else
    // the active window.
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    if (owner == this) owner = parentWidget();
    if (owner && owner != parentWidget()) setParent(owner, windowFlags());
    QDialog::setVisible(true);
    raise();
}

void TProgress::begin(int max, const QString &status) {
    m_max = max < 0 ? 0 : max;
    m_ui.gauge->setMaximum(m_max > 0 ? m_max : 1);
    m_ui.gauge->setValue(0);
    m_ui.status->setText(status);
    m_ui.detail->setText(QString());
}

void TProgress::SetMax(int max) {
    m_max = max < 0 ? 0 : max;
    // An empty run shows an empty gauge, not a busy one.
    m_ui.gauge->setMaximum(m_max > 0 ? m_max : 1);
    m_ui.gauge->setValue(qBound(0, m_ui.gauge->value(), m_ui.gauge->maximum()));
    letEventsRun();
}

void TProgress::SetPosition(int position) {
    // A gauge repaints itself at once on every step it can show, which costs
    // more than a step of most runs; it is painted when the events run.
    const bool painting = m_ui.gauge->updatesEnabled();
    if (painting) m_ui.gauge->setUpdatesEnabled(false);
    m_ui.gauge->setValue(qBound(0, position, m_max > 0 ? m_max : 0));
    if (painting) m_ui.gauge->setUpdatesEnabled(true);
    letEventsRun();
}

void TProgress::SetStatusText(const QString &text) {
    m_ui.status->setText(text);
    letEventsRun(true);
}

void TProgress::SetDetailText(const QString &text) {
    m_ui.detail->setText(text);
    letEventsRun();
}

int TProgress::max() const { return m_max; }
int TProgress::position() const { return m_ui.gauge->value(); }
QString TProgress::statusText() const { return m_ui.status->text(); }

TProgress &Progress() { return SharedWindow<TProgress>::get(); }

bool ProgressExists() { return SharedWindow<TProgress>::exists(); }

ProgressRun::ProgressRun(const QString &status, int max, const QString &caption)
    : m_window(Progress()), m_outer(!m_window.isVisible()) {
    m_savedCaption = m_window.windowTitle();
    if (!caption.isEmpty()) m_window.setWindowTitle(caption);
    if (m_outer) {
        m_window.setWindowModality(Qt::ApplicationModal);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    m_window.begin(max, status);
    if (m_outer) m_window.show();
    m_window.letEventsRun(true);
}

ProgressRun::~ProgressRun() {
    m_window.setWindowTitle(m_savedCaption);
    if (!m_outer) return;
    m_window.hide();
    m_window.setWindowModality(Qt::NonModal);
    QApplication::restoreOverrideCursor();
}

void ProgressRun::runWhilePainting(const QString &status, const std::function<void()> &step) {
    m_window.SetStatusText(status);
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            step();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });
    while (!done) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

namespace {
// How often a polled statement asks the window to paint and answer
// "Отмена": a quarter of the window's own pace (kEventsIntervalMs, counted
// from the end of the last events), so that the events run 40 to 50 ms
// apart and not only at a poll well after that (60 ms apart at a poll of
// 20 or 30 ms).
constexpr int kPollIntervalMs = 10;
} // namespace

PolledConnection::PolledConnection(TProgress &window, const QSqlDatabase &db) : m_window(window) {
    m_paced.start();
    m_poll = std::make_unique<db::StatementPoll>(db, [this] {
        if (m_paced.elapsed() < kPollIntervalMs) return !m_stopped;
        m_paced.restart();
        try {
            m_window.SetPosition(m_window.position());
            m_window.checkCancelled();
            return true;
        } catch (const Cancelled &) {
            m_stopped = true;
            return false;
        }
    });
}

PolledConnection::~PolledConnection() = default;

