#pragma once

#include "main/Dialogs.h"

namespace vorlen::gui {

// The message boxes as QMessageBox, without an owner window. A worker thread's box is shown on
// the UI thread, the worker waiting for the answer.
class TQtDialogs final : public TDialogs {
public:
    void ShowError(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    bool AskConfirm(const std::string& text) override;
};

} // namespace vorlen::gui
