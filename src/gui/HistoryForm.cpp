#include "gui/HistoryForm.h"

#include "settings/SavedSettings.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vorlen::gui {

namespace {

QString Q(const std::filesystem::path& p) {
    return QString::fromStdString(PathToUtf8(p));
}

} // namespace

THistoryForm::THistoryForm(std::filesystem::path dataDir, QWidget* parent)
    : QDialog(parent), FDataDir(std::move(dataDir)) {
    setObjectName(QStringLiteral("HistoryForm"));
    setWindowTitle(QStringLiteral("Параметры записи рынка"));
    const THistorySettingsRead read = LoadHistorySettings(FDataDir);
    const THistorySettings& s = read.Settings;

    RecordBox = new QCheckBox(QStringLiteral("Записывать получаемые данные рынка"), this);
    RecordBox->setObjectName(QStringLiteral("RecordBox"));
    RecordBox->setChecked(s.Record);
    FolderEdit = new QLineEdit(this);
    FolderEdit->setObjectName(QStringLiteral("FolderEdit"));
    FolderEdit->setPlaceholderText(Q(HistoryFolder(THistorySettings{}, FDataDir)));
    FolderEdit->setText(s.Folder.empty() ? QString() : Q(s.Folder));
    BrowseButton = new QPushButton(QStringLiteral("Обзор..."), this);
    BrowseButton->setObjectName(QStringLiteral("BrowseButton"));
    BrowseButton->setAutoDefault(false);
    DaysSpin = new QSpinBox(this);
    DaysSpin->setObjectName(QStringLiteral("DaysSpin"));
    DaysSpin->setRange(1, static_cast<int>(kMaxKeepDays));
    DaysSpin->setValue(static_cast<int>(s.KeepDays));
    DaysSpin->setSuffix(QStringLiteral(" дн."));
    GiBSpin = new QSpinBox(this);
    GiBSpin->setObjectName(QStringLiteral("GiBSpin"));
    GiBSpin->setRange(1, static_cast<int>(kMaxKeepGiB));
    GiBSpin->setValue(static_cast<int>(s.KeepGiB));
    GiBSpin->setSuffix(QStringLiteral(" ГиБ"));

    auto* folder = new QHBoxLayout;
    folder->addWidget(FolderEdit, 1);
    folder->addWidget(BrowseButton);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Папка истории:"), folder);
    form->addRow(QStringLiteral("Хранить дней:"), DaysSpin);
    form->addRow(QStringLiteral("Хранить не более:"), GiBSpin);
    auto* note = new QLabel(QStringLiteral("Старые файлы дней удаляются сверх этих пределов; база "
                                           "сделок history.db не сокращается.\nИзменения вступят в "
                                           "силу при следующем подключении."),
                            this);
    note->setWordWrap(true);
    ErrorLabel = new QLabel(this);
    ErrorLabel->setObjectName(QStringLiteral("ErrorLabel"));
    ErrorLabel->setWordWrap(true);
    QString problems;
    for (const std::string& p : read.Problems)
        problems +=
            (problems.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(p);
    ErrorLabel->setText(problems);

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
    layout->addWidget(RecordBox);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(ErrorLabel);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());
    connect(SaveButton, &QPushButton::clicked, this, &THistoryForm::SaveClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(BrowseButton, &QPushButton::clicked, this, &THistoryForm::BrowseClick);
}

THistorySettings THistoryForm::Values() const {
    THistorySettings s;
    s.Record = RecordBox->isChecked();
    const QString text = FolderEdit->text().trimmed();
    if (!text.isEmpty()) {
        const std::filesystem::path chosen = PathFromUtf8(text.toStdString());
        if (chosen != HistoryFolder(THistorySettings{}, FDataDir))
            s.Folder = chosen.is_relative() ? FDataDir / chosen : chosen;
    }
    s.KeepDays = static_cast<unsigned>(DaysSpin->value());
    s.KeepGiB = static_cast<unsigned>(GiBSpin->value());
    return s;
}

void THistoryForm::BrowseClick() {
    const QString start =
        FolderEdit->text().isEmpty() ? FolderEdit->placeholderText() : FolderEdit->text();
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Папка истории"), start);
    if (!chosen.isEmpty())
        FolderEdit->setText(chosen);
}

void THistoryForm::SaveClick() {
    std::string error;
    if (!SaveHistorySettings(FDataDir, Values(), error)) {
        ErrorLabel->setText(QStringLiteral("Параметры не сохранены: ") +
                            QString::fromStdString(error) + QStringLiteral("."));
        return;
    }
    accept();
}

} // namespace vorlen::gui
