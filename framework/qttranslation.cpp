#include "framework/qttranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallQtTranslation(QCoreApplication& app, const QString& locale) {
    // Kept by the application: a translator must outlive its installation.
    static const QString kName = QStringLiteral("quorvelan-qt-translation");
    if (app.findChild<QTranslator*>(kName) != nullptr) {
        return true;
    }
    auto* translator = new QTranslator(&app);
    translator->setObjectName(kName);
    if (!translator->load(QStringLiteral("qtbase_") + locale,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
