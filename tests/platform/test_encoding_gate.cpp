// The encoding gate both ways: every name and text of the corpus in code page 1251 passes it (the program's own
// files hold nothing else), and the same texts in other encodings, short files included, are refused.
#include "platform/Codepage.h"
#include "platform/IniFile.h"

#include "support/Files.h"
#include "support/ForeignEncodings.h"
#include "support/NameCorpus.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A file as the program writes it: the text on a line of its own, or in the quoted fields of a value line.
QList<QByteArray> filesOf(const QString &text, QByteArray (*encode)(const QString &)) {
    return {encode(text + QStringLiteral("\r\n")),
            encode(QStringLiteral("\"0.1\",\"2024\",\"%1\",\"(1000)\",\"3\",\"3\"\r\n").arg(text))};
}

QByteArray as1251(const QString &t) { return cp1251::encode(t); }

} // namespace

TEST(EncodingGate, PassesEveryNameAndTextOfTheCorpusIn1251) {
    // The names the catalogue takes among them: long runs of one letter, the longest names.
    const QStringList corpus = nameCorpus() + catalogueNames();
    ASSERT_GE(corpus.size(), 1000);
    QStringList refused;
    for (const QString &t : corpus)
        for (const QByteArray &bytes : filesOf(t, as1251))
            if (const QString e = cp1251::foreignEncoding(bytes); !e.isEmpty()) refused << t + QStringLiteral(" -> ") + e;
    // Abbreviations of the trade, and every text in capitals, alone and in one file.
    QStringList capitals = {"ГБУЗ", "ФГБУ", "МСЧ", "ФАП", "ЦРБ", "ЛПУ", "ОКВЭД", "ОКПО", "ОГРН", "КДЦ", "ГКБ", "ЦГБ",
                            "ОВП", "ФЕЛЬДШЕРСКО-АКУШЕРСКИЙ ПУНКТ", "ГБУЗ ЦРБ ФАП ОВП КДЦ ГКБ ЦГБ МСЧ ФГБУ ОКПО ОГРН"};
    for (const QString &t : russianTexts()) capitals << t.toUpper();
    for (const QString &t : capitals)
        if (const QString e = cp1251::foreignEncoding(cp1251::encode(t)); !e.isEmpty()) refused << t + " -> " + e;
    EXPECT_EQ(cp1251::foreignEncoding(cp1251::encode(capitals.join(QStringLiteral("\r\n")))), QString());
    // All of them in one file as well.
    EXPECT_EQ(cp1251::foreignEncoding(cp1251::encode(corpus.join(QStringLiteral("\r\n")))), QString());
    EXPECT_TRUE(refused.isEmpty()) << refused.size() << "\n" << refused.mid(0, 40).join(u'\n').toStdString();
}

TEST(EncodingGate, RefusesTheRussianTextsInOtherEncodings) {
    QStringList missed;
    int koi8 = 0, dos = 0, total = 0;
    for (const QString &t : russianTexts()) {
        const int letters = int(t.count(QRegularExpression(QStringLiteral("[А-Яа-яЁё]"))));
        if (letters < 16) continue;   // the short ones have their own cases below
        ++total;
        const QString k = cp1251::foreignEncoding(koi8r(t)), d = cp1251::foreignEncoding(cp866(t));
        koi8 += k == QStringLiteral("KOI8-R");
        dos += d == QStringLiteral("DOS (cp866)");
        if (k != QStringLiteral("KOI8-R")) missed << QStringLiteral("KOI8-R: ") + t + QStringLiteral(" -> ") + k;
        if (d != QStringLiteral("DOS (cp866)")) missed << QStringLiteral("cp866: ") + t + QStringLiteral(" -> ") + d;
        EXPECT_EQ(cp1251::foreignEncoding(t.toUtf8()), QStringLiteral("UTF-8")) << t.toStdString();
    }
    EXPECT_GT(total, 300);
    EXPECT_TRUE(missed.isEmpty()) << missed.size() << "\n" << missed.mid(0, 40).join(u'\n').toStdString();
}

