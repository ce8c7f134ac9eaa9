#pragma once
// Russian texts for Qt's own dialog parts (file dialogs, standard buttons,
// context menus of edit fields), which the program does not write itself,
// while every number keeps "." as its decimal separator.
#include <QString>

// Before the application object exists: dates and names of the standard
// dialogs follow Russian conventions (LC_TIME, LC_MESSAGES), numbers the C
// ones (LC_NUMERIC); the character set the environment names is kept.
void prepareRussianLocale();

// Loads "qtbase_ru.qm" from the program folder's "translations/" (when an
// installation ships it there) or else from Qt's own translations folder,
// and installs it on the application, together with the Russian texts of
// the file dialogs' type column that those files lack. False when no file
// could be loaded. Installs at most once per process.
bool installQtTranslations();
