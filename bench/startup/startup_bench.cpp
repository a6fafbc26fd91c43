// Start-up benchmark: the time from process start to frmMain painted on the
// screen, and the resident memory at that moment.
//
//   startup_bench [runs]      under a desktop or xvfb-run; prints medians
//
// Each run starts this program again as a child, the clock read just before
// the spawn; the child starts exactly as vindrel does and reports the clock
// once the window has painted. A child that shows a bare QWidget instead is
// measured in the same way, as the floor that Qt itself sets. The two kinds
// of child take turns, so a change in the machine's load falls on both.
// Each child also reports the clock after every step of its start, which
// shows where the time between the two goes.
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/qt/main_window.h"
#include "app/qt/startup.h"
#include "platform/lan_names.h"
#include "platform/qt/settings_store_qt.h"

extern char** environ;

namespace {

constexpr char kChildMode[] = "VINDREL_BENCH_CHILD";

long long NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

long long CpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// A step of a child's start: the clock and the CPU time the child had used
// when it was reached.
struct Step {
    const char* name;
    long long ns;
    long long cpu_ns;
};

// The steps in the order reached; printed one a line once the window is shown.
std::vector<Step>& Steps()
{
    static std::vector<Step> steps;
    return steps;
}

void Reached(const char* step)
{
    Steps().push_back({step, NowNs(), CpuNs()});
}

// Reports the clock and memory after the first paint of `window` has ended.
class ShownProbe : public QObject {
public:
    explicit ShownProbe(QWidget& window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            Reached("first paint");
            QTimer::singleShot(0, [] {
                Reached("shown");
                const long kb = ResidentKb();
                for (const Step& step : Steps()) {
                    std::printf("%lld %lld %s\n", step.ns, step.cpu_ns, step.name);
                }
                std::printf("rss %ld\n", kb);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool reported_ = false;
};

int RunChild(int argc, char* argv[], bool bare)
{
    Reached("main");
    if (bare) {
        QApplication app(argc, argv);
        Reached("application");
        QWidget window;
        ShownProbe probe(window);
        Reached("window made");
        window.show();
        Reached("show");
        return app.exec();
    }
    // The same steps as vindrel's main().
    vindrel::StartupPreload preload;
    QApplication app(argc, argv);
    Reached("application");
    preload.ConfigureApplication(app);
    Reached("configured");
    vindrel::QtSettingsStore settings;
    vindrel::MainWindow frmMain(settings, vindrel::ProductionBindings());
    // As main() does, with a lister that stays off the machine's network.
    frmMain.CompleteNamesFrom([] { return vindrel::LanNames{}; }, vindrel::NameCachePath());
    ShownProbe probe(frmMain);
    Reached("window made");
    frmMain.show();
    Reached("show");
    return app.exec();
}

struct Sample {
    double ms = 0;       // spawn to shown
    long rss_kb = 0;
    double cpu_ms = 0;   // CPU time the child had used when shown
    struct Step {
        std::string name;
        double ms;      // since the spawn
        double cpu_ms;  // used by the child so far
    };
    std::vector<Step> steps;
};

bool SpawnOnce(const char* self, const char* mode, Sample& sample)
{
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    setenv(kChildMode, mode, 1);
    char* child_argv[] = {const_cast<char*>(self), nullptr};
    pid_t pid = 0;
    const long long start = NowNs();
    const int rc = posix_spawn(&pid, self, &actions, nullptr, child_argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return false;
    }
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    sample = {};
    std::istringstream lines(output);
    std::string line;
    bool shown = false;
    while (std::getline(lines, line)) {
        long long ns = 0;
        long long cpu_ns = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "rss %ld", &sample.rss_kb) == 1) continue;
        if (std::sscanf(line.c_str(), "%lld %lld %n", &ns, &cpu_ns, &used) != 2) return false;
        const double ms = (ns - start) / 1e6;
        sample.steps.push_back({line.substr(static_cast<std::size_t>(used)), ms, cpu_ns / 1e6});
        if (sample.steps.back().name == "shown") {
            sample.ms = ms;
            sample.cpu_ms = cpu_ns / 1e6;
            shown = true;
        }
    }
    return shown && sample.rss_kb > 0;
}

template <typename T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    if (const char* mode = std::getenv(kChildMode)) {
        return RunChild(argc, argv, std::strcmp(mode, "bare") == 0);
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    // The children read the settings store; keep them off the user's own.
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    setenv("XDG_CACHE_HOME", config.path().toLocal8Bit().constData(), 1);

    char self[4096] = {};
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;

    std::printf("platform: %s, %d runs each\n",
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM")
                : std::getenv("DISPLAY")       ? "xcb"
                                               : "(default)",
                runs);
    // Runs alternate between the two children; per child the samples of
    // each figure, and the steps in the order first reached.
    struct Figures {
        std::vector<double> ms, cpu_ms;
        std::vector<long> kb;
        std::vector<std::string> step_order;
        std::map<std::string, std::vector<double>> steps, step_cpu;
    };
    const char* const modes[] = {"vindrel", "bare"};
    Figures figures[2];
    for (int i = 0; i < runs; ++i) {
        for (int m = 0; m < 2; ++m) {
            // The X server tears down the last child's windows after it has
            // gone; let it finish so the next child does not wait for that.
            usleep(100000);
            Sample sample;
            if (!SpawnOnce(self, modes[m], sample)) {
                std::fprintf(stderr, "startup_bench: the %s child failed\n", modes[m]);
                return 1;
            }
            Figures& f = figures[m];
            f.ms.push_back(sample.ms);
            f.cpu_ms.push_back(sample.cpu_ms);
            f.kb.push_back(sample.rss_kb);
            for (const Sample::Step& step : sample.steps) {
                if (f.steps.count(step.name) == 0) f.step_order.push_back(step.name);
                f.steps[step.name].push_back(step.ms);
                f.step_cpu[step.name].push_back(step.cpu_ms);
            }
        }
    }
    for (int m = 0; m < 2; ++m) {
        const Figures& f = figures[m];
        std::printf("%-8s shown after %7.1f ms (median; min %.1f, max %.1f), CPU %5.1f ms, "
                    "resident %6.1f MB\n",
                    modes[m], Median(f.ms), *std::min_element(f.ms.begin(), f.ms.end()),
                    *std::max_element(f.ms.begin(), f.ms.end()), Median(f.cpu_ms),
                    Median(f.kb) / 1024.0);
        // Each step's median time since the spawn and since the step before,
        // and the same for the CPU time, which the machine's load moves less.
        double before = 0;
        double cpu_before = 0;
        for (const std::string& step : f.step_order) {
            const double at = Median(f.steps.at(step));
            const double cpu = Median(f.step_cpu.at(step));
            std::printf("    %-12s %7.1f ms (+%5.1f)   CPU %6.1f ms (+%5.1f)\n", step.c_str(), at,
                        at - before, cpu, cpu - cpu_before);
            before = at;
            cpu_before = cpu;
        }
    }
    const double window_ms = Median(figures[0].ms);
    const long window_kb = Median(figures[0].kb);
    std::printf("vindrel / bare QWidget: time %.2f (min %.2f), CPU %.2f, memory %.2f\n",
                window_ms / Median(figures[1].ms),
                *std::min_element(figures[0].ms.begin(), figures[0].ms.end()) /
                    *std::min_element(figures[1].ms.begin(), figures[1].ms.end()),
                Median(figures[0].cpu_ms) / Median(figures[1].cpu_ms),
                static_cast<double>(window_kb) / Median(figures[1].kb));
    std::printf("against the goals: time %.2f of 150 ms, memory %.2f of 40 MB\n", window_ms / 150.0,
                window_kb / 1024.0 / 40.0);
    return 0;
}
