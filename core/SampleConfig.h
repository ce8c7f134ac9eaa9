#pragma once
// A small but complete configuration made in code: a territory with its
// institutions, three report forms (one of them a network form), calculated
// cells, control rules, summary reports, an indicator set and values. Used by
// the command line option that makes a demonstration folder, by the tests and
// by the benchmarks. The content is described at the top of SampleConfig.cpp;
// the ids below are the ones it gives.
#include <QString>

namespace sample {

// Creates <configFolder>/<year>/ with orvmain.mdb, data0.mdb, one sub-report
// level (subreps row 1 and data1.mdb) and forms/. With withPreviousYear the
// folder <year-1>/ is made too, with the same definitions and its own values.
// Existing database files are replaced. Throws db::Error.
void createConfiguration(const QString &configFolder, int year, bool withPreviousYear = false);

// Creates <programFolder>/source/data0.mdb, the empty values template.
void createProgramFiles(const QString &programFolder);

// Registers the configuration in the settings file: section "Конфигурации",
// key = name, value = folder without trailing '/'. In section "Конфигурация"
// writes Year = year when year is not 0, else only when Year is missing (the
// current calendar year), and Last = 0 when missing. Throws db::Error when the
// file cannot be written.
void registerConfiguration(const QString &settingsFile, const QString &name, const QString &configFolder,
                           int year = 0);

// Ids of the sample content.
namespace ids {
// administration
constexpr int Region = 1, North = 2, South = 3, Central = 4;
constexpr int NorthHospital = 5, NorthPolyclinic = 6, FapOzerny = 7, FapLesnoy = 8;
constexpr int SouthHospital = 9, SouthPolyclinic = 10, FapStepnoy = 11, SouthRuralHospital = 12;
constexpr int RegionalHospital = 13, CityPolyclinic = 14, OncologyDispensary = 15, TbDispensary = 16;
// medicaltypes
constexpr int TypeInpatient = 1, TypeHospital = 2, TypeDispensary = 3, TypeOutpatient = 4,
              TypePolyclinic = 5, TypeFap = 6;
// forms
constexpr int FormF30 = 1, FormF14 = 2, FormF47 = 3;
// tables (tables.ident)
constexpr int TableF30Staff = 1, TableF30Visits = 2, TableF14Patients = 3, TableF47Network = 4;
// int_control keys
constexpr int RuleDoctorsByColumn = 1, RuleOccupiedPositions = 2, RuleWomenByRow = 3, RuleVisitsVsPositions = 4,
              RuleRuralVisits = 5, RuleDischargedVsVisits = 6, RulePatientsByColumn = 7;
// reports
constexpr int ReportRegion = 1, ReportNorth = 2, ReportNetwork = 3, ReportComposite = 4;
// subreps
constexpr int LevelQuarter = 1;
// tree
constexpr int SetHealth = 1, SetStaffing = 2;
} // namespace ids

} // namespace sample
