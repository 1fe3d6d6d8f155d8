#pragma once
// Qt's own texts (the file dialogs, standard buttons, the line edits' menus)
// in the program's language.
#include <QString>

class QCoreApplication;

// The translation of Qt's texts that matches the program's own: Simplified
// Chinese, whatever the locale (the program has no other language, and a
// dialog whose buttons followed the locale would mix two).
inline constexpr const char* kQtTranslationLocale = "zh_CN";

// Loads Qt's translation for `locale` (qtbase_<locale>.qm from Qt's
// translations folder, Debian's qt6-translations-l10n) and installs it in
// `app`, once. False, with Qt's English left, when the file is missing.
bool InstallQtTranslation(QCoreApplication& app, const QString& locale = kQtTranslationLocale);
