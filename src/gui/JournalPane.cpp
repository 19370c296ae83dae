#include "gui/JournalPane.h"

namespace vorlen::gui {

TJournalPane::TJournalPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TJournalPane::AppendLine(const std::string& line) {
    appendPlainText(QString::fromStdString(line));
}

QStringList TJournalPane::Lines() const {
    const QString text = toPlainText();
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char('\n'));
}

} // namespace vorlen::gui
