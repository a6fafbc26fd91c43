// vindrel-inbox --list.
#include "app/inbox/list_command.h"

#include <QDateTime>
#include <sys/stat.h>

#include "app/inbox/history_window.h"
#include "app/spool/spool_dir.h"

namespace vindrel {

int ListMessages(const std::string& spool, std::FILE* out, std::FILE* err)
{
    struct stat st{};
    if (stat(spool.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(err, "vindrel-inbox: no spool at %s\n", spool.c_str());
        return 1;
    }
    const auto names = spool::ListRecordNames(spool);
    if (!names) {
        std::fprintf(err, "vindrel-inbox: cannot list the spool %s\n", spool.c_str());
        return 1;
    }
    bool first = true;
    for (const std::string& name : *names) {
        spool::Record record;
        if (spool::ReadRecord(spool, name, record) != spool::RecordError::kNone) continue;
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(record.received_ms);
        const QByteArray time =
            local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate).toUtf8();
        std::fprintf(out, "%s%s from %s to %s\n%s\n", first ? "" : "\n", time.constData(),
                     record.from.c_str(), record.to.c_str(), record.text.c_str());
        first = false;
    }
    if (const std::uint64_t refused = spool::RefusedCount(spool))
        std::fprintf(err, "%s\n",
                     RefusalNotice(refused).toUtf8().constData());
    return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace vindrel
