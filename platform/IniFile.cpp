#include "platform/IniFile.h"
#include "platform/Codepage.h"

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
    QStringList lines;
    if (!cp1251::readLines(m_path, lines, nullptr, cp1251::Encoding::Cp1251OrUtf8)) return;
    Section *current = nullptr;
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            current = find(name);
            if (!current) {
                m_sections.append(Section{name, {}});
                current = &m_sections.last();
            }
            continue;
        }
        if (!current) continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
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

bool IniFile::writeString(const QString &section, const QString &key, const QString &value) {
    Section *s = find(section);
    if (!s) {
        m_sections.append(Section{section, {}});
        s = &m_sections.last();
    }
    bool replaced = false;
    for (Entry &e : s->entries)
        if (sameName(e.key, key)) { e.value = value; replaced = true; break; }
    if (!replaced) s->entries.append(Entry{key, value});
    return save();
}

bool IniFile::writeInteger(const QString &section, const QString &key, int value) {
    return writeString(section, key, QString::number(value));
}

bool IniFile::deleteKey(const QString &section, const QString &key) {
    if (Section *s = find(section))
        for (qsizetype i = 0; i < s->entries.size(); ++i)
            if (sameName(s->entries[i].key, key)) { s->entries.removeAt(i); return save(); }
    return true;
}

bool IniFile::eraseSection(const QString &section) {
    for (qsizetype i = 0; i < m_sections.size(); ++i)
        if (sameName(m_sections[i].name, section)) { m_sections.removeAt(i); return save(); }
    return true;
}

bool IniFile::save() {
    QStringList lines;
    for (const Section &s : m_sections) {
        if (!lines.isEmpty()) lines.append(QString());
        lines.append(u'[' + s.name + u']');
        for (const Entry &e : s.entries) lines.append(e.key + u'=' + e.value);
    }
    QString why;
    if (cp1251::writeLines(m_path, lines, &why)) {
        m_error.clear();
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
