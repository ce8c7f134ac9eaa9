#include "support/Fixture.h"
#include "support/TestWork.h"

#include "engine/Caches.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "platform/Paths.h"

#include <stdexcept>

SampleFixture::SampleFixture(bool withPreviousYear, int year) : m_year(year) {
    if (!m_dir.isValid()) throw std::runtime_error("temporary folder not available");
    m_savedProgramFolder = paths::programFolder();
    try {
        paths::makePath(programFolder());
        paths::setProgramFolder(programFolder());

        sample::createProgramFiles(programFolder());
        sample::createConfiguration(configFolder(), m_year, withPreviousYear);
        sample::registerConfiguration(settingsFile(), kConfigName, configFolder(), m_year);

        db::open(db::kMain, yearFolder() + QStringLiteral("orvmain.mdb"));
        db::open(db::kData, yearFolder() + QStringLiteral("data0.mdb"));
    } catch (...) {
        db::close(db::kData);
        db::close(db::kMain);
        paths::setProgramFolder(m_savedProgramFolder);
        throw;
    }

    SharedState &s = shared();
    testWork() = WorkContext{};
    s.Caches.clear();
    s.ConfigName = kConfigName;
    s.ConfigPath = configFolder();
    s.Year = m_year;
    s.SubReportId = 0;
    s.GroupLoadForms.clear();
}

SampleFixture::~SampleFixture() {
    db::close(db::kData);
    db::close(db::kMain);
    SharedState &s = shared();
    s.ConfigName.clear();
    s.ConfigPath.clear();
    s.Year = 0;
    s.SubReportId = 0;
    s.GroupLoadForms.clear();
    testWork() = WorkContext{};
    s.Caches.clear();
    paths::setProgramFolder(m_savedProgramFolder);
}

QString SampleFixture::programFolder() const { return root() + QStringLiteral("program/"); }
QString SampleFixture::configFolder() const { return root() + QStringLiteral("config/"); }
QString SampleFixture::yearFolder() const { return configFolder() + QString::number(m_year) + QLatin1Char('/'); }
QString SampleFixture::settingsFile() const { return paths::settingsFile(); }

void SampleFixture::reloadCaches() { caches::reloadAll(); }
