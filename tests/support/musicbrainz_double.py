#!/usr/bin/env python3
"""A stand-in for the MusicBrainz web service (ws/2, JSON) on a local port.

Serves the releases in DATA (one JSON file per release, named by its id) as
the service does: a search by barcode or by artist and release title answers
{"releases": [...]} with each release's summary, a lookup answers the
release with its media and tracks. Like the service it refuses a request
without a User-Agent (403) and answers 503 to a client that asks more than
once a second. Every request is logged (time, path, agent, status) to LOG.

usage: musicbrainz_double.py PORT_FILE LOG DATA
"""
import json
import os
import re
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer

PORT_FILE, LOG, DATA = sys.argv[1:4]
LAST = {}


def releases():
    for name in sorted(os.listdir(DATA)):
        with open(os.path.join(DATA, name), encoding="utf-8") as f:
            yield json.load(f)


def credit(release):
    return "".join(a.get("name", "") + a.get("joinphrase", "") for a in release.get("artist-credit", []))


def summary(release):
    media = [{"format": m.get("format"), "track-count": len(m.get("tracks", []))}
             for m in release.get("media", [])]
    return {"id": release["id"], "score": 100, "title": release["title"],
            "date": release.get("date"), "country": release.get("country"),
            "barcode": release.get("barcode"), "artist-credit": release.get("artist-credit", []),
            "track-count": sum(m["track-count"] for m in media), "media": media}


def terms(query):
    return {k: v.replace('\\"', '"') for k, v in re.findall(r'(\w+):"((?:[^"\\]|\\.)*)"', query)}


class Service(BaseHTTPRequestHandler):
    def answer(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        with open(LOG, "a", encoding="utf-8") as log:
            log.write("%.3f\t%s\t%s\t%d\n" % (time.time(), self.path, self.headers.get("User-Agent", ""), status))

    def do_GET(self):
        agent = self.headers.get("User-Agent", "")
        now = time.monotonic()
        if not agent:
            return self.answer(403, {"error": "a User-Agent is required"})
        if now - LAST.get(agent, -10) < 1.0:
            return self.answer(503, {"error": "Your requests are exceeding the allowable rate limit."})
        LAST[agent] = now
        url = urllib.parse.urlparse(self.path)
        query = urllib.parse.parse_qs(url.query)
        if query.get("fmt") != ["json"]:
            return self.answer(400, {"error": "fmt=json is expected here"})
        if url.path in ("/ws/2/release/", "/ws/2/release"):
            want = terms(query.get("query", [""])[0])
            found = [summary(r) for r in releases()
                     if ("barcode" not in want or r.get("barcode") == want["barcode"])
                     and ("artist" not in want or want["artist"].lower() in credit(r).lower())
                     and ("release" not in want or want["release"].lower() in r["title"].lower())]
            return self.answer(200, {"created": "2026-12-10T00:00:00Z", "count": len(found),
                                     "offset": 0, "releases": found})
        match = re.fullmatch(r"/ws/2/release/([0-9a-f-]+)", url.path)
        if match:
            for r in releases():
                if r["id"] == match.group(1):
                    return self.answer(200, r)
            return self.answer(404, {"error": "Not Found"})
        return self.answer(404, {"error": "Not Found"})

    def log_message(self, *args):
        pass


server = HTTPServer(("127.0.0.1", 0), Service)
with open(PORT_FILE + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(PORT_FILE + ".tmp", PORT_FILE)
server.serve_forever()
