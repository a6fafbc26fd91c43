// vindrel-inbox: shows the messages that arrive in the spool, one instance
// per user, started at login (see inbox_program.h).
#include "app/inbox/inbox_program.h"

int main(int argc, char* argv[])
{
    return vindrel::RunInbox(argc, argv, nullptr);
}
