// How long a history of 1,000 messages takes to open: reading the spool's
// records, then the window built and on the screen. Run under a real X
// server (xvfb-run) or offscreen; it reports, it does not judge.
//   history_bench [MESSAGES]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

#include "app/inbox/inbox_app.h"
#include "app/spool/spool_dir.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    QTemporaryDir dir;
    const QString spool = dir.path() + "/spool";
    QDir().mkpath(spool);
    for (int i = 0; i < count; ++i) {
        const vindrel::spool::Record record{
            1'796'000'000'000 + i * 1000LL, "SENDER" + std::to_string(i % 40), "DESK7",
            "Message number " + std::to_string(i) + " with a line of ordinary text\nand a second"};
        if (vindrel::spool::StoreRecord(spool.toStdString(), record).error !=
            vindrel::spool::StoreError::kNone) {
            std::fprintf(stderr, "history_bench: cannot fill %s\n", qPrintable(spool));
            return 1;
        }
    }

    QElapsedTimer clock;
    clock.start();
    vindrel::InboxApp inbox(spool, dir.path() + "/state", vindrel::Bindings{});
    const double loaded_ms = clock.nsecsElapsed() / 1e6;
    inbox.ShowHistory();
    while (!inbox.history()->windowHandle() || !inbox.history()->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    const double shown_ms = clock.nsecsElapsed() / 1e6;
    std::printf("history of %d messages: records read in %.1f ms, window shown after %.1f ms\n",
                count, loaded_ms, shown_ms);
    return 0;
}
