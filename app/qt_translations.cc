#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace ostrel {

QStringList QtTranslationFolders() { return {QLibraryInfo::path(QLibraryInfo::TranslationsPath)}; }

bool InstallQtTranslation(QTranslator& translator, const QStringList& folders) {
  for (const QString& folder : folders) {
    if (translator.load(QString::fromLatin1(kQtTranslationName), folder)) {
      QCoreApplication::installTranslator(&translator);
      return true;
    }
  }
  return false;
}

}  // namespace ostrel
