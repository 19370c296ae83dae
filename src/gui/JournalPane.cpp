#include "gui/JournalPane.h"

#include <QKeyEvent>

namespace vorlen::gui {

TJournalPane::TJournalPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TJournalPane::AppendLine(const std::string& line) {
    appendPlainText(QString::fromStdString(line));
}

bool TJournalPane::WantsCopy(const QKeyEvent* key, bool hasSelection) {
    return hasSelection && key != nullptr && key->matches(QKeySequence::Copy);
}

bool TJournalPane::event(QEvent* e) {
    // Claiming the shortcut keeps the window's Ctrl+C (Connect) from taking the key.
    if (e->type() == QEvent::ShortcutOverride &&
        WantsCopy(static_cast<QKeyEvent*>(e), textCursor().hasSelection())) {
        e->accept();
        return true;
    }
    return QPlainTextEdit::event(e);
}

void TJournalPane::keyPressEvent(QKeyEvent* e) {
    if (WantsCopy(e, textCursor().hasSelection())) {
        copy();
        e->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

QStringList TJournalPane::Lines() const {
    const QString text = toPlainText();
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char('\n'));
}

} // namespace vorlen::gui
