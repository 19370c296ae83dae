// How long the desktop terminal takes to come up and to go away, off screen:
//   startup:  main() entered -> the main window shown and first painted;
//   shutdown: the exit confirmation answered OK -> the window closed and destroyed and every
//             thread the terminal started has ended, while connected to the offline exchange.
//
//   bench_gui [N]        N runs of each (default 5), one process per run; median and max
//   bench_gui --startup  one start-up in this process (prints "startup <ms> <paint-clock-ns>")
//   bench_gui --shutdown one shutdown in this process (prints "shutdown <ms>")
//
// Each run is a process of its own because the start-up includes creating the QApplication and
// a second QApplication in one process would start warm.

#include "e2e/SimHarness.h"
#include "gui/GridModel.h"
#include "gui/MainForm.h"
#include "gui/Modal.h"
#include "gui/SetForm.h"
#include "gui/UiBridge.h"
#include "main/ConnectorPort.h"
#include "main/Dialogs.h"
#include "platform/Thread.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QPushButton>
#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vorlen;
using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

QtMessageHandler gDefaultHandler = nullptr;

// The off-screen platform warns about size hints for every top-level window; noise here.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support")))
        return;
    gDefaultHandler(type, context, text);
}

// Polls with a 1 ms step, not QTest::qWaitFor's 10 ms, so that the figures are not rounded up
// to the waiting granularity.
bool Poll(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = TClock::now() + limit;
    while (!done()) {
        if (TClock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Threads of this process, after Qt's own pool (which serves the toolkit, not the terminal) has
// let its idle threads go.
int ThreadCount() {
    QThreadPool::globalInstance()->waitForDone();
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// Boxes are recorded and answered from the script; the moment OK is given to the exit question
// is where the shutdown interval starts.
class TTimedDialogs final : public TScriptedDialogs {
public:
    bool AskConfirm(const std::string& text) override {
        const bool answer = TScriptedDialogs::AskConfirm(text);
        if (answer)
            ConfirmedAt = TClock::now();
        return answer;
    }
    void Report(const char* mode) const {
        for (const auto& call : Calls)
            if (call.Kind != TDialogKind::Confirm)
                std::fprintf(stderr, "bench_gui %s: box: %s\n", mode, call.Text.c_str());
    }
    TClock::time_point ConfirmedAt{};
};

// The first paint of anything inside the main window is when a user would see it.
class TFirstPaint final : public QObject {
public:
    explicit TFirstPaint(const QWidget& window) : FWindow(window) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!Seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == &FWindow) {
            Seen = true;
            At = TClock::now();
        }
        return false;
    }
    bool Seen = false;
    TClock::time_point At{};

private:
    const QWidget& FWindow;
};

int RunStartup(TClock::time_point started, int argc, char** argv) {
    // The build's gateway installation, so the terminal starts as on a machine that has one.
    const std::string reg = std::string(VORLEN_SIM_DIR) + "/vorlen-registry.reg";
    if (std::filesystem::exists(reg))
        setenv("VORLEN_REGISTRY", reg.c_str(), 0); // NOLINT(concurrency-mt-unsafe)
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ui::MarkUiThread();
    int result = 0;
    {
        gui::TUiBridge bridge;
        TTimedDialogs boxes;
        TScopedDialogs installed(boxes);
        // The settings dialog at start is cancelled: the window is measured, not a user.
        gui::SetModalHandler([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
        auto form = std::make_unique<gui::TMainForm>(ConnectorPortFactory());
        TFirstPaint paint(*form);
        QCoreApplication::instance()->installEventFilter(&paint);
        form->show();
        const bool painted = Poll([&] { return paint.Seen; }, std::chrono::seconds(30));
        QCoreApplication::instance()->removeEventFilter(&paint);
        if (painted) {
            std::printf("startup %.3f %lld\n", Ms(paint.At - started),
                        static_cast<long long>(paint.At.time_since_epoch().count()));
        } else {
            std::fprintf(stderr, "bench_gui --startup: the main window was never painted\n");
            result = 1;
        }
        boxes.Report("--startup");
        boxes.DefaultAnswer = true;
        form->close();
        form.reset();
        gui::SetModalHandler({});
    }
    ui::UnmarkUiThread();
    return result;
}

int RunShutdown(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ui::MarkUiThread();
    int result = 0;
    {
        gui::TUiBridge bridge;
        const e2e::TSimInstall inst;
        setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        gui::SetOpenFileHandler([&inst](const gui::TOpenFileRequest&) {
            return QString::fromStdString(inst.SettingsFile.string());
        });
        // The settings at start: the saved defaults loaded and applied, as a user would.
        gui::SetModalHandler([](QDialog& d) {
            auto* settings = qobject_cast<gui::TSetForm*>(&d);
            if (settings == nullptr)
                return static_cast<int>(QDialog::Rejected);
            settings->LoadButton->click();
            settings->ApplyButton->click();
            return d.result();
        });
        TTimedDialogs boxes;
        TScopedDialogs installed(boxes);
        // Counted before the terminal starts anything of its own.
        const int threadsBefore = ThreadCount();

        auto form = std::make_unique<gui::TMainForm>(
            ConnectorPortFactory(DefaultConnectorServices(), inst.DataDir));
        form->show();
        const auto fail = [&](const char* what) {
            std::fprintf(stderr, "bench_gui --shutdown: %s\n", what);
            boxes.Report("--shutdown");
            boxes.DefaultAnswer = true;
            form->close();
            form.reset();
            return 1;
        };
        const auto accountShown = [&] {
            return !form->GridViews[static_cast<std::size_t>(kAccGrid)]->Model().Cell(0, 0).empty();
        };
        if (!Poll([&] { return form->Conndis1->isEnabled(); }, std::chrono::seconds(60))) {
            result = fail("the router or the gateway library did not load");
        } else {
            form->Conndis1->trigger();
            if (!Poll([&] { return form->FileNew1->isEnabled() && accountShown(); },
                      std::chrono::seconds(120))) {
                result = fail("no connection with data");
            } else {
                boxes.DefaultAnswer = true;
                form->close();
                const bool closed = !form->isVisible();
                form.reset();
                const bool ended =
                    Poll([&] { return ThreadCount() <= threadsBefore; }, std::chrono::seconds(30));
                const auto done = TClock::now();
                if (!closed || !ended) {
                    std::fprintf(stderr, "bench_gui --shutdown: %s\n",
                                 closed ? "threads still running after 30 s"
                                        : "the window did not close");
                    result = 1;
                } else {
                    std::printf("shutdown %.3f\n", Ms(done - boxes.ConfirmedAt));
                }
            }
        }
        gui::SetModalHandler({});
        gui::SetOpenFileHandler({});
        unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe)
    }
    ui::UnmarkUiThread();
    return result;
}

struct TStats {
    double Median = 0;
    double Max = 0;
};

TStats Stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    TStats s;
    s.Median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.Max = v.back();
    return s;
}

// Runs this program in `mode` and reads its one result line.
bool RunChild(const std::string& self, const char* mode, std::string& line) {
    const std::string command = "'" + self + "' " + mode;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    char buffer[256];
    line.clear();
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        line += buffer;
    return pclose(pipe) == 0 && !line.empty();
}

int RunAll(int runs) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<double> startup, spawnToPaint, shutdown;
    for (int i = 0; i < runs; ++i) {
        std::string line;
        const auto spawned = TClock::now();
        double ms = 0;
        long long paintNs = 0;
        if (!RunChild(self, "--startup", line) ||
            std::sscanf(line.c_str(), "startup %lf %lld", &ms, &paintNs) != 2) {
            std::fprintf(stderr, "bench_gui: start-up run %d failed\n", i + 1);
            return 1;
        }
        startup.push_back(ms);
        // steady_clock is the system-wide monotonic clock, so the child's stamp compares.
        spawnToPaint.push_back(Ms(TClock::time_point(TClock::duration(paintNs)) - spawned));
    }
    for (int i = 0; i < runs; ++i) {
        std::string line;
        double ms = 0;
        if (!RunChild(self, "--shutdown", line) ||
            std::sscanf(line.c_str(), "shutdown %lf", &ms) != 1) {
            std::fprintf(stderr, "bench_gui: shutdown run %d failed\n", i + 1);
            return 1;
        }
        shutdown.push_back(ms);
    }
    const TStats up = Stats(startup);
    const TStats exec = Stats(spawnToPaint);
    const TStats down = Stats(shutdown);
    std::printf("runs: %d each, QT_QPA_PLATFORM=%s\n", runs,
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf(
        "startup  (main() -> main window shown and painted)       median %8.1f ms  max %8.1f ms\n",
        up.Median, up.Max);
    std::printf(
        "         (process spawned -> painted, incl. loading libs) median %8.1f ms  max %8.1f ms\n",
        exec.Median, exec.Max);
    std::printf(
        "shutdown (exit OK -> window gone, all threads ended;\n"
        "          connected to the simulator)                     median %8.1f ms  max %8.1f ms\n",
        down.Median, down.Max);
    std::printf("startup_ms: %.1f\n", up.Median);
    std::printf("shutdown_ms: %.1f\n", down.Median);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto started = TClock::now();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gDefaultHandler = qInstallMessageHandler(FilterMessages);
    if (argc >= 2 && std::strcmp(argv[1], "--startup") == 0)
        return RunStartup(started, argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--shutdown") == 0)
        return RunShutdown(argc, argv);
    int runs = 5;
    if (argc >= 2) {
        runs = std::atoi(argv[1]);
        if (runs < 1) {
            std::fprintf(stderr, "usage: bench_gui [N] | --startup | --shutdown\n");
            return 2;
        }
    }
    return RunAll(runs);
}
