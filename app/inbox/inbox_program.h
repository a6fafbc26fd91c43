// vindrel-inbox as a program: its command line, its one instance per user,
// its window loop. Shared by the program and the tests' build of it.
#pragma once

namespace vindrel {

class InboxObserver;

// What main() returns. `observer` (none: nullptr) is told what is shown.
int RunInbox(int argc, char* argv[], InboxObserver* observer);

}  // namespace vindrel
