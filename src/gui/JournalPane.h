#pragma once

#include "platform/Journal.h"

#include <QPlainTextEdit>

namespace vorlen::gui {

// A journal pane: read-only lines with a vertical scroll bar. Lines arrive on the UI thread
// only (workers reach it through TThread::Synchronize).
class TJournalPane final : public QPlainTextEdit, public TJournalSink {
    Q_OBJECT
public:
    explicit TJournalPane(QWidget* parent = nullptr);
    void AppendLine(const std::string& line) override;
    QStringList Lines() const;
};

} // namespace vorlen::gui
