// Where this user's single-instance lock and socket live: a directory that
// only this user can enter, never a path another user could have made first.
#pragma once

#include <QString>
#include <optional>

namespace vindrel {

// Whether `dir` is a directory itself (not a link to one), owned by this
// process's user, that no one else may enter or write.
bool IsPrivateDir(const QString& dir);

// The first private one of: `runtime` ($XDG_RUNTIME_DIR), `temp`/
// vindrel-inbox-UID, `cache`/vindrel-inbox (each made 0700 when missing).
// None when no candidate is private; `why` then says what was wrong.
std::optional<QString> InstanceDir(const QString& runtime, const QString& temp,
                                   const QString& cache, QString& why);

}  // namespace vindrel
