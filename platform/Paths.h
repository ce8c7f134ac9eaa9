#pragma once
// Where the program keeps its files. The program folder is the executable's
// folder unless the environment variable KELVANA_HOME points elsewhere.
// All paths use '/' and folders end with '/'.
#include <QString>

namespace paths {

QString programFolder();
void setProgramFolder(const QString &folder);   // tests and installed copies
QString settingsFile();       // program folder + "Kelvana.cfg"
QString updateSettingsFile(); // program folder + "Kelvana.ini"
QString templateValuesFile(); // program folder + "source/data0.mdb"

// Folder with exactly one trailing '/'; backslashes become '/'.
QString withSlash(const QString &folder);
QString withoutSlash(const QString &folder);

bool makePath(const QString &folder);   // folder with all missing parents
// Copies a file with its modification time, replacing the target. False
// when it fails; the target then keeps what it held.
bool copyFileOver(const QString &from, const QString &to, QString *error = nullptr);

} // namespace paths