TEST(EncodingGate, ShortForeignFilesAreRefusedAndShort1251FilesPass) {
    struct Case { QByteArray bytes; const char *encoding; };
    const Case cases[] = {
        // One title in an indicator set file, a tree line, a lower-case formula file.
        {koi8r(QStringLiteral("[Заголовки]\r\n1:0:Итого\r\n")), "KOI8-R"},
        {cp866(QStringLiteral("[Заголовки]\r\n1:0:Итого\r\n")), "DOS (cp866)"},
        {cp866(QStringLiteral("1,ФАП\r\n")), "DOS (cp866)"},
        {koi8r(QStringLiteral("форма1т(1000)стр2гр4>=форма1т(1000)стр3гр4\r\n")), "KOI8-R"},
        {cp866(QStringLiteral("форма1т(1000)стр2гр4>=форма1т(1000)стр3гр4\r\n")), "DOS (cp866)"},
        // A three-letter word: cp866 puts punctuation and Serbian letters in it. KOI8-R reads "Все" as "чУЕ" and
        // "все" as "ЧУЕ" in 1251, shaped like a unit ("кВА") and an abbreviation ("ЦРБ"): too little to tell,
        // read as 1251. Five letters tell.
        {cp866(QStringLiteral("Все")), "DOS (cp866)"},
        {cp866(QStringLiteral("все")), "DOS (cp866)"},
        {koi8r(QStringLiteral("Все")), ""},
        {koi8r(QStringLiteral("все")), ""},
        {koi8r(QStringLiteral("Всего")), "KOI8-R"},
        {koi8r(QStringLiteral("Дети")), "KOI8-R"},
        {koi8r(QStringLiteral("Койки")), "KOI8-R"},
        {koi8r(QStringLiteral("Врачи")), "KOI8-R"},
        {cp866(QStringLiteral("Дети")), "DOS (cp866)"},
        {cp866(QStringLiteral("койки")), "DOS (cp866)"},
        // 1251 files whose only Cyrillic is a unit, or a word that forms a UTF-8 sequence ("СЁ" is U+0468).
        {cp1251::encode(QStringLiteral("10 мВ")), ""},
        {cp1251::encode(QStringLiteral("СЁ")), ""},
        {cp1251::encode(QStringLiteral("ВСЁ ЕЩЁ")), ""},
        {cp1251::encode(QStringLiteral("кВА, дБ, гПа, МэВ")), ""},
        {cp1251::encode(QStringLiteral("10 мВ, 5 дБ, 3 мА, 2 кВ, 1 дБ, 6 мВ, 7 кГц, 8 МВт")), ""},
        {cp1251::encode(QStringLiteral("– – – № 5 «» — …")), ""},
        // UTF-8: valid is UTF-8; mostly valid with a stray byte is damaged, never 1251.
        {QStringLiteral("[Список]\r\nРайон1=/data/Район1\r\n").toUtf8(), "UTF-8"},
        {QStringLiteral("[Список]\r\nРайон1=/data/Район1\r\n").toUtf8() + "\xC8", cp1251::kDamagedUtf8},
        {QByteArray("\xEF\xBB\xBF") + QStringLiteral("Итого").toUtf8() + "\xFF", cp1251::kDamagedUtf8},
        {QStringLiteral("Итого").toUtf8(), "UTF-8"},
        // The byte 1251 leaves undefined.
        {cp1251::encode(QStringLiteral("Итого ")) + "\x98", cp1251::kUndefinedByte},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cp1251::foreignEncoding(c.bytes), QString::fromUtf8(c.encoding)) << c.bytes.toHex().toStdString();
    EXPECT_TRUE(cp1251::encodingProblem(cp1251::encode(QStringLiteral("Итого ")) + "\x98").contains("0x98"));
}

// A file is read whatever its length and wherever its Cyrillic falls among
// the ASCII bytes: ASCII before and after a text leaves its answer as it is,
// and a group's file of thousands of value lines, its names repeated on
// every line, is told as its single line is.
TEST(EncodingGate, LongFilesAndAnyPlaceOfTheirCyrillicAreToldAsTheirText) {
    QStringList changed;
    const QStringList texts = russianTexts().mid(0, 120) + QStringList{"Ф30", "ЦРБ", "Всего", "ёЁ", "«Итого» – №5"};
    for (const QString &t : texts)
        for (QByteArray (*encode)(const QString &) : {as1251, &koi8r, &cp866}) {
            const QByteArray alone = encode(t);
            const QString expected = cp1251::foreignEncoding(alone);
            for (int before = 0; before <= 9; ++before)
                for (int after : {0, 1, 7, 8, 9})
                    if (const QString e = cp1251::foreignEncoding(QByteArray(before, 'x') + alone + QByteArray(after, ' '));
                        e != expected)
                        changed << QStringLiteral("%1 +%2/%3: %4 -> %5").arg(t).arg(before).arg(after).arg(expected, e);
        }
    EXPECT_TRUE(changed.isEmpty()) << changed.size() << "\n" << changed.mid(0, 20).join(u'\n').toStdString();

    QString lines;
    for (int i = 0; i < 3000; ++i)
        lines += QStringLiteral("\"%1\",\"2026\",\"Ф30\",\"(1000)\",\"%2\",\"%3\"\r\n").arg(i % 7 ? "0.1" : "12").arg(i % 9 + 3).arg(i % 40 + 4);
    lines += QStringLiteral("\"1\",\"2026\",\"Ф12\",\"(2000)\",\"3\",\"4\"\r\n");
    EXPECT_EQ(cp1251::foreignEncoding(cp1251::encode(lines)), QString());
    const QString words = QStringLiteral("Число коек круглосуточного стационара на конец года\r\n");
    EXPECT_EQ(cp1251::foreignEncoding(koi8r(lines + words)), QStringLiteral("KOI8-R"));
    EXPECT_EQ(cp1251::foreignEncoding(cp866(lines + words)), QStringLiteral("DOS (cp866)"));
    EXPECT_EQ(cp1251::foreignEncoding((lines + words).toUtf8()), QStringLiteral("UTF-8"));
    EXPECT_EQ(cp1251::foreignEncoding(utf16(lines, false, false)), QStringLiteral("UTF-16"));
    EXPECT_EQ(cp1251::foreignEncoding(utf16(lines, true, false)), QStringLiteral("UTF-16"));
}

