#pragma once
// TabcCustomWave, TabcCustomWaveList: sounds held in memory for the hover
// labels. A sound is a complete wave file; playing hands it to the sound
// output with the play flags of its mode. The output plays through Qt
// Multimedia; a machine without an audio device plays nothing and says
// nothing. Tests put an output of their own in its place (setSoundOutput).
#include <QByteArray>
#include <QObject>
#include <QStringList>

namespace abc {

// Play flags, as the system's in-memory sound playing takes them.
enum SoundFlag : unsigned {
    sndAsync = 0x1,       // return at once; otherwise wait for the end
    sndNoDefault = 0x2,   // no default sound when the data cannot be played
    sndMemory = 0x4,      // the data is the sound itself, not a name
    sndLoop = 0x8,        // repeat until stopped (with sndAsync)
};
// The flags of a play mode: 0 gives 7, 1 gives 6, 2 gives 15; any other
// mode is refused by SetPlayMode.
unsigned playModeFlags(int mode);

// Where sounds go.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Plays one wave file; true when the output accepted it.
    virtual bool play(const QByteArray &wave, unsigned flags) = 0;
    // Stops what plays.
    virtual void stop() = 0;
};
// The output sounds go to: Qt Multimedia's unless one was set.
SoundOutput &soundOutput();
// Sets the output (nullptr: Qt Multimedia's again). The caller keeps it.
void setSoundOutput(SoundOutput *output);
// True when the system offers an audio device to Qt Multimedia.
bool audioDeviceAvailable();

} // namespace abc

class TabcCustomWave : public QObject {
    Q_OBJECT
public:
    explicit TabcCustomWave(QObject *parent = nullptr);

    QByteArray data() const { return m_data; }
    void setData(const QByteArray &wave) { m_data = wave; }
    int playMode() const { return m_mode; }
    unsigned playFlags() const { return m_flags; }
    // Design mode: a component on a designer's form (changing the mode then
    // stops nothing).
    bool designMode() const { return m_design; }
    void setDesignMode(bool on) { m_design = on; }

    // Mode 0 (asynchronous), 1 (synchronous) or 2 (looping); a change of
    // mode stops the current sound first, except in design mode. Other modes
    // are ignored.
    virtual void SetPlayMode(int mode);
    // Hands the data and the flags to the output; false without data.
    virtual bool Play();
    // Asks the output to play nothing.
    virtual void Stop();

private:
    QByteArray m_data;
    int m_mode = 0;
    unsigned m_flags = 7;
    bool m_design = false;
};

// A list of sounds; a concrete list says what its entries are and how
// PlayItem finds the sound of an index.
class TabcCustomWaveList : public TabcCustomWave {
    Q_OBJECT
public:
    explicit TabcCustomWaveList(QObject *parent = nullptr);

    QStringList &entries() { return m_entries; }
    const QStringList &entries() const { return m_entries; }
    int currentIndex() const { return m_index; }
    void setCurrentIndex(int index) { m_index = index; }

    virtual void PlayItem(int index) = 0;

private:
    QStringList m_entries;
    int m_index = -1;
};
