#pragma once

#include <QString>
#include <QStringList>

class QTranslator;

namespace ostrel {

// Qt's translation of its own texts (standard buttons, file dialog, context menus) that
// matches the window's language.
inline constexpr char kQtTranslationName[] = "qtbase_zh_CN";

// The folders searched for kQtTranslationName: Qt's own translations folder, where
// Debian's qt6-translations-l10n puts it.
QStringList QtTranslationFolders();

// Loads kQtTranslationName from the first of `folders` that holds it into `translator`
// and installs it in the running application; `translator` must outlive the application's
// use of it. Gives false, changing nothing, when no folder holds it: Qt's texts then stay
// English, except the buttons and labels the window's own boxes and file dialogs set
// themselves (dialogs.h).
bool InstallQtTranslation(QTranslator& translator, const QStringList& folders);

}  // namespace ostrel
