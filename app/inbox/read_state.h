// What one user has done with the shared spool's messages, as the inbox
// keeps it while it runs: read, deleted and the refusals told about (the
// file's format and reading are receive/read_state.h's).
#pragma once

#include <QSet>
#include <QString>
#include <cstdint>

namespace vindrel {

class ReadState {
public:
    // `file` need not exist yet; a damaged file is read as far as it is sound.
    explicit ReadState(QString file);

    bool IsRead(const QString& id) const { return read_.contains(id); }
    bool IsDeleted(const QString& id) const { return deleted_.contains(id); }
    std::uint64_t RefusalsSeen() const { return refusals_seen_; }

    void SetRead(const QString& id, bool read);
    void SetDeleted(const QString& id, bool deleted = true);
    void SetRefusalsSeen(std::uint64_t count);
    // Forgets messages no longer in the spool, so the file stays small.
    void KeepOnly(const QSet<QString>& ids);

    // Writes the file whole (or not at all). False when it could not.
    bool Save() const;

private:
    QString file_;
    QSet<QString> read_;
    QSet<QString> deleted_;
    std::uint64_t refusals_seen_ = 0;
};

}  // namespace vindrel
