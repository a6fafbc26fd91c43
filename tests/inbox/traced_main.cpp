// vindrel-inbox-traced: vindrel-inbox itself, writing what it shows to the
// file named by VINDREL_INBOX_TRACE (see trace_observer.h), for the desktop
// and end-to-end tests and the benchmark.
#include <QtGlobal>

#include "app/inbox/inbox_program.h"
#include "tests/inbox/trace_observer.h"

int main(int argc, char* argv[])
{
    vindrel::TraceObserver trace(qEnvironmentVariable("VINDREL_INBOX_TRACE"));
    return vindrel::RunInbox(argc, argv, &trace);
}
