#!/usr/bin/env python3
"""Checks a merged log written as JSON lines against the Apache logs it was merged from.

Usage: check_json.py MERGED.json INPUT.log...

Every line must parse with Python's json module, hold only the documented keys, and the
entries must equal those of the inputs (combined or vhost_combined lines), field by field.
A byte that is not UTF-8 reads as its Latin-1 character, as the writer documents. Prints the
number of entries checked; exits 1 with the differences otherwise.
"""
import codecs
import json
import re
import sys

KEYS = ["time", "client", "user", "method", "path", "query", "protocol", "status", "bytes",
        "duration_ms", "vhost", "referer", "agent", "cookie", "source"]

codecs.register_error("latin1", lambda e: (e.object[e.start:e.end].decode("latin-1"), e.end))

LINE = re.compile(
    rb'^(?:(?P<vhost>\S+) )?(?P<client>\S+) \S+ (?P<user>\S+) \[(?P<day>\d\d)/(?P<mon>\w{3})/'
    rb'(?P<year>\d{4}):(?P<clock>\d\d:\d\d:\d\d) (?P<sign>[-+])(?P<oh>\d\d)(?P<om>\d\d)\] '
    rb'"(?P<request>(?:[^"\\]|\\.)*)" (?P<status>\d{3}) (?P<bytes>\d+|-) '
    rb'"(?P<referer>(?:[^"\\]|\\.)*)" "(?P<agent>(?:[^"\\]|\\.)*)"$')
MONTHS = {m: i + 1 for i, m in enumerate(
    ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"])}


def text(raw):
    """A field as read: Apache's escapes undone, '-' absent."""
    value = re.sub(rb'\\(.)', rb'\1', raw).decode("utf-8", "latin1")
    return None if value in ("", "-") else value


def entry(line):
    m = LINE.match(line)
    if not m:
        raise ValueError("not a combined line: %r" % line)
    fields = {
        "time": "%s-%02d-%sT%s.000%s%s:%s" % (
            m["year"].decode(), MONTHS[m["mon"].decode()], m["day"].decode(), m["clock"].decode(),
            m["sign"].decode(), m["oh"].decode(), m["om"].decode()),
        "client": text(m["client"]),
        "user": text(m["user"]),
        "status": int(m["status"]),
        "bytes": None if m["bytes"] == b"-" else int(m["bytes"]),
        "vhost": text(m["vhost"]) if m["vhost"] else None,
        "referer": text(m["referer"]),
        "agent": text(m["agent"]),
    }
    request = text(m["request"])
    if request is not None:
        method, url, protocol = request.split(" ")
        path, _, query = url.partition("?")
        fields.update(method=method, path=path, query=query or None, protocol=protocol)
    return {k: v for k, v in fields.items() if v is not None}


def main():
    merged, inputs = sys.argv[1], sys.argv[2:]
    problems = []
    written = []
    with open(merged, "rb") as f:
        for number, raw in enumerate(f, 1):
            try:
                record = json.loads(raw.decode("utf-8"))
            except (UnicodeDecodeError, json.JSONDecodeError) as error:
                problems.append("line %d does not parse: %s" % (number, error))
                continue
            unknown = set(record) - set(KEYS)
            if unknown:
                problems.append("line %d has unknown keys %s" % (number, sorted(unknown)))
            if list(record) != [k for k in KEYS if k in record]:
                problems.append("line %d has its keys out of order" % number)
            if any(v is None for v in record.values()):
                problems.append("line %d holds null" % number)
            written.append(record)
    expected = []
    for path in inputs:
        with open(path, "rb") as f:
            expected += [entry(line.rstrip(b"\n")) for line in f if line.strip()]
    key = lambda r: json.dumps(r, sort_keys=True)
    for record in sorted(written, key=key):
        if record not in expected:
            problems.append("written but not in the inputs: %s" % key(record))
    for record in sorted(expected, key=key):
        if record not in written:
            problems.append("in the inputs but not written: %s" % key(record))
    if len(written) != len(expected):
        problems.append("%d entries written, %d in the inputs" % (len(written), len(expected)))
    # One offset in the fixtures: the stamps compare as text.
    times = [r["time"] for r in written]
    if times != sorted(times):
        problems.append("the entries are not in time order")
    if problems:
        print("\n".join(problems))
        return 1
    print("%d entries checked" % len(written))
    return 0


if __name__ == "__main__":
    sys.exit(main())
