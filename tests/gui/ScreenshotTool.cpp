// Takes the pictures of docs/screenshots: the terminal's windows as a user sees them, running
// against the offline exchange. Run it on a display (scripts/screenshots starts one).
//
//   gui_screenshots <output folder>

#include "GuiSupport.h"
#include "e2e/SimHarness.h"
#include "gui/ChForm.h"
#include "gui/GridModel.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/SetForm.h"
#include "gui/UiBridge.h"
#include "main/ConnectorPort.h"
#include "platform/Thread.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace vorlen;

bool Save(QWidget& widget, const QDir& dir, const char* name) {
    QApplication::processEvents();
    const QString file = dir.filePath(QString::fromLatin1(name));
    const bool ok = widget.grab().save(file);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", file.toLocal8Bit().constData());
    return ok;
}

// Shows a dialog that the script answers, long enough to be drawn and grabbed.
void ShowForPicture(QDialog& dialog) {
    dialog.show();
    QTest::qWait(300);
}

int Run(const QDir& out) {
    const e2e::TSimInstall inst(50);
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    setenv("VORLEN_DATA_DIR", inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    gui::SetOpenFileHandler([&inst](const gui::TOpenFileRequest&) {
        return QString::fromStdString(inst.SettingsFile.string());
    });

    // Boxes would stop the run; any that appears is printed and answered with OK.
    TScriptedDialogs boxes;
    TScopedDialogs installed(boxes);
    test::TScriptedModal modal;
    bool ok = true;
    modal.Steps.push_back([&](QDialog& d) {
        auto& settings = dynamic_cast<gui::TSetForm&>(d);
        ShowForPicture(settings);
        QTest::mouseClick(settings.LoadButton, Qt::LeftButton);
        ok = Save(settings, out, "settings.png") && ok;
        QTest::mouseClick(settings.ApplyButton, Qt::LeftButton);
        return d.result();
    });

    gui::TMainForm form(ConnectorPortFactory());
    form.show();
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "gui_screenshots: %s\n", what);
        for (const auto& call : boxes.Calls)
            std::fprintf(stderr, "  box: %s\n", call.Text.c_str());
        boxes.DefaultAnswer = true;
        form.close();
        return 1;
    };
    if (!test::WaitFor([&] { return form.Conndis1->isEnabled(); }, 60000))
        return fail("the router or the gateway library did not load");
    form.Conndis1->trigger();
    if (!test::WaitFor([&] { return form.FileNew1->isEnabled(); }, 120000))
        return fail("no connection");
    const auto filled = [&](int grid) {
        return !form.GridViews[static_cast<std::size_t>(grid)]->Model().Cell(0, 0).empty();
    };
    if (!test::WaitFor([&] { return filled(kOrdersGrid) && filled(kAccGrid); }, 60000))
        return fail("the grids stayed empty");
    QTest::qWait(1500);

    modal.Steps.push_back([&](QDialog& d) {
        auto& chooser = dynamic_cast<gui::TChForm&>(d);
        ShowForPicture(chooser);
        ok = Save(chooser, out, "chooser.png") && ok;
        QTest::mouseClick(chooser.Button1, Qt::LeftButton);
        return d.result();
    });
    form.FileNew1->trigger();
    const auto experts = form.ExpertChildren();
    if (experts.empty())
        return fail("no expert window");
    QTest::qWait(300);
    ok = Save(*form.MdiArea->subWindowList().constFirst(), out, "expert.png") && ok;

    form.MainPageControl->setCurrentIndex(kOrdersGrid);
    ok = Save(form, out, "main-orders.png") && ok;
    form.MainPageControl->setCurrentIndex(kAccGrid);
    ok = Save(form, out, "main-account.png") && ok;
    form.MainPageControl->setCurrentIndex(kGridCount);
    ok = Save(form, out, "main-journal.png") && ok;

    boxes.Answers = {true};
    form.close();
    unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe)
    unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gui_screenshots <output folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    vorlen::ui::MarkUiThread();
    int result = 0;
    {
        vorlen::gui::TUiBridge bridge;
        QDir out(QString::fromLocal8Bit(argv[1]));
        out.mkpath(QStringLiteral("."));
        result = Run(out);
    }
    vorlen::ui::UnmarkUiThread();
    return result;
}
