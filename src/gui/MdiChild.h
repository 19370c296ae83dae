#pragma once

// An expert's window: its journal and three buttons, and the expert thread it owns.

#include "experts/CHILDWIN.h"
#include "main/MainController.h"

#include <QWidget>
#include <memory>

class QPushButton;

namespace vorlen::gui {

class TJournalPane;

class TMDIChild final : public QWidget, public TExpertWindowPort {
    Q_OBJECT
public:
    // Creates the window's suspended expert over `store`; without a store the window has no
    // expert. `transactions` may be null (the expert then reads no order replies).
    TMDIChild(TCGStorage* store, TCGTRConnection* transactions, QWidget* parent = nullptr);
    ~TMDIChild() override;

    TExpert* Expert() { return FExpert.get(); }
    QSize sizeHint() const override;

    std::string Caption() const override;
    void SetupExpert(std::int32_t isin_id, const std::string& futName,
                     const std::string& futIsin) override;
    bool RegisterAndStart() override;
    void StopExpert() override;

    TJournalPane* Memo1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BookButton = nullptr; // the order book of the expert's instrument

signals:
    void BookRequested(std::int32_t isin_id, QString isin);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<TTrReplies> FReplies;
    std::unique_ptr<TExpert> FExpert;
};

} // namespace vorlen::gui
