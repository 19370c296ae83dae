// The expert window's three buttons driving a strategy: load a script, edit a parameter, start,
// see its lines in the memo, stop.

#include "GuiSupport.h"
#include "gui/JournalPane.h"
#include "gui/MdiChild.h"
#include "store/Storage.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>

namespace vorlen::test {
namespace {

TEST(StrategyWindow, LoadEditStartSeeTheMemoAndStop) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("probe.lua"));
    std::ofstream(path.toStdString()) << "params = { spread = {2, 'Спред', 'От середины'}, "
                                         "label = 'q' }\n"
                                         "function on_start(ctx)\n"
                                         "  ctx:log('start', ctx.params.spread, ctx.params.label)\n"
                                         "end\n"
                                         "function on_stop(ctx) ctx:log('stop') end\n";
    TCGStorage store;
    gui::TMDIChild child(&store, nullptr);
    child.setWindowTitle(QStringLiteral("Si-3.27(Si}-[7]"));
    child.SetupExpert(7, "Доллар", "Si-3.27");
    ASSERT_TRUE(child.RegisterAndStart());
    const auto memo = [&] { return child.Memo1->toPlainText(); };

    gui::SetOpenFileHandler([&](const gui::TOpenFileRequest& request) -> const QString& {
        EXPECT_TRUE(request.NameFilters.front().contains(QStringLiteral("*.lua")));
        return path;
    });
    child.Button1->click();
    gui::SetOpenFileHandler({});
    ASSERT_TRUE(WaitFor([&] {
        return child.windowTitle().endsWith(QStringLiteral(" — probe.lua"));
    })) << child.windowTitle().toStdString();
    // The main window still knows the window by the caption it gave.
    EXPECT_EQ(child.Caption(), "Si-3.27(Si}-[7]");

    TScriptedModal modal;
    modal.Steps.push_back([](QDialog& dialog) {
        auto* spread = dialog.findChild<QLineEdit*>(QStringLiteral("spread"));
        auto* label = dialog.findChild<QLineEdit*>(QStringLiteral("label"));
        EXPECT_TRUE(spread != nullptr && label != nullptr);
        if (spread == nullptr || label == nullptr)
            return static_cast<int>(QDialog::Rejected);
        EXPECT_EQ(spread->text(), QStringLiteral("2"));
        // The script's words for its parameter; its name where it gives none.
        QStringList captions;
        for (const QLabel* caption : dialog.findChildren<QLabel*>())
            if (caption->buddy() == spread || caption->buddy() == label)
                captions << caption->text();
        EXPECT_EQ(captions.join('|'), QStringLiteral("label|Спред"));
        auto* help = dialog.findChild<QLabel*>(QStringLiteral("spreadHelp"));
        EXPECT_TRUE(help != nullptr && help->text() == QStringLiteral("От середины"));
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("labelHelp")), nullptr);
        spread->setText(QStringLiteral("5"));
        return static_cast<int>(QDialog::Accepted);
    });
    child.BitBtn2->click();
    EXPECT_EQ(modal.Shown, 1);

    child.BitBtn1->click();
    ASSERT_TRUE(WaitFor([&] { return child.BitBtn1->text() == QStringLiteral("Стоп"); }));
    ASSERT_TRUE(WaitFor([&] { return memo().contains(QStringLiteral(" --> start 5 q")); }))
        << memo().toStdString();

    child.BitBtn1->click();
    ASSERT_TRUE(WaitFor([&] { return child.BitBtn1->text() == QStringLiteral("Старт"); }));
    EXPECT_TRUE(memo().contains(QStringLiteral(" --> stop\n")));
    EXPECT_TRUE(memo().endsWith(QStringLiteral(" --> Стратегия probe.lua остановлена.")))
        << memo().toStdString();
    child.StopExpert();
}

} // namespace
} // namespace vorlen::test
