// Qt's own texts (the file and folder dialogs, the edit fields' menus, the
// standard buttons) in the user's language: Qt's translations for the first
// of the user's languages that has them (Debian's qt6-translations-l10n).
#pragma once
#include <QCoreApplication>

// Installs the translator on app; false when no language of the user has
// Qt translations (Qt's texts then stay English).
bool LoadQtTranslations(QCoreApplication* app);
