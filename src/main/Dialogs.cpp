#include "main/Dialogs.h"

#include <atomic>
#include <cstdio>

namespace vorlen {

namespace {

class TStderrDialogs final : public TDialogs {
public:
    void ShowError(const std::string& text) override { Print(kErrorCaption, text); }
    void ShowInfo(const std::string& text) override { Print(kInfoCaption, text); }
    bool AskConfirm(const std::string& text) override {
        Print(kConfirmCaption, text);
        return true;
    }

private:
    static void Print(std::string_view caption, const std::string& text) {
        std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(caption.size()), caption.data(),
                     text.c_str());
    }
};

TStderrDialogs& DefaultDialogs() {
    static TStderrDialogs dialogs;
    return dialogs;
}

// Read by whichever thread shows a box; installed on the UI thread.
std::atomic<TDialogs*> gDialogs{nullptr};

} // namespace

TDialogs& Dialogs() {
    TDialogs* d = gDialogs.load(std::memory_order_acquire);
    return d != nullptr ? *d : DefaultDialogs();
}

void SetDialogs(TDialogs* dialogs) {
    gDialogs.store(dialogs, std::memory_order_release);
}

void TScriptedDialogs::ShowError(const std::string& text) {
    Calls.push_back({TDialogKind::Error, text});
}

void TScriptedDialogs::ShowInfo(const std::string& text) {
    Calls.push_back({TDialogKind::Info, text});
}

bool TScriptedDialogs::AskConfirm(const std::string& text) {
    Calls.push_back({TDialogKind::Confirm, text});
    if (Answers.empty())
        return DefaultAnswer;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
}

std::vector<std::string> TScriptedDialogs::Texts(TDialogKind kind) const {
    std::vector<std::string> texts;
    for (const auto& call : Calls)
        if (call.Kind == kind)
            texts.push_back(call.Text);
    return texts;
}

TScopedDialogs::TScopedDialogs(TDialogs& dialogs)
    : FPrevious(gDialogs.exchange(&dialogs, std::memory_order_acq_rel)) {}

TScopedDialogs::~TScopedDialogs() {
    gDialogs.store(FPrevious, std::memory_order_release);
}

} // namespace vorlen
