// "Параметры записи рынка": shows what history.ini holds (or the defaults), and what the trader
// sets is what the connector reads at the next connect.

#include "gui/HistoryForm.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace vorlen::gui {
namespace {

namespace fs = std::filesystem;

TEST(HistoryForm, ShowsTheFileAndSavesWhatIsSet) {
    QTemporaryDir tmp;
    const fs::path data = fs::path(tmp.path().toStdString()) / "data";
    {
        THistoryForm fresh(data);
        EXPECT_TRUE(fresh.RecordBox->isChecked()) << "recording is on unless switched off";
        EXPECT_TRUE(fresh.FolderEdit->text().isEmpty());
        EXPECT_EQ(fresh.FolderEdit->placeholderText().toStdString(), (data / "history").string());
        EXPECT_EQ(fresh.DaysSpin->value(), 30);
        EXPECT_EQ(fresh.GiBSpin->value(), 20);
        EXPECT_EQ(fresh.Values(), THistorySettings{});
        // The default folder typed in full stays the default: it follows the data folder.
        fresh.FolderEdit->setText(QString::fromStdString((data / "history").string()));
        EXPECT_EQ(fresh.Values(), THistorySettings{});
    }
    fs::create_directories(data);
    std::ofstream(data / "history.ini") << "keep_days=x\n";
    THistoryForm form(data);
    EXPECT_TRUE(form.ErrorLabel->text().contains(QStringLiteral("keep_days=x")));
    form.RecordBox->setChecked(false);
    form.FolderEdit->setText(QStringLiteral("/mnt/рынок"));
    form.DaysSpin->setValue(9);
    form.GiBSpin->setValue(4);
    QTest::mouseClick(form.SaveButton, Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    const THistorySettingsRead saved = LoadHistorySettings(data);
    EXPECT_TRUE(saved.Problems.empty());
    EXPECT_EQ(saved.Settings, (THistorySettings{false, "/mnt/рынок", 9, 4}));
}

} // namespace
} // namespace vorlen::gui
