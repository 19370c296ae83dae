#pragma once

#include "platform/Journal.h"

#include <QPlainTextEdit>

class QKeyEvent;

namespace vorlen::gui {

// A journal pane: read-only lines with a vertical scroll bar. Lines arrive on the UI thread
// only (workers reach it through TThread::Synchronize).
class TJournalPane final : public QPlainTextEdit, public TJournalSink {
    Q_OBJECT
public:
    explicit TJournalPane(QWidget* parent = nullptr);
    void AppendLine(const std::string& line) override;
    QStringList Lines() const;

    // Ctrl+C copies selected text here; without a selection it stays the window's Connect.
    static bool WantsCopy(const QKeyEvent* key, bool hasSelection);

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};

} // namespace vorlen::gui
