#include "env/ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "env/text_lookup.h"
#include "env/ui/log_categories.h"

namespace rolta {

QTranslator* InstallQtTranslations(const TextLookup& lookup, const QString& folder) {
  if (!lookup.IsDefaultLanguage()) return nullptr;  // Qt's own texts are English already
  const QString place = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  // One translator for the program's lifetime, owned by the application.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                        place)) {
    qCWarning(lcUi).noquote() << "Qt's Chinese texts (qtbase_zh_CN.qm, package qt6-translations-l10n) are not in"
                              << place << "- standard buttons and file dialogs stay in English";
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

}  // namespace rolta
