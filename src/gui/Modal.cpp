#include "gui/Modal.h"

#include <QFileDialog>
#include <utility>

namespace vorlen::gui {

namespace {

// Installed and used on the UI thread only.
TModalHandler& ModalHandler() {
    static TModalHandler handler;
    return handler;
}

TOpenFileHandler& OpenFileHandler() {
    static TOpenFileHandler handler;
    return handler;
}

} // namespace

int ExecModal(QDialog& dialog) {
    // A copy, so a handler that installs another one for a nested dialog does not pull the
    // running function from under itself.
    const TModalHandler handler = ModalHandler();
    if (handler)
        return handler(dialog);
    return dialog.exec();
}

void SetModalHandler(TModalHandler handler) {
    ModalHandler() = std::move(handler);
}

QString PickOpenFile(const TOpenFileRequest& request) {
    const TOpenFileHandler handler = OpenFileHandler();
    if (handler)
        return handler(request);
    QFileDialog dialog(request.Parent);
    if (request.Folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setDirectory(request.Directory);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name that does not exist is accepted; the caller tells the user it is missing.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(request.NameFilters);
    dialog.setDefaultSuffix(request.DefaultSuffix);
    dialog.setDirectory(request.Directory);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void SetOpenFileHandler(TOpenFileHandler handler) {
    OpenFileHandler() = std::move(handler);
}

} // namespace vorlen::gui
