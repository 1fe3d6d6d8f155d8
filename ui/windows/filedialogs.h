#pragma once
// The file dialogs the windows ask with: Qt's own unless a caller (a test)
// gives stand-ins. Each returns the chosen full path, or nothing when cancelled.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

// 保存 (the event log): a name of now suggested, ".doc" added to a name typed without a suffix.
std::optional<QString> AskForEventLogFile(QWidget* owner, const QString& name);
// 打开捕获文件...: an existing file.
std::optional<QString> AskForCaptureFileToOpen(QWidget* owner);
// 保存捕获文件... and 记录到文件...: with `caption`, ".pcapng" added likewise.
std::optional<QString> AskForCaptureFile(QWidget* owner, const QString& caption,
                                         const QString& name);
// The conversations window's 导出...: ".csv" added likewise.
std::optional<QString> AskForConversationsFile(QWidget* owner, const QString& name);

// The usage window's 导出...: captioned 导出用量, ".csv" added likewise.
std::optional<QString> AskForUsageFile(QWidget* owner, const QString& name);

struct FileDialogs {
    using SaveDialog = std::function<std::optional<QString>(QWidget* owner, const QString& name)>;
    using OpenDialog = std::function<std::optional<QString>(QWidget* owner)>;
    using CaptureSaveDialog = std::function<std::optional<QString>(
        QWidget* owner, const QString& caption, const QString& name)>;

    SaveDialog saveEventLog = AskForEventLogFile;
    OpenDialog openCaptureFile = AskForCaptureFileToOpen;
    CaptureSaveDialog saveCaptureFile = AskForCaptureFile;
    SaveDialog exportConversations = AskForConversationsFile;
    SaveDialog exportUsage = AskForUsageFile;
};
