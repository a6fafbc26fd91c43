// The history window, measured: how long a history of 1,000 messages takes
// to open (the spool's records read, then the window built and on the
// screen), and how long each keystroke in its search box takes over 10,000
// messages, from the key to the list laid out and drawn again. Run under a
// real X server (xvfb-run) or offscreen; it reports, it does not judge.
//   history_bench [MESSAGES] [SEARCHED]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/inbox/inbox_app.h"
#include "receive/spool_dir.h"

namespace {

// Records written straight into the spool, past its own limit where asked
// to, as a writer that ignores it would: the inbox reads what it is told to.
bool Fill(const QString& spool, int count)
{
    QDir().mkpath(spool);
    for (int i = 0; i < count; ++i) {
        const vindrel::spool::Record record{
            1'796'000'000'000 + i * 1000LL, "SENDER" + std::to_string(i % 40), "DESK7",
            "Message number " + std::to_string(i) + " with a line of ordinary text\nand a second"};
        QFile file(spool + QStringLiteral("/%1-1-%2.msg")
                               .arg(record.received_ms)
                               .arg(i, 8, 16, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly)) return false;
        file.write(QByteArray::fromStdString(vindrel::spool::EncodeRecord(record)));
    }
    return true;
}

void ShowAndWait(vindrel::InboxApp& inbox)
{
    inbox.ShowHistory();
    while (!inbox.history()->windowHandle() || !inbox.history()->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int searched = argc > 2 ? std::atoi(argv[2]) : 10'000;
    QTemporaryDir dir;
    if (!Fill(dir.path() + "/spool", count) || !Fill(dir.path() + "/big", searched)) {
        std::fprintf(stderr, "history_bench: cannot fill %s\n", qPrintable(dir.path()));
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    {
        vindrel::InboxApp inbox(dir.path() + "/spool", dir.path() + "/state", vindrel::Bindings{});
        const double loaded_ms = clock.nsecsElapsed() / 1e6;
        ShowAndWait(inbox);
        const double shown_ms = clock.nsecsElapsed() / 1e6;
        std::printf("history of %d messages: records read in %.1f ms, window shown after %.1f ms\n",
                    count, loaded_ms, shown_ms);
    }

    vindrel::InboxApp inbox(dir.path() + "/big", dir.path() + "/state", vindrel::Bindings{},
                            nullptr, static_cast<std::size_t>(searched));
    ShowAndWait(inbox);
    // A sender typed and taken back, one key at a time: every key filters
    // all the messages again.
    const QString typed = QStringLiteral("sender17");
    std::vector<double> keys;
    for (int step = 1; step <= 2 * typed.size(); ++step) {
        const qsizetype length = step <= typed.size() ? step : 2 * typed.size() - step;
        clock.start();
        inbox.history()->search()->setText(typed.left(length));
        QCoreApplication::processEvents();
        keys.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(keys.begin(), keys.end());
    std::printf("search over %d messages: per keystroke median %.1f ms, max %.1f ms (%zu keys)\n",
                searched, keys[keys.size() / 2], keys.back(), keys.size());
    return 0;
}
