#pragma once
// Sectioned key=value settings file in code page 1251 with CR LF line ends.
// Sections and keys keep the order of the file; names are compared without
// regard to letter case (Cyrillic included). Every write is saved at once.
#include <QString>
#include <QStringList>
#include <QList>

class IniFile {
public:
    explicit IniFile(const QString &path);

    const QString &path() const { return m_path; }
    bool exists() const;

    QString readString(const QString &section, const QString &key, const QString &def = QString()) const;
    int readInteger(const QString &section, const QString &key, int def) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList sectionKeys(const QString &section) const;  // in file order
    QStringList sections() const;
    bool sectionExists(const QString &section) const;

    // Writers return false (and set lastError) when the file cannot be saved.
    bool writeString(const QString &section, const QString &key, const QString &value);
    bool writeInteger(const QString &section, const QString &key, int value);
    bool deleteKey(const QString &section, const QString &key);
    bool eraseSection(const QString &section);

    QString lastError() const { return m_error; }
    void reload();

private:
    struct Entry { QString key; QString value; };
    struct Section { QString name; QList<Entry> entries; };
    const Section *find(const QString &section) const;
    Section *find(const QString &section);
    bool save();

    QString m_path;
    QList<Section> m_sections;
    QString m_error;
};
