#pragma once
// Russian texts for Qt's own dialog parts (file dialogs, standard buttons,
// context menus of edit fields), which the program does not write itself.
#include <QString>

// Loads "qtbase_ru.qm" from the program folder's "translations/" (when an
// installation ships it there) or else from Qt's own translations folder,
// and installs it on the application. False when no file could be loaded.
// Installs at most once per process.
bool installQtTranslations();
