#!/usr/bin/env python3
"""Writes a reproducible benchmark corpus of time-sorted NCSA combined logs.

Usage: make_corpus.py DIR [--files N] [--lines M] [--seed S]
Every file covers the same days, so the entries of the files interleave in time.
"""
import argparse
import os
import random

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
PATHS = ["/", "/index.html", "/images/logo.gif", "/css/site.css", "/products/list.php",
         "/search", "/about/team.html", "/download/file-1.2.tar.gz", "/blog/2001/03/05/post.html"]
AGENTS = ["Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)",
          "Mozilla/5.0 (X11; U; Linux i686; en-US; rv:0.9.4) Gecko/20011019",
          "Googlebot/2.1 (+http://www.googlebot.com/bot.html)",
          "Lynx/2.8.4rel.1 libwww-FM/2.14"]
REFERERS = ["-", "http://www.example.com/", "http://search.example.org/q?x=logs+merge",
            "http://www.example.net/links.html"]


def write_log(path, lines, rng, server):
    seconds = 0
    with open(path, "w", newline="\n") as out:
        for _ in range(lines):
            seconds += rng.randint(0, 3)
            day, rest = divmod(seconds, 86400)
            hour, rest = divmod(rest, 3600)
            minute, second = divmod(rest, 60)
            day = 1 + day % 28
            host = "10.%d.%d.%d" % (server, rng.randint(0, 255), rng.randint(1, 254))
            path_ = rng.choice(PATHS)
            if rng.random() < 0.2:
                path_ += "?id=%d&q=a+b" % rng.randint(1, 9999)
            out.write('%s - - [%02d/%s/2001:%02d:%02d:%02d -0500] "GET %s HTTP/1.0" %d %d "%s" "%s"\n' % (
                host, day, MONTHS[2], hour, minute, second, path_,
                rng.choice([200, 200, 200, 304, 404]), rng.randint(0, 60000),
                rng.choice(REFERERS), rng.choice(AGENTS)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--files", type=int, default=4)
    parser.add_argument("--lines", type=int, default=250000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    for i in range(args.files):
        rng = random.Random(args.seed * 1000 + i)
        write_log(os.path.join(args.dir, "access%03d.log" % i), args.lines, rng, i)


if __name__ == "__main__":
    main()
