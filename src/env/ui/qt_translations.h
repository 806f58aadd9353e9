// Qt's own texts (standard buttons, the file dialogs' "Look in:", "File
// name:") in the console's language: Qt writes them in English, so the
// default language, Chinese, takes them from Qt's translations
// (qtbase_zh_CN.qm, Debian's qt6-translations-l10n).
#pragma once

#include <QString>

class QTranslator;

namespace rolta {

class TextLookup;

// Installs Qt's Chinese texts on the application when the lookup speaks the
// default language, from QLibraryInfo's TranslationsPath unless `folder` is
// given. Returns the translator, owned by the application; null when none is
// needed (English) or, after one warning naming the folder, when the file is
// missing there.
QTranslator* InstallQtTranslations(const TextLookup& lookup, const QString& folder = {});

}  // namespace rolta
