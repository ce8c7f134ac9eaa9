#include "platform/IniFile.h"
#include "platform/Codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
bool sameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;  // QString folds Cyrillic too
}
} // namespace

IniFile::IniFile(const QString &path) : m_path(path) { reload(); }

bool IniFile::exists() const { return QFileInfo::exists(m_path); }

void IniFile::reload() {
    m_sections.clear();
    m_lines.clear();
    m_readError.clear();
    m_readWarning.clear();
    if (!QFileInfo::exists(m_path)) return;
    QString why, guess;
    if (!cp1251::readLines(m_path, m_lines, &why, cp1251::Encoding::Cp1251OrUtf8, &guess)) {
        m_readError = why;
        return;
    }
    parse();
    // Read as code page 1251 all the same; the user is told what it looks like.
    if (!guess.isEmpty())
        m_readWarning = QStringLiteral("файл похож на текст в кодировке %1, а читается в кодировке Windows-1251: "
                                       "названия в нем могут быть искажены. Сохраните его в кодировке Windows-1251 "
                                       "или присоедините конфигурации заново.")
                            .arg(guess);
}

namespace {
bool isHeader(const QString &line) { return line.startsWith(u'[') && line.endsWith(u']'); }
QString headerName(const QString &line) { return line.mid(1, line.size() - 2).trimmed(); }
bool isEntry(const QString &line) { return !line.isEmpty() && !line.startsWith(u';') && !isHeader(line); }
QString entryKey(const QString &line) {
    const qsizetype eq = line.indexOf(u'=');
    return (eq < 0 ? line : line.left(eq)).trimmed();
}
} // namespace

void IniFile::parse() {
    m_sections.clear();
    Section *current = nullptr;
    for (const QString &raw : m_lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (isHeader(line)) {
            const QString name = headerName(line);
            current = find(name);
            if (!current) {
                m_sections.append(Section{name, {}});
                current = &m_sections.last();
            }
            continue;
        }
        if (!current) continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString key = entryKey(line);
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        bool replaced = false;
        for (Entry &e : current->entries)
            if (sameName(e.key, key)) { e.value = value; replaced = true; break; }
        if (!replaced) current->entries.append(Entry{key, value});
    }
}

const IniFile::Section *IniFile::find(const QString &section) const {
    for (const Section &s : m_sections)
        if (sameName(s.name, section)) return &s;
    return nullptr;
}

IniFile::Section *IniFile::find(const QString &section) {
    for (Section &s : m_sections)
        if (sameName(s.name, section)) return &s;
    return nullptr;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const {
    if (const Section *s = find(section))
        for (const Entry &e : s->entries)
            if (sameName(e.key, key)) return e.value;
    return def;
}

int IniFile::readInteger(const QString &section, const QString &key, int def) const {
    bool ok = false;
    const QString v = readString(section, key, QString());
    const int n = v.toInt(&ok);
    return ok ? n : def;
}

bool IniFile::valueExists(const QString &section, const QString &key) const {
    if (const Section *s = find(section))
        for (const Entry &e : s->entries)
            if (sameName(e.key, key)) return true;
    return false;
}

QStringList IniFile::sectionKeys(const QString &section) const {
    QStringList keys;
    if (const Section *s = find(section))
        for (const Entry &e : s->entries) keys.append(e.key);
    return keys;
}

QStringList IniFile::sections() const {
    QStringList names;
    for (const Section &s : m_sections) names.append(s.name);
    return names;
}

bool IniFile::sectionExists(const QString &section) const { return find(section) != nullptr; }

// The file is edited line by line, so that comments and blank lines stay
// where the user put them.
bool IniFile::writeString(const QString &section, const QString &key, const QString &value) {
    if (!m_readError.isEmpty()) return save();
    const QString line = key + u'=' + value;
    bool inSection = false, found = false;
    qsizetype lastOfSection = -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QString t = m_lines[i].trimmed();
        if (isHeader(t)) {
            inSection = sameName(headerName(t), section);
            if (inSection && !found) lastOfSection = i;
            continue;
        }
        if (!inSection || !isEntry(t)) continue;
        if (sameName(entryKey(t), key)) {
            m_lines[i] = line;
            found = true;
        } else if (!found) {
            lastOfSection = i;
        }
    }
    if (!found) {
        if (lastOfSection >= 0) {
            m_lines.insert(lastOfSection + 1, line);
        } else {
            if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty()) m_lines.append(QString());
            m_lines << u'[' + section + u']' << line;
        }
    }
    return save();
}

bool IniFile::writeInteger(const QString &section, const QString &key, int value) {
    return writeString(section, key, QString::number(value));
}

bool IniFile::deleteKey(const QString &section, const QString &key) {
    if (!valueExists(section, key)) return true;
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size();) {
        const QString t = m_lines[i].trimmed();
        if (isHeader(t)) inSection = sameName(headerName(t), section);
        else if (inSection && isEntry(t) && sameName(entryKey(t), key)) {
            m_lines.removeAt(i);
            continue;
        }
        ++i;
    }
    return save();
}

bool IniFile::eraseSection(const QString &section) {
    if (!sectionExists(section)) return true;
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size();) {
        const QString t = m_lines[i].trimmed();
        if (isHeader(t)) inSection = sameName(headerName(t), section);
        if (inSection) {
            m_lines.removeAt(i);
            continue;
        }
        ++i;
    }
    return save();
}

bool IniFile::save() {
    if (!m_readError.isEmpty()) {
        // A file in an encoding the program does not read is never written
        // over: the user's settings in it would be lost. A copy is kept
        // beside it before anything else happens to it.
        const QString copy = m_path + QStringLiteral(".копия");
        if (!QFileInfo::exists(copy)) QFile::copy(m_path, copy);
        m_error = QStringLiteral("файл настроек не изменён: ") + m_readError +
                  QStringLiteral(" Копия файла: ") + QDir::toNativeSeparators(copy);
        return false;
    }
    QString why;
    if (cp1251::writeLines(m_path, m_lines, &why)) {
        m_error.clear();
        parse();
        return true;
    }
    reload();
    m_error = why;
    return false;
}

namespace {
QString charName(char32_t c) {
    if (c == U'\t') return QStringLiteral("табуляция");
    if (c == U'\n' || c == U'\r') return QStringLiteral("перевод строки");
    if (c < 0x20 || c == 0x7F) return QStringLiteral("управляющий символ с кодом %1").arg(uint(c));
    return QStringLiteral("\"%1\" (U+%2)")
        .arg(QString::fromUcs4(&c, 1), QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
}

QString commonProblem(const QString &text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("Недопустимый символ: %1.").arg(charName(c.unicode()));
    const char32_t bad = cp1251::firstUnencodable(text);
    if (bad)
        return QStringLiteral("Символ %1 не может быть сохранен в кодировке Windows-1251.").arg(charName(bad));
    return QString();
}
} // namespace

QString IniFile::keyProblem(const QString &key) {
    if (key.contains(u'='))
        return QStringLiteral("Название не может содержать символ \"=\".");
    if (key.startsWith(u';'))
        return QStringLiteral("Название не может начинаться с символа \";\".");
    if (key.startsWith(u'['))
        return QStringLiteral("Название не может начинаться с символа \"[\".");
    if (key != key.trimmed())
        return QStringLiteral("Название не может начинаться или заканчиваться пробелом.");
    return commonProblem(key);
}

QString IniFile::valueProblem(const QString &value) { return commonProblem(value); }
