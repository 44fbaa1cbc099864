"""The time-zone list, made from the system's time-zone database (tzdata).

The list has a fixed size: after the zones come their changes of offset in
time order, as many as fit, and a closing comment fills the rest.
"""

import datetime
import os
import zoneinfo

FIRST_YEAR = 2020
LAST_YEAR = 2045
_WEEK = 7 * 24 * 3600
_CLOSING = "# end of list "


class TimeZoneError(Exception):
    pass


def _zone_table(zoneinfo_dir):
    """(zone, country, coordinates, description) of every zone, sorted by zone."""
    rows = []
    path = os.path.join(zoneinfo_dir, "zone.tab")
    try:
        with open(path, encoding="utf-8") as table:
            for line in table:
                if line.startswith("#") or not line.strip():
                    continue
                fields = line.rstrip("\n").split("\t")
                rows.append((fields[2], fields[0], fields[1], fields[3] if len(fields) > 3 else ""))
    except OSError as error:
        raise TimeZoneError("cannot read the time-zone table %s: %s (is tzdata installed?)"
                            % (path, error.strerror)) from None
    return sorted(rows)


def _version(zoneinfo_dir):
    try:
        with open(os.path.join(zoneinfo_dir, "tzdata.zi"), encoding="utf-8") as data:
            first = data.readline().split()
        return first[2] if first[:2] == ["#", "version"] else "unknown"
    except OSError:
        return "unknown"


def _offset(delta):
    seconds = int(delta.total_seconds())
    sign = "-" if seconds < 0 else "+"
    hours, rest = divmod(abs(seconds), 3600)
    minutes, seconds = divmod(rest, 60)
    text = "%s%02d:%02d" % (sign, hours, minutes)
    return text + (":%02d" % seconds if seconds else "")


def _state(zone, instant):
    local = datetime.datetime.fromtimestamp(instant, zone)
    return local.utcoffset(), local.tzname(), bool(local.dst())


def _changes(zone):
    """(instant, state) of every change of offset or abbreviation in the years covered."""
    start = int(datetime.datetime(FIRST_YEAR, 1, 1, tzinfo=datetime.timezone.utc).timestamp())
    end = int(datetime.datetime(LAST_YEAR + 1, 1, 1, tzinfo=datetime.timezone.utc).timestamp())
    changes = []
    before = _state(zone, start)
    # Weekly samples, then bisection to the second; no zone changes twice in a week.
    for t in range(start + _WEEK, end + _WEEK, _WEEK):
        after = _state(zone, t)
        if after == before:
            continue
        low, high = t - _WEEK, t
        while high - low > 1:
            middle = (low + high) // 2
            if _state(zone, middle) == before:
                low = middle
            else:
                high = middle
        changes.append((high, after))
        before = after
    return changes


def timezone_list(size, zoneinfo_dir="/usr/share/zoneinfo"):
    """The list as text of exactly `size` bytes (UTF-8)."""
    rows = _zone_table(zoneinfo_dir)
    lines = ["# Time zones of the tz database, version %s.\n" % _version(zoneinfo_dir),
             "# zone\tcountry\tcoordinates\tUTC offset on 1 January %d\tabbreviation\t"
             "description\n" % FIRST_YEAR]
    changes = []
    reference = datetime.datetime(FIRST_YEAR, 1, 1, tzinfo=datetime.timezone.utc).timestamp()
    for name, country, coordinates, description in rows:
        try:
            zone = zoneinfo.ZoneInfo(name)
        except (zoneinfo.ZoneInfoNotFoundError, ValueError) as error:
            raise TimeZoneError("zone %s of the table is missing: %s" % (name, error)) from None
        offset, abbreviation, _ = _state(zone, reference)
        lines.append("%s\t%s\t%s\t%s\t%s\t%s\n" % (name, country, coordinates, _offset(offset),
                                                   abbreviation, description))
        changes += [(instant, name, state) for instant, state in _changes(zone)]
    lines.append("# Changes of offset from %d on, in time order:\n" % FIRST_YEAR)
    lines.append("# UTC time\tzone\tnew UTC offset\tabbreviation\tstandard or daylight time\n")
    used = sum(len(line.encode("utf-8")) for line in lines)
    room = size - len(_CLOSING) - 1
    if used > room:
        raise TimeZoneError("the zones alone take %d bytes, more than %d" % (used, size))
    for instant, name, (offset, abbreviation, dst) in sorted(changes):
        when = datetime.datetime.fromtimestamp(instant, datetime.timezone.utc)
        line = "%s\t%s\t%s\t%s\t%s\n" % (when.strftime("%Y-%m-%dT%H:%M:%SZ"), name,
                                         _offset(offset), abbreviation,
                                         "daylight" if dst else "standard")
        if used + len(line) > room:
            break
        lines.append(line)
        used += len(line)
    else:
        raise TimeZoneError("the changes up to %d fill only %d of %d bytes" % (LAST_YEAR, used, size))
    lines.append(_CLOSING + "=" * (size - used - len(_CLOSING) - 1) + "\n")
    text = "".join(lines)
    assert len(text.encode("utf-8")) == size
    return text
