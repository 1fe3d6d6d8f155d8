#include "ui/windows/filedialogs.h"

#include <QFileDialog>

#include "res/resource.h"
#include "res/strings.h"

namespace {

std::optional<QString> Chosen(QFileDialog& fd) {
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return fd.selectedFiles().first();
}

std::optional<QString> AskToSave(QWidget* owner, const QString& caption, const QString& suffix,
                                 const QStringList& types, const QString& name) {
    QFileDialog fd(owner, caption);
    // Qt's own dialog asks before replacing the file it will really write
    // (the name with the suffix added); a native one asks about the name as typed.
    fd.setOption(QFileDialog::DontUseNativeDialog);
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setFileMode(QFileDialog::AnyFile);
    fd.setDefaultSuffix(suffix);
    fd.setNameFilters(types);
    fd.selectFile(name);
    return Chosen(fd);
}

}  // namespace

std::optional<QString> AskForEventLogFile(QWidget* owner, const QString& name) {
    return AskToSave(owner, QString(), QStringLiteral("doc"),
                     {QStringLiteral("doc (*.doc)"), QStringLiteral("* (*)")}, name);
}

std::optional<QString> AskForCaptureFileToOpen(QWidget* owner) {
    QFileDialog fd(owner, LoadStringText(IDS_OPEN_CAPTURE_TITLE));
    fd.setOption(QFileDialog::DontUseNativeDialog);
    fd.setAcceptMode(QFileDialog::AcceptOpen);
    fd.setFileMode(QFileDialog::ExistingFile);
    fd.setNameFilters({LoadStringText(IDS_CAPTURE_FILE_TYPES), LoadStringText(IDS_ALL_FILE_TYPES)});
    return Chosen(fd);
}

std::optional<QString> AskForCaptureFile(QWidget* owner, const QString& caption,
                                         const QString& name) {
    return AskToSave(owner, caption, QStringLiteral("pcapng"),
                     {LoadStringText(IDS_PCAPNG_FILE_TYPES), LoadStringText(IDS_ALL_FILE_TYPES)},
                     name);
}

std::optional<QString> AskForConversationsFile(QWidget* owner, const QString& name) {
    return AskToSave(owner, LoadStringText(IDS_EXPORT_CONVERSATIONS_TITLE), QStringLiteral("csv"),
                     {LoadStringText(IDS_CSV_FILE_TYPES), LoadStringText(IDS_ALL_FILE_TYPES)},
                     name);
}

std::optional<QString> AskForUsageFile(QWidget* owner, const QString& name) {
    return AskToSave(owner, LoadStringText(IDS_USAGE_EXPORT_TITLE), QStringLiteral("csv"),
                     {LoadStringText(IDS_CSV_FILE_TYPES), LoadStringText(IDS_ALL_FILE_TYPES)},
                     name);
}
