// Sounds of the hover labels, played into an output that records them; the
// real output on a machine without an audio device stays silent.
#include "widgets/AbcCheckBox.h"
#include "widgets/AbcGradient.h"
#include "widgets/AbcMouseLabel.h"
#include "widgets/AbcWave.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

struct Recorded {
    QByteArray wave;
    unsigned flags = 0;
};

class RecordingOutput : public abc::SoundOutput {
public:
    RecordingOutput() { abc::setSoundOutput(this); }
    ~RecordingOutput() override { abc::setSoundOutput(nullptr); }
    bool play(const QByteArray &wave, unsigned flags) override {
        played.append({wave, flags});
        return true;
    }
    void stop() override { ++stops; }
    QList<Recorded> played;
    int stops = 0;
};

// A short silent wave file (8 kHz, 8 bit, mono).
QByteArray silentWave(int samples = 800) {
    QByteArray w;
    auto u32 = [&](quint32 v) { char b[4]; qToLittleEndian(v, b); w.append(b, 4); };
    auto u16 = [&](quint16 v) { char b[2]; qToLittleEndian(v, b); w.append(b, 2); };
    w += "RIFF"; u32(36 + samples); w += "WAVEfmt "; u32(16); u16(1); u16(1); u32(8000); u32(8000); u16(1); u16(8);
    w += "data"; u32(samples); w.append(samples, char(0x80));
    return w;
}

// A list whose entries are the sounds themselves, in their order.
class TestWaveList : public TabcCustomWaveList {
public:
    void PlayItem(int index) override {
        if (index < 0 || index >= entries().size()) return;
        setCurrentIndex(index);
        setData(entries()[index].toLatin1());
        Play();
    }
};

} // namespace

TEST(Sounds, PlayModesGiveTheirFlagsAndAChangeStopsTheSound) {
    RecordingOutput out;
    TabcCustomWave wave;
    EXPECT_EQ(wave.playMode(), 0);
    EXPECT_EQ(wave.playFlags(), 7u);
    EXPECT_FALSE(wave.Play());                        // no data: nothing is handed on
    EXPECT_TRUE(out.played.isEmpty());
    wave.setData(silentWave());
    EXPECT_TRUE(wave.Play());
    ASSERT_EQ(out.played.size(), 1);
    EXPECT_EQ(out.played[0].flags, 7u);
    EXPECT_EQ(out.played[0].wave, silentWave());

    wave.SetPlayMode(1);
    EXPECT_EQ(out.stops, 1);
    EXPECT_EQ(wave.playFlags(), 6u);
    wave.SetPlayMode(1);                              // no change, no stop
    EXPECT_EQ(out.stops, 1);
    wave.SetPlayMode(2);
    EXPECT_EQ(wave.playFlags(), 15u);
    wave.SetPlayMode(7);                              // no such mode
    EXPECT_EQ(wave.playMode(), 2);
    wave.setDesignMode(true);
    wave.SetPlayMode(0);                              // in design mode nothing is stopped
    EXPECT_EQ(out.stops, 2);
    EXPECT_EQ(wave.playFlags(), 7u);
    wave.Stop();
    EXPECT_EQ(out.stops, 3);
}

TEST(Sounds, LabelPlaysItsSoundsOnEnteringAndPressing) {
    RecordingOutput out;
    auto *list = new TestWaveList;
    list->entries() << "над" << "нажатие" << "третий";
    TabcMouseLabel label("Настройка");
    label.resize(120, 30);
    label.show();
    // Without a list the label is silent.
    label.mouseEntered();
    label.mouseLeft();
    EXPECT_TRUE(out.played.isEmpty());

    label.setSoundList(list);
    label.setSoundOver(0);
    label.setSoundDown(2);
    label.mouseEntered();
    ASSERT_EQ(out.played.size(), 1);
    EXPECT_EQ(out.played[0].wave, QString("над").toLatin1());
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(out.played.size(), 2);
    EXPECT_EQ(list->currentIndex(), 2);
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(out.played.size(), 2);                  // releasing plays nothing

    // The main window's labels: over effects without a sound, the heading's
    // down effects with one.
    label.mouseLeft();
    label.setMouseOverEffects(almUnderline | almColor);
    label.setMouseDownEffects(almUnderline | almColorShadow | almSound);
    label.mouseEntered();
    EXPECT_EQ(out.played.size(), 2);
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(out.played.size(), 3);
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(5, 5));

    // A list that goes away is dropped by the label.
    label.mouseLeft();
    delete list;
    EXPECT_EQ(label.SoundList(), nullptr);
    label.setMouseOverEffects(almSound);
    label.mouseEntered();
    EXPECT_EQ(out.played.size(), 3);
}

