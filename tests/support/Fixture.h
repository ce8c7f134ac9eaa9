#pragma once
// A complete sample installation in a temporary folder: program folder with the values template and the settings file,
// the sample configuration (see core/SampleConfig.cpp for its content), "dbmain" and "dbdat" open on the year's
// orvmain.mdb and data0.mdb, and shared() pointing at them. Usable from tests and benchmarks; one at a time.
#include "core/SampleConfig.h"

#include <QString>
#include <QTemporaryDir>

class SampleFixture {
public:
    static constexpr int kYear = 2024;
    static inline const QString kConfigName = QStringLiteral("Образец");

    explicit SampleFixture(bool withPreviousYear = false, int year = kYear);
    ~SampleFixture();
    SampleFixture(const SampleFixture &) = delete;
    SampleFixture &operator=(const SampleFixture &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path() + QLatin1Char('/'); }
    QString programFolder() const;   // ends with '/'
    QString configFolder() const;    // ends with '/' (= shared().ConfigPath)
    QString yearFolder() const;      // configFolder + year + '/'
    QString settingsFile() const;
    int year() const { return m_year; }

    // Fills the lookup caches of shared() from the open main database.
    void reloadCaches();

private:
    QTemporaryDir m_dir;
    int m_year;
    QString m_savedProgramFolder;
};
