#pragma once

// The three message boxes every part of the terminal shows: an error, a notice and a yes/no
// question. They go through one replaceable object so that the windows show QMessageBox while
// tests and the console answer from a script. The boxes have no owner window.

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr std::string_view kErrorCaption = "ОШИБКА";
inline constexpr std::string_view kInfoCaption = "ВНИМАНИЕ";
inline constexpr std::string_view kConfirmCaption = "Подтверждение";

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Caption "ОШИБКА", error icon, OK.
    virtual void ShowError(const std::string& text) = 0;
    // Caption "ВНИМАНИЕ", information icon, OK.
    virtual void ShowInfo(const std::string& text) = 0;
    // Caption "Подтверждение", question icon, OK and Cancel; true for OK.
    virtual bool AskConfirm(const std::string& text) = 0;
};

// The installed object. Until one is installed, boxes go to standard error and every question
// is answered with OK, which is what a program without windows can do.
TDialogs& Dialogs();
// Installs `dialogs` (not owned; nullptr restores the default). Done on the UI thread, before
// any worker can show a box.
void SetDialogs(TDialogs* dialogs);

inline void ShowError(const std::string& text) {
    Dialogs().ShowError(text);
}
inline void ShowInfo(const std::string& text) {
    Dialogs().ShowInfo(text);
}
inline bool AskConfirm(const std::string& text) {
    return Dialogs().AskConfirm(text);
}

enum class TDialogKind { Error, Info, Confirm };

struct TDialogCall {
    TDialogKind Kind;
    std::string Text;
    bool operator==(const TDialogCall&) const = default;
};

// Records every box and answers questions from a script: the queued answers first, then
// DefaultAnswer.
class TScriptedDialogs : public TDialogs {
public:
    void ShowError(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    bool AskConfirm(const std::string& text) override;

    std::vector<TDialogCall> Calls;
    std::deque<bool> Answers;
    bool DefaultAnswer = true;

    // The texts of the calls of one kind, in order.
    std::vector<std::string> Texts(TDialogKind kind) const;
    void Clear() { Calls.clear(); }
};

// Installs a dialogs object for the life of a scope and restores the previous one after it.
class TScopedDialogs {
public:
    explicit TScopedDialogs(TDialogs& dialogs);
    ~TScopedDialogs();
    TScopedDialogs(const TScopedDialogs&) = delete;
    TScopedDialogs& operator=(const TScopedDialogs&) = delete;

private:
    TDialogs* FPrevious;
};

} // namespace vorlen
