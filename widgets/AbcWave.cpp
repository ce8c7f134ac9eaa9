#include "widgets/AbcWave.h"

#include "platform/Codepage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace abc {

unsigned playModeFlags(int mode) {
    switch (mode) {
    case 1: return sndNoDefault | sndMemory;
    case 2: return sndAsync | sndNoDefault | sndMemory | sndLoop;
    default: return sndAsync | sndNoDefault | sndMemory;
    }
}

bool audioDeviceAvailable() {
    // Asked once per run. Without a sound server the multimedia backend
    // complains on standard error; a machine without sound says nothing, so
    // its words are dropped while it is asked.
    static const bool available = [] {
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        const bool any = !QMediaDevices::audioOutputs().isEmpty();
        qInstallMessageHandler(previous);
        return any;
    }();
    return available;
}

namespace {

// Qt Multimedia's sound effect plays files: the wave is written to a file
// of a temporary folder that lives as long as sounds may play.
class MultimediaOutput : public SoundOutput {
public:
    bool play(const QByteArray &wave, unsigned flags) override {
        if (wave.isEmpty() || !QCoreApplication::instance() || !audioDeviceAvailable()) return false;
        stop();
        if (!m_folder) m_folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kelvana-sound-XXXXXX"));
        if (!m_folder->isValid()) return false;
        // A file of its own each time: the one played before may still be held.
        const QString path = m_folder->filePath(QStringLiteral("%1.wav").arg(++m_count));
        if (!cp1251::writeFile(path, wave)) return false;
        auto effect = std::make_unique<QSoundEffect>();
        effect->setSource(QUrl::fromLocalFile(path));
        effect->setLoopCount((flags & sndLoop) ? QSoundEffect::Infinite : 1);
        m_effect = std::move(effect);
        m_effect->play();
        if (!(flags & sndAsync)) waitForEnd();
        return true;
    }
    void stop() override {
        if (m_effect) m_effect->stop();
        m_effect.reset();
    }
    // At the end of the run: nothing plays, and the files go.
    void finish() {
        stop();
        m_folder.reset();
    }

private:
    // A synchronous sound: the events run until it has played (a sound
    // that never starts, or never ends, is given up after a minute).
    void waitForEnd() {
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        while (m_effect && t.elapsed() < 60000 &&
               (m_effect->isPlaying() || m_effect->status() == QSoundEffect::Loading)) {
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    int m_count = 0;
    std::unique_ptr<QSoundEffect> m_effect;
};

SoundOutput *g_output = nullptr;

} // namespace

SoundOutput &soundOutput() {
    if (g_output) return *g_output;
    // Kept to the end of the run; what plays stops when the application quits.
    static MultimediaOutput *multimedia = [] {
        auto *m = new MultimediaOutput;
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [m] { m->finish(); });
        return m;
    }();
    return *multimedia;
}

void setSoundOutput(SoundOutput *output) { g_output = output; }

} // namespace abc

TabcCustomWave::TabcCustomWave(QObject *parent) : QObject(parent) {}

void TabcCustomWave::SetPlayMode(int mode) {
    if (mode < 0 || mode > 2 || mode == m_mode) return;
    if (!m_design) Stop();
    m_mode = mode;
    m_flags = abc::playModeFlags(mode);
}

bool TabcCustomWave::Play() {
    if (m_data.isEmpty()) return false;
    return abc::soundOutput().play(m_data, m_flags);
}

void TabcCustomWave::Stop() { abc::soundOutput().stop(); }

TabcCustomWaveList::TabcCustomWaveList(QObject *parent) : TabcCustomWave(parent) {}
