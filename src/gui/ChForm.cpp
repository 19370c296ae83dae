#include "gui/ChForm.h"

#include "gui/DesignFont.h"
#include "main/Dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

namespace vorlen::gui {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* NewLabel(QWidget* parent, const char* name, int left, int top) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    return label;
}

QComboBox* NewBox(QWidget* parent, const char* name, int left, int top) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(left, top, 249, box->sizeHint().height());
    box->setEditable(true); // a drop-down combo shows its own text until an item is chosen
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

} // namespace

TChForm::TChForm(TChooser& chooser, QWidget* parent) : QDialog(parent), FChooser(chooser) {
    setObjectName(QStringLiteral("ChForm"));
    setWindowTitle(
        QString::fromUtf8(kChooserCaption.data(), static_cast<int>(kChooserCaption.size())));
    setFont(DesignFont(font()));
    setFixedSize(414, 189);

    FutLabel = NewLabel(this, "FutLabel", 8, 11);
    FutLabel->setText(QStringLiteral("Фьючерс : "));
    FutBox = NewBox(this, "FutBox", 68, 8);
    FCntLabel = NewLabel(this, "FCntLabel", 325, 11);
    Label1 = NewLabel(this, "Label1", 8, 39);
    OptLabel = NewLabel(this, "OptLabel", 8, 64);
    OptLabel->setText(QStringLiteral("Опцион: "));
    OptBox = NewBox(this, "OptBox", 68, 61);
    OCntLabel = NewLabel(this, "OCntLabel", 325, 64);
    Label2 = NewLabel(this, "Label2", 8, 93);
    SharLabel = NewLabel(this, "SharLabel", 8, 121);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(117, 152, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(218, 152, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &TChForm::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    ShowChooser();
    connect(FutBox, &QComboBox::activated, this, &TChForm::FutBoxChange);
    connect(OptBox, &QComboBox::activated, this, &TChForm::OptBoxChange);
}

void TChForm::FutBoxChange(int index) {
    FChooser.SelectFut(index);
    FChooser.FutBoxChange();
    ShowChooser();
}

void TChForm::OptBoxChange(int index) {
    FChooser.SelectOpt(index);
    FChooser.OptBoxChange();
    ShowChooser();
}

void TChForm::accept() {
    // The box is editable: what it shows is what the expert will trade, or nothing at all.
    if (!FChooser.FutBox.Items.empty()) {
        const std::string text = FutBox->currentText().toStdString();
        if (!FChooser.ChooseFutures(text)) {
            ShowError(UnknownFuturesText(text));
            return;
        }
        ShowChooser();
    }
    QDialog::accept();
}

void TChForm::ShowChooser() {
    const auto fill = [](QComboBox* combo, const TChooserBox& box) {
        const QSignalBlocker block(combo);
        if (combo->count() != static_cast<int>(box.Items.size())) {
            combo->clear();
            for (const std::string& item : box.Items)
                combo->addItem(Q(item));
        }
        combo->setCurrentIndex(box.ItemIndex);
        if (box.ItemIndex < 0)
            combo->setEditText(Q(box.Text));
    };
    fill(FutBox, FChooser.FutBox);
    fill(OptBox, FChooser.OptBox);
    FCntLabel->setText(Q(FChooser.FCntLabel));
    OCntLabel->setText(Q(FChooser.OCntLabel));
    Label1->setText(Q(FChooser.Label1));
    Label2->setText(Q(FChooser.Label2));
    SharLabel->setText(Q(FChooser.SharLabel));
    for (QLabel* label : {FCntLabel, Label1, Label2, SharLabel})
        label->adjustSize();
}

void TChForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

} // namespace vorlen::gui
