// Start-up benchmark: the time from process start to frmMain painted on the
// screen, and the resident memory at that moment.
//
//   startup_bench [runs]      under a desktop or xvfb-run; prints medians
//
// Each run starts this program again as a child, the clock read just before
// the spawn; the child starts exactly as vindrel does and reports the clock
// once the window has painted. A child that shows a bare QWidget instead is
// measured in the same way, as the floor that Qt itself sets.
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
#include <string>
#include <vector>

#include "app/qt/main_window.h"
#include "app/qt/startup.h"
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

// Reports the clock and memory after the first paint of `window` has ended.
class ShownProbe : public QObject {
public:
    explicit ShownProbe(QWidget& window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            QTimer::singleShot(0, [] {
                std::printf("%lld %ld\n", NowNs(), ResidentKb());
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
    QApplication app(argc, argv);
    if (bare) {
        QWidget window;
        ShownProbe probe(window);
        window.show();
        return app.exec();
    }
    // The same steps as vindrel's main().
    vindrel::ConfigureApplication(app);
    vindrel::QtSettingsStore settings;
    vindrel::MainWindow frmMain(settings, vindrel::ProductionBindings());
    ShownProbe probe(frmMain);
    frmMain.show();
    return app.exec();
}

struct Sample {
    double ms;
    long rss_kb;
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
    char buffer[128] = {};
    std::size_t used = 0;
    for (ssize_t n; used < sizeof buffer - 1; used += static_cast<std::size_t>(n)) {
        n = read(out[0], buffer + used, sizeof buffer - 1 - used);
        if (n <= 0) break;
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long shown = 0;
    long rss = 0;
    if (std::sscanf(buffer, "%lld %ld", &shown, &rss) != 2 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    sample = {(shown - start) / 1e6, rss};
    return true;
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

    char self[4096] = {};
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;

    std::printf("platform: %s, %d runs each\n",
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM")
                : std::getenv("DISPLAY")       ? "xcb"
                                               : "(default)",
                runs);
    double window_ms = 0;
    long window_kb = 0;
    for (const char* mode : {"vindrel", "bare"}) {
        std::vector<double> ms;
        std::vector<long> kb;
        for (int i = 0; i < runs; ++i) {
            Sample sample{};
            if (!SpawnOnce(self, mode, sample)) {
                std::fprintf(stderr, "startup_bench: the %s child failed\n", mode);
                return 1;
            }
            ms.push_back(sample.ms);
            kb.push_back(sample.rss_kb);
        }
        const double median_ms = Median(ms);
        const long median_kb = Median(kb);
        std::printf("%-8s shown after %7.1f ms (median; min %.1f, max %.1f), resident %6.1f MB\n",
                    mode, median_ms, *std::min_element(ms.begin(), ms.end()),
                    *std::max_element(ms.begin(), ms.end()), median_kb / 1024.0);
        if (std::strcmp(mode, "vindrel") == 0) {
            window_ms = median_ms;
            window_kb = median_kb;
        } else {
            std::printf("vindrel / bare QWidget: time %.2f, memory %.2f\n", window_ms / median_ms,
                        static_cast<double>(window_kb) / median_kb);
        }
    }
    std::printf("against the goals: time %.2f of 150 ms, memory %.2f of 40 MB\n", window_ms / 150.0,
                window_kb / 1024.0 / 40.0);
    return 0;
}
