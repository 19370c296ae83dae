#include "gui/LimitsForm.h"

#include "main/Dialogs.h"
#include "main/TerminalDesk.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlen::gui {

TLimitsForm::TLimitsForm(std::filesystem::path dir, std::function<orders::TOrderDesk*()> desk,
                         QWidget* parent)
    : QDialog(parent), FDir(std::move(dir)), FDesk(std::move(desk)) {
    setObjectName(QStringLiteral("LimitsForm"));
    setWindowTitle(QStringLiteral("Лимиты заявок"));
    auto* help = new QLabel(
        QStringLiteral("Одно правило в строке: «*» (все коды клиента), код клиента или код "
                       "клиента и инструмент, затем ключ=значение.\nКлючи: max_qty (лотов в "
                       "заявке), max_pos (позиция), max_active (активных заявок), per_minute, "
                       "per_day (заявок в минуту и в день), distance_pct (отклонение от лучшей "
                       "цены, %), opt_distance_steps (то же для опционов, в шагах цены).\nНе "
                       "заданное в строке берётся из более общей строки, затем из "
                       "встроенных лимитов."),
        this);
    help->setWordWrap(true);
    Editor = new QPlainTextEdit(this);
    Editor->setObjectName(QStringLiteral("LimitsEditor"));
    Editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Editor->setPlainText(QString::fromStdString(LimitsFileText(FDir)));
    ErrorLabel = new QLabel(this);
    ErrorLabel->setObjectName(QStringLiteral("ErrorLabel"));
    ErrorLabel->setWordWrap(true);
    SaveButton = new QPushButton(QStringLiteral("Сохранить"), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    SaveButton->setAutoDefault(false);
    CancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(help);
    layout->addWidget(Editor, 1);
    layout->addWidget(ErrorLabel);
    layout->addLayout(buttons);
    resize(640, 360);
    connect(SaveButton, &QPushButton::clicked, this, &TLimitsForm::SaveClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TLimitsForm::SaveClick() {
    orders::TLimitsBook book;
    std::string error;
    const std::string text = Editor->toPlainText().toStdString();
    // A zero typed for "no limit" would stop trading without a word: it is saved only once the
    // trader has read what it does.
    if (orders::TLimitsBook probe; probe.Parse(text, error)) {
        if (const std::string warning = StoppingLimitsQuestion(probe.Stopping());
            !warning.empty() && !AskConfirm(warning)) {
            ErrorLabel->setText(QStringLiteral("Лимиты не сохранены."));
            return;
        }
    }
    // Nothing is written and nothing changes on the desk unless the whole text is sound.
    if (!SaveLimitsFile(FDir, text, book, error)) {
        ErrorLabel->setText(QStringLiteral("Лимиты не сохранены: ") +
                            QString::fromStdString(error));
        return;
    }
    if (orders::TOrderDesk* desk = FDesk ? FDesk() : nullptr)
        desk->SetLimits(std::move(book));
    accept();
}

} // namespace vorlen::gui
