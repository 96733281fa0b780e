#include "ui/qt_translations.h"

#include <QLibraryInfo>
#include <QTranslator>

#include "platform/message_language.h"

bool LoadQtTranslations(QCoreApplication* app) {
  QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const std::string& language : MessageLanguages()) {
    auto* translator = new QTranslator(app);
    // "qt_<language>" gathers qtbase and the other modules' catalogues.
    if (translator->load("qt_" + QString::fromStdString(language), folder) && app->installTranslator(translator))
      return true;
    delete translator;
  }
  return false;
}