// The settings file is the program's own: a code page guess never refuses it, UTF-8 is read, damaged UTF-8 and
// the undefined byte are refused (and the file then kept: IniFile writes nothing over it).
TEST(EncodingGate, SettingsFileIsReadIn1251WhateverAGuessSays) {
    QTemporaryDir dir;
    const QString path = dir.filePath("k.cfg");
    QStringList lines;
    for (const QString &name : nameCorpus().mid(0, 60)) {
        const QStringList written = {QStringLiteral("[Список]"), name.left(60) + QStringLiteral("=/data/x")};
        ASSERT_TRUE(cp1251::writeLines(path, written));
        ASSERT_TRUE(cp1251::readLines(path, lines, nullptr, cp1251::Encoding::Cp1251OrUtf8)) << name.toStdString();
        EXPECT_EQ(lines, written);
    }
    // Bytes that read as KOI8-R or cp866 text are still read as 1251.
    for (const QByteArray &bytes : {koi8r(QStringLiteral("[Список]\r\nИтого=1\r\n")), cp866(QStringLiteral("[Список]\r\n"))}) {
        ASSERT_TRUE(cp1251::writeFile(path, bytes));
        ASSERT_TRUE(cp1251::readLines(path, lines, nullptr, cp1251::Encoding::Cp1251OrUtf8));
        EXPECT_EQ(cp1251::encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")), bytes);
    }
    QString why;
    ASSERT_TRUE(cp1251::writeFile(path, QStringLiteral("[Список]\r\nРайон=/data\r\n").toUtf8() + "\xC8"));
    EXPECT_FALSE(cp1251::readLines(path, lines, &why, cp1251::Encoding::Cp1251OrUtf8));
    EXPECT_TRUE(why.contains("UTF-8")) << why.toStdString();
}

// UTF-16 without its mark that lost or gained a byte on the way (its NUL bytes then on both sides), and a file with
// the byte 0x98 that reads as KOI8-R: refused before anything is read from them, by the gate and by the settings file,
// which keeps the file as it was through every write.
TEST(EncodingGate, DamagedUtf16AndTheUndefinedByteAreRefusedAndTheSettingsFileKept) {
    const QString text = QStringLiteral("[Конфигурация]\r\nYear=2024\r\nLast=0\r\n[Конфигурации]\r\n"
                                        "Район=/data/Район\r\n");
    QByteArray strayByte = utf16(text, false, false);
    strayByte.insert(strayByte.size() / 3, 'x');
    QByteArray lostByte = utf16(text, true, false);
    lostByte.remove(lostByte.size() / 2, 1);
    // KOI8-R text, so that the code page guess alone would have read it.
    const QByteArray koi8WithUndefined = koi8r(QStringLiteral("[Конфигурации]\r\nСеверный район области=/data\r\n")) + "\x98";
    QTemporaryDir dir;
    const QString path = dir.filePath("Kelvana.cfg");
    for (const QByteArray &bytes : {strayByte, lostByte, koi8WithUndefined}) {
        EXPECT_FALSE(cp1251::foreignEncoding(bytes).isEmpty());
        ASSERT_TRUE(cp1251::writeFile(path, bytes));
        QStringList lines;
        QString why;
        EXPECT_FALSE(cp1251::readLines(path, lines, &why, cp1251::Encoding::Cp1251OrUtf8));
        EXPECT_TRUE(why.contains(QStringLiteral("нулевые байты")) || why.contains(QStringLiteral("0x98")))
            << why.toStdString();
        IniFile ini(path);
        EXPECT_FALSE(ini.readError().isEmpty());
        EXPECT_FALSE(ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Южный"), QStringLiteral("/d")));
        EXPECT_FALSE(ini.writeInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), 2025));
        EXPECT_EQ(fileBytes(path), bytes);
    }
    // Code page 1251 text with NUL bytes is no text either; UTF-16 whole is still told as UTF-16.
    EXPECT_EQ(cp1251::foreignEncoding(cp1251::encode(QStringLiteral("Итого")) + QByteArray(2, '\0')),
              QString::fromUtf8(cp1251::kNulBytes));
    EXPECT_EQ(cp1251::foreignEncoding(utf16(text, false, false)), QStringLiteral("UTF-16"));
}
