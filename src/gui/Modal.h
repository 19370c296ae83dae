#pragma once

// Every modal dialog and file picker of the windows opens through here, so a test can answer
// them from a script instead of a user: the handler gets the dialog fully built and returns the
// result a user would have given.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace vorlen::gui {

using TModalHandler = std::function<int(QDialog& dialog)>;

// Shows `dialog` modally (QDialog::exec) or hands it to the installed handler.
int ExecModal(QDialog& dialog);
// nullptr restores exec.
void SetModalHandler(TModalHandler handler);

struct TOpenFileRequest {
    QWidget* Parent = nullptr;
    QString Directory;
    QStringList NameFilters; // e.g. "Sav files (*.sav)"
    QString DefaultSuffix;
    bool Folder = false; // a folder is chosen, not a file
};

// The chosen file, or an empty string when the user cancelled.
using TOpenFileHandler = std::function<QString(const TOpenFileRequest& request)>;
QString PickOpenFile(const TOpenFileRequest& request);
void SetOpenFileHandler(TOpenFileHandler handler);

} // namespace vorlen::gui
