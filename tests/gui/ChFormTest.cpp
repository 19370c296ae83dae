#include "gui/ChForm.h"

#include "GuiSupport.h"
#include "main/Dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace vorlen::test {
namespace {

using gui::TChForm;

class ChFormTest : public ::testing::Test {
protected:
    THeaders Fut{{11, "GAZR-6.26", "GZM6", "Газпром"},
                 {12, "MAIL-6.26", "VKM6", "ВК"},
                 {13, "LKOH-6.26", "LKM6", "Лукойл"}};
    THeaders Opt{{21, "Si-12.26M", "Si80", "Опцион Si"}, {22, "TRNS-6.26M", "TR81", "Опцион TR"}};
    TSHeaders Spot{{1, "GAZP", "GAZP", "Газпром"},
                   {2, "USD000UTSTOM", "USD", "Доллар"},
                   {3, "VKCO", "VKCO", "ВК"}};
};

TEST_F(ChFormTest, LayoutAndThePreselectionOfTheFirstExpert) {
    TChooser chooser(Fut, Opt, Spot);
    chooser.Preselect(0);
    TChForm form(chooser);
    EXPECT_EQ(form.windowTitle(), "Выбор фьючерса, опциона и акции");
    EXPECT_EQ(form.size(), QSize(414, 189));
    EXPECT_EQ(form.font().pointSize(), 8);
    EXPECT_EQ(form.FutLabel->text(), "Фьючерс : ");
    EXPECT_EQ(form.OptLabel->text(), "Опцион: ");
    EXPECT_EQ(form.FutBox->pos(), QPoint(68, 8));
    EXPECT_EQ(form.FutBox->width(), 249);
    EXPECT_EQ(form.OptBox->pos(), QPoint(68, 61));
    EXPECT_EQ(form.Button1->text(), "OK");
    EXPECT_EQ(form.Button1->geometry(), QRect(117, 152, 75, 25));
    EXPECT_EQ(form.Button2->text(), "Cancel");
    EXPECT_EQ(form.Button2->geometry(), QRect(218, 152, 75, 25));

    EXPECT_EQ(form.FutBox->count(), 3);
    EXPECT_EQ(form.FutBox->itemText(2), "LKOH-6.26");
    EXPECT_EQ(form.FutBox->currentIndex(), 0);
    EXPECT_EQ(form.FCntLabel->text(), "Всего: 3");
    EXPECT_EQ(form.OCntLabel->text(), "Всего: 2");
    EXPECT_EQ(form.Label1->text(), "Код фьючерса: GZM6");
    EXPECT_EQ(form.Label2->text(), "Код опциона: Si80");
    // The option's underlying is shown; the futures' one is kept.
    EXPECT_EQ(form.SharLabel->text(), "Базовый актив: USD000UTSTOM");
    EXPECT_EQ(chooser.Sname, "GAZP");
}

TEST_F(ChFormTest, UserChoicesUpdateLabelsAndFields) {
    TChooser chooser(Fut, Opt, Spot);
    chooser.Preselect(1);
    TChForm form(chooser);
    EXPECT_EQ(form.FutBox->currentIndex(), 1);
    EXPECT_EQ(form.OptBox->currentIndex(), 1);
    EXPECT_EQ(form.Label1->text(), "Код фьючерса: VKM6");
    EXPECT_EQ(chooser.Sname, "VKCO");

    form.FutBox->setCurrentIndex(2);
    emit form.FutBox->activated(2);
    EXPECT_EQ(form.Label1->text(), "Код фьючерса: LKM6");
    EXPECT_EQ(form.SharLabel->text(), "Базовый актив: Не найден");
    EXPECT_EQ(chooser.Fisin_id, 13);
    EXPECT_EQ(chooser.Sname, "") << "a futures without underlying has none of its own";

    form.OptBox->setCurrentIndex(0);
    emit form.OptBox->activated(0);
    EXPECT_EQ(form.SharLabel->text(), "Базовый актив: USD000UTSTOM");
    EXPECT_EQ(chooser.Sname, "");
    EXPECT_EQ(chooser.Oisin_id, 21);
}

// The futures box is editable: OK with a code no futures has is refused and the dialog stays;
// a typed code that is listed is what the expert gets.
TEST_F(ChFormTest, OkWithATypedCodeThatNamesNoFuturesIsRefused) {
    TScriptedDialogs boxes;
    TScopedDialogs installed(boxes);
    TChooser chooser(Fut, Opt, Spot);
    chooser.Preselect(0);
    TChForm form(chooser);
    form.show();

    form.FutBox->setEditText(QStringLiteral("SBRF-6.26"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Фьючерс \"SBRF-6.26\" не найден в списке инструментов."});
    EXPECT_EQ(chooser.Fisin_id, 11) << "the preselection is not what the user asked for";

    form.FutBox->setEditText(QStringLiteral("MAIL-6.26"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.Fisin_id, 12);
    EXPECT_EQ(chooser.Sname, "VKCO");
    EXPECT_EQ(form.Label1->text(), "Код фьючерса: VKM6");
    EXPECT_EQ(boxes.Calls.size(), 1u);
}

TEST_F(ChFormTest, EmptyListsAndTheButtons) {
    const THeaders none;
    TChooser chooser(none, none, Spot);
    chooser.Preselect(0);
    TChForm form(chooser);
    EXPECT_EQ(form.FutBox->count(), 0);
    EXPECT_EQ(form.FutBox->currentText(), "FutBox");
    EXPECT_EQ(form.OptBox->currentText(), "OptBox");
    EXPECT_EQ(form.FCntLabel->text(), "Всего: 0");
    EXPECT_EQ(form.Label1->text(), "Код фьючерса: Не выбрано");
    EXPECT_EQ(form.SharLabel->text(), "Базовый актив: Не выбрано");

    QTimer::singleShot(0, &form, [&form] { QTest::mouseClick(form.Button2, Qt::LeftButton); });
    EXPECT_EQ(form.exec(), QDialog::Rejected);
    QTimer::singleShot(0, &form, [&form] { QTest::mouseClick(form.Button1, Qt::LeftButton); });
    EXPECT_EQ(form.exec(), QDialog::Accepted);
}

} // namespace
} // namespace vorlen::test