// With no audio device the real output plays nothing and says nothing.
TEST(Sounds, WithoutAnAudioDeviceNothingPlaysAndNothingIsSaid) {
    static QStringList said;
    said.clear();
    const QtMessageHandler old = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &c, const QString &m) {
        said << QString::fromLatin1(c.category ? c.category : "") + ": " + m;
    });
    TabcCustomWave wave;
    wave.setData(silentWave());
    const bool device = abc::audioDeviceAvailable();
    const bool accepted = wave.Play();
    wave.SetPlayMode(2);
    wave.Stop();
    qInstallMessageHandler(old);
    if (device) GTEST_SKIP() << "this machine has an audio device";
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(said.isEmpty()) << said.join('\n').toStdString();
}

TEST(HoverLabel, ColourSettersRecolourTheStateInUse) {
    TabcMouseLabel label("ЖЖЖЖЖЖ");
    QFont f = label.font();
    f.setPixelSize(30);
    label.setFont(f);
    label.resize(200, 40);
    label.setMouseOverEffects(almColor);
    label.show();
    label.mouseEntered();
    const QColor wanted(200, 10, 30);
    label.setMouseOverColor(wanted);
    label.setMouseDownColor(QColor(1, 2, 3));
    EXPECT_EQ(label.MouseOverColor(), wanted);
    EXPECT_EQ(label.MouseDownColor(), QColor(1, 2, 3));
    const QImage img = label.grab().toImage();
    bool found = false;
    for (int y = 0; y < img.height() && !found; ++y)
        for (int x = 0; x < img.width() && !found; ++x) found = img.pixelColor(x, y) == wanted;
    EXPECT_TRUE(found);
}

TEST(Gradient, AssignTakesTheFourPropertiesAndSaysSo) {
    TabcGradient from, to;
    from.setColorCount(12);
    from.setColorFrom(QColor(255, 255, 0));
    from.setColorTo(QColor(5, 121, 250));
    from.setDirection(TabcDrawDirection::ddCenter);
    from.setDrawMethod(TabcGradientDrawMethod::agdStretch);
    QImage img(20, 20, QImage::Format_RGB32);
    QPainter p(&img);
    to.setDrawBuffered(true);
    to.Draw(p, img.rect());
    ASSERT_FALSE(to.isChanged());
    QSignalSpy changed(&to, &TabcGradient::OnChange);
    to.Assign(from);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(to.isChanged());
    EXPECT_EQ(to.ColorCount(), 12);
    EXPECT_EQ(to.ColorFrom(), QColor(255, 255, 0));
    EXPECT_EQ(to.ColorTo(), QColor(5, 121, 250));
    EXPECT_EQ(to.Direction(), TabcDrawDirection::ddCenter);
    EXPECT_EQ(to.DrawMethod(), TabcGradientDrawMethod::agdDraw);   // the method is not taken
    to.Assign(from);                                               // nothing differs: still a change
    EXPECT_EQ(changed.count(), 2);
}

TEST(CheckBox, AlignmentSetters) {
    TabcCheckBox box("Выбрать всех");
    box.setAlignHorz(Qt::AlignHCenter);
    box.setAlignVert(TabcVAlignment::vaBottom);
    EXPECT_EQ(box.AlignHorz(), Qt::AlignHCenter);
    EXPECT_EQ(box.AlignVert(), TabcVAlignment::vaBottom);
    box.setAlignHorz(Qt::AlignJustify);               // no such alignment: left
    EXPECT_EQ(box.AlignHorz(), Qt::AlignLeft);
    EXPECT_EQ(abc::checkBoxTextFlags(box.AlignHorz(), box.AlignVert(), box.WordWrap()) & Qt::AlignVertical_Mask,
              int(Qt::AlignBottom));
}
