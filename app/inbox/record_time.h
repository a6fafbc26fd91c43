// A record's time as ISO 8601 text, for scripts: any year a record can
// hold, not only 0000 to 9999.
#pragma once

#include <QString>

namespace vindrel {

enum class TimeBase { kUtc, kLocal };

// "2026-11-29T10:05:00Z" (kUtc) or with the local offset ("+01:00").
// `with_ms` adds the milliseconds. Years past 9999 take a sign
// ("+10000-01-01T..."), ISO 8601's expanded form.
QString IsoTime(qint64 received_ms, TimeBase base, bool with_ms = false);

}  // namespace vindrel
