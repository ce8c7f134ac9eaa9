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
    if (!cp1251::readLines(m_path, lines)) return;
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
    m_error.clear();
    return cp1251::writeLines(m_path, lines, &m_error);
}
