#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets that read their input as choices (FuzzSupport's Input):
one file per interesting case, each spelled out below as the record it makes. The JSON and text seeds
are plain files in corpus/ and are not made here. Run from fuzz/: tools/make_seeds.py"""
import os, struct

KEYS = ["method", "params", "id", "error", "result", "code", "message",
        "type", "timestamp", "track", "context", "uri", "playback_speed", "position_as_of_timestamp",
        "duration", "is_active", "is_paused", "shuffle", "repeat", "restrictions", "volume_percentage",
        "name", "artist", "album", "image", "is_advertisement", "is_in_collection", "can_add_to_collection",
        "disallow_pausing", "disallow_resuming", "disallow_seeking", "disallow_skipping_prev",
        "disallow_skipping_next", "disallow_toggling_repeat_context", "disallow_toggling_repeat_track",
        "disallow_toggling_shuffle", "active_device_id", "is_local", "devices", "_count", "0", "1", "2",
        "device_id", "device_type", "volume", "is_self", "capabilities", "disable_volume", "connected",
        "logged_in", "web_account", "auth_code", "username"]
WORDS = ["true", "false", "True", "context", "track", "off", "1", "0", "2", "-1", "1700000000000",
         "playback_state_subscription", "login_state_subscription", "connect_active_device_subscription",
         "connection_state_changed", "corvana:track:1", "corvana:episode:12345", "https://i.example/c.jpg",
         "", "\xff", "\xed\xa0\x80", "\xc0\xaf", "\xe2\x82"]

def key(k): return bytes([KEYS.index(k)])
def word(w): return bytes([WORDS.index(w)])
def text(t): return b"\x00" + word(t) if False else word(t)
def raw(b): return bytes([200, len(b)]) + b  # choice >= 160: raw bytes of the given length

# MakeValue: kind byte % 6 (at depth > 0)
def s(w): return b"\x00" + (word(w) if w in WORDS else raw(w.encode()))
def b(v): return b"\x01" + bytes([1 if v else 0])
def i(v):
    if -1 <= v <= 3: return b"\x02" + bytes([v + 1])
    return b"\x02\xff" + struct.pack(">i", v)
def d(v): return b"\x03\x01" + struct.pack(">i", int(v * 1000))  # Double mode 1: I32 / 1000
def vs(*entries): return b"\x05" + valueset(*entries)
def valueset(*entries):
    out = bytes([len(entries)])
    for k, v in entries: out += key(k) + v
    return out

restrictions = vs(*[(k, b(False)) for k in KEYS[28:36]])
track = vs(("uri", s("corvana:track:1")), ("name", s("Song")), ("artist", s("Artist")), ("album", s("Album")),
           ("image", s("https://i.example/c.jpg")), ("is_advertisement", b(False)), ("is_in_collection", b(True)),
           ("can_add_to_collection", b(True)))
state = vs(("type", s("track")), ("timestamp", s("1700000000000")), ("track", track),
           ("context", vs(("uri", s("corvana:track:1")))), ("playback_speed", d(1.0)),
           ("position_as_of_timestamp", i(12000)), ("duration", i(180000)), ("is_active", b(True)),
           ("is_paused", b(False)), ("shuffle", b(False)), ("repeat", s("context")), ("restrictions", restrictions),
           ("volume_percentage", d(0.5)))
device = lambda n: vs(("device_id", s(str(n))), ("name", s("Kitchen")), ("device_type", s("Speaker")),
                      ("volume", i(40)), ("is_active", b(n == 0)), ("is_local", b(False)), ("is_self", b(False)),
                      ("capabilities", vs(("disable_volume", b(False)))))
cluster = vs(("active_device_id", s("0")), ("devices", vs(("_count", i(2)), ("0", device(0)), ("1", device(1)))))

records = {
    "playback-state-push": valueset(("method", s("playback_state_subscription")), ("params", state)),
    "playback-state-reply": valueset(("result", state)),
    "device-list-reply": valueset(("result", cluster)),
    "device-list-missing-second": valueset(("result", vs(("active_device_id", s("0")),
                                                        ("devices", vs(("_count", i(2)), ("0", device(0))))))),
    "device-list-huge-count": valueset(("result", vs(("active_device_id", s("0")),
                                                    ("devices", vs(("_count", i(2147483647))))))),
    "error-with-message": valueset(("error", vs(("code", i(-1)), ("message", s("no")))), ("result", state)),
    "error-without-code": valueset(("error", vs(("message", s("no"))))),
    "error-not-a-set": valueset(("error", s("true"))),
    "login-state-push": valueset(("method", s("login_state_subscription")),
                                 ("params", vs(("logged_in", b(True)), ("web_account", b(False))))),
    "connection-state-push": valueset(("method", s("connection_state_changed")), ("params", vs(("connected", s("True"))))),
    "active-device-push": valueset(("method", s("connect_active_device_subscription")),
                                   ("params", vs(("active_device_id", s("1")), ("is_local", b(True))))),
    "auth-code-reply": valueset(("result", vs(("auth_code", s("corvana:track:1"))))),
    "neither-error-nor-result": valueset(("id", s("1"))),
}

# The codec: shape byte, then a{sv} entries whose variant kind is byte % 14:
# 0 s, 1 b, 2 i, 3 d, 4 as, 5 x, 6 u, 7 y, 8 ay, 9 o, 10 a{ss}, 11 (is), 12 ai, 13 a{sv}
def cs(w): return b"\x00" + word(w)
def cb(v): return b"\x01" + bytes([v])
def ci(v): return b"\x02" + struct.pack(">i", v)
def cd(v): return b"\x03\x01" + struct.pack(">i", int(v * 1000))
def cas(*ws): return b"\x04" + bytes([len(ws)]) + b"".join(word(w) for w in ws)
def cset(*entries): return b"\x0d" + cvalueset(*entries)
def cvalueset(*entries):
    out = bytes([len(entries)])
    for k, v in entries: out += key(k) + v
    return out
limits = b"\x07\x07"
codec = {
    "six-kinds": b"\x10" + cvalueset(("method", cs("connection_state_changed")), ("shuffle", cb(1)),
                                     ("duration", ci(180000)), ("volume_percentage", cd(0.5)),
                                     ("uri", cas("corvana:track:1", "1")),
                                     ("params", cset(("connected", cs("true"))))) + limits,
    "int64-value": b"\x10" + cvalueset(("duration", b"\x05" + b"\x00" * 8)) + limits,
    "nested-deep": b"\x10" + b"\x01" + key("params") + (b"\x0d\x01" + key("params")) * 40 + b"\x00" + limits,
    "byte-array": b"\x10" + cvalueset(("image", b"\x08\x01\x02")) + limits,
    "not-a-dictionary": b"\x00",
    "over-the-limits": b"\x10" + cvalueset(*[(k, cs("1700000000000")) for k in KEYS[:19]]) + b"\x00\x00",
}

# bridge_events: case byte % 6 first (0 playbackState, 1 deviceList, 2 homeContent, 3 activeDevice,
# 4 displayState, 5 login/expanded); then MakePlaybackState's choices.
events = {
    "playback-state": b"\x00" + word("track") if False else b"\x00\x00" + word("1700000000000") + b"\x01" +
        b"".join(word(w) for w in ["corvana:track:1", "true", "true", "true", "https://i.example/c.jpg"]) +
        b"\x00\x01\x00" + b"\x01" + word("context") + b"\x01\x02" + b"\x01\x00\x01\x00\x00" +
        b"\x01\x00\x02\xbf\x20" + b"\x01\x01\x00\x00\x00\x01" + b"\x00" + b"\x02\x00" + b"\x01",
    "playback-state-nan-speed": b"\x00\x00" + word("1700000000000") + b"\x00\x00" + b"\x01\x02\x04" +
        b"\x01\x7f\x00\x00\x00" + b"\x01\x00\x00\x00\x10" + b"\x01\x00\x00\x00\x00\x00\x02\x02",
    "device-list": b"\x01" + word("0") + b"\x02" + word("0") + word("true") + b"\x02\x01\x32\x01\x00\x00\x00"
        + word("1") + word("\xff") + b"\x03\x00\x00\x00\x00\x00\x01\x01\x01\x01",
    "home-content": b"\x02\x01" + word("true") + b"\x01" + word("true") + b"\x00" + word("corvana:track:1") +
        b"\x01" + word("https://i.example/c.jpg") + b"\x00\x01" + word("\xed\xa0\x80") + b"\x00\x00",
    "active-device": b"\x03" + word("1") + b"\x01",
    "display-state": b"\x04\x01\x02\x0a",
    "login-and-expanded": b"\x05\x01",
}

# bridge_commands: per message a shape byte (< 200: command shape % 23, then whether an argument follows
# and its text choice; 200..249 raw bytes; >= 250 a message around the size limit).
COMMANDS = ["appReady", "launchCorvana", "openCorvana", "pausePlayback", "resumePlayback", "skipNext",
            "skipPrevious", "setShuffle:", "setRepeat:", "playContext:", "setVolume:", "requestDevices",
            "requestPlaybackState", "transferPlayback:", "likeTrack:", "unlikeTrack:", "setWidgetSize:",
            "setExpanded:", "seekForward15", "seekBackward15", "seekTo:", "requestHome", "startWindowMove"]
ARGS = ["true", "false", "expanded", "collapsed", "0", "0.5", "1", "1.0000001", "-0", "-0.0", "+1", ".5", "5.",
        "1e-3", "nan", "inf", "0x1", "2147483647", "2147483648", "-1", "9223372036854775808", "context",
        "track", "off", "corvana:album:1", "", " 1", "1 ", "\xff", "\xc0\x80", "\xed\xa0\x80", "a\0b"]
def cmd(c, a=None, pump=1):
    out = bytes([COMMANDS.index(c)])
    if a is None: return out + b"\x00" + bytes([pump])
    return out + b"\x01" + bytes([ARGS.index(a)]) + bytes([pump])
commands = {
    "ready-and-play": cmd("appReady") + cmd("playContext:", "corvana:album:1") + cmd("pausePlayback"),
    "volumes": b"".join(cmd("setVolume:", a) for a in ["0", "0.5", "1", "1.0000001", "-0", "-0.0", "+1", ".5", "nan", "inf", "0x1", "1e-3"]),
    "seeks": b"".join(cmd("seekTo:", a) for a in ["0", "-1", "2147483647", "2147483648", "9223372036854775808", "-0", " 1"]),
    "launch-flood": (cmd("launchCorvana") + cmd("openCorvana")) * 10,
    "resize-and-expand": cmd("setWidgetSize:", "expanded") + cmd("setExpanded:", "true") + cmd("setWidgetSize:", "collapsed"),
    "bad-text": cmd("transferPlayback:", "\xff") + cmd("likeTrack:", "a\0b") + cmd("setRepeat:", "\xed\xa0\x80"),
    "window-move-flood": cmd("startWindowMove") * 30,
    "near-size-limit": b"\xfa\x00\x01\xfa\x01\x01\xfa\x02\x01",
    "home": cmd("appReady") + cmd("requestHome") + cmd("requestDevices"),
}

def write(target, cases):
    os.makedirs(f"corpus/{target}", exist_ok=True)
    for name, data in cases.items():
        with open(f"corpus/{target}/{name}", "wb") as f: f.write(data if isinstance(data, bytes) else data.encode("latin-1"))

def enc(s): return s.encode("latin-1")
WORDS = [w for w in WORDS]
write("desktop_records", records)
write("valueset_codec", codec)
write("bridge_events", events)
write("bridge_commands", commands)
