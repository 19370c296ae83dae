#include "gui/QtDialogs.h"

#include "platform/Thread.h"

#include <QMessageBox>
#include <QString>

namespace vorlen::gui {

namespace {

int ShowBox(QMessageBox::Icon icon, std::string_view caption, const std::string& text,
            QMessageBox::StandardButtons buttons) {
    int result = QMessageBox::NoButton;
    TThread::Synchronize([&] {
        QMessageBox box(icon, QString::fromUtf8(caption.data(), static_cast<int>(caption.size())),
                        QString::fromStdString(text), buttons);
        result = box.exec();
    });
    return result;
}

} // namespace

void TQtDialogs::ShowError(const std::string& text) {
    ShowBox(QMessageBox::Critical, kErrorCaption, text, QMessageBox::Ok);
}

void TQtDialogs::ShowInfo(const std::string& text) {
    ShowBox(QMessageBox::Information, kInfoCaption, text, QMessageBox::Ok);
}

bool TQtDialogs::AskConfirm(const std::string& text) {
    return ShowBox(QMessageBox::Question, kConfirmCaption, text,
                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

} // namespace vorlen::gui
