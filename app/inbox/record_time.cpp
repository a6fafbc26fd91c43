// ISO 8601 times. Qt's own ISO format gives an empty string past 9999.
#include "app/inbox/record_time.h"

#include <QDateTime>
#include <QTimeZone>
#include <cstdlib>

namespace vindrel {
namespace {

QString Digits(long long value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

}  // namespace

QString IsoTime(qint64 received_ms, TimeBase base, bool with_ms)
{
    const QDateTime at = base == TimeBase::kUtc
                             ? QDateTime::fromMSecsSinceEpoch(received_ms, QTimeZone::utc())
                             : QDateTime::fromMSecsSinceEpoch(received_ms);
    const QDate date = at.date();
    const QTime time = at.time();
    const int year = date.year();
    QString text = year > 9999 ? QStringLiteral("+") + QString::number(year) : Digits(year, 4);
    text += QLatin1Char('-') + Digits(date.month(), 2) + QLatin1Char('-') + Digits(date.day(), 2) +
            QLatin1Char('T') + Digits(time.hour(), 2) + QLatin1Char(':') +
            Digits(time.minute(), 2) + QLatin1Char(':') + Digits(time.second(), 2);
    if (with_ms) text += QLatin1Char('.') + Digits(time.msec(), 3);
    const int offset = base == TimeBase::kUtc ? 0 : at.offsetFromUtc();
    if (offset == 0) return text + QLatin1Char('Z');
    const int minutes = std::abs(offset) / 60;
    return text + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) + Digits(minutes / 60, 2) +
           QLatin1Char(':') + Digits(minutes % 60, 2);
}

}  // namespace vindrel
