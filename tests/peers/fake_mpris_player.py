#!/usr/bin/python3
"""A fake MPRIS player for the cases a real player cannot produce.

It owns org.mpris.MediaPlayer2.NAME on the session bus, serves both MPRIS interfaces from a property table
it is started with, and prints one line per call it receives ("CALL Pause", "SET Shuffle True"). Commands
on standard input, one per line, change it while it runs:

  set PROPERTY JSON          change a Player property and announce it (PropertiesChanged)
  metadata JSON              replace Metadata (values as JSON; see --metadata) and announce it
  flood COUNT                announce COUNT Volume changes as fast as it can, then print FLOODED
  seeked US                  emit Seeked
  invalidate COUNT PROPERTY  announce COUNT times that PROPERTY changed without its value (invalidated)
  quit-on METHOD             exit without answering when METHOD is next called
  hang-on METHOD             never answer METHOD (GET: the reading of one property)
  quit                       exit

It prints READY once it owns its name.
"""
import argparse
import json
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

ROOT = "org.mpris.MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"
PROPERTIES = "org.freedesktop.DBus.Properties"


def typed_metadata(table):
    """Metadata from JSON, with the D-Bus types the keys name: "i:" int32, "s:" text, "o:" object path."""
    out = {}
    for key, value in table.items():
        kind, _, name = key.partition(":") if key[:2] in ("i:", "s:", "o:", "x:") else ("", "", key)
        if kind == "i":
            out[name] = dbus.Int32(value)
        elif kind == "s":
            out[name] = dbus.String(value)
        elif kind == "o":
            out[name] = dbus.ObjectPath(value)
        elif kind == "x" or name == "mpris:length":
            out[name] = dbus.Int64(value)
        elif name == "mpris:trackid":
            out[name] = dbus.ObjectPath(value)
        elif isinstance(value, list):
            out[name] = dbus.Array(value, signature="s")
        else:
            out[name] = value
    return dbus.Dictionary(out, signature="sv")


def player_value(name, value):
    if name in ("Rate", "Volume"):
        return dbus.Double(value)
    if name == "Position":
        return dbus.Int64(value)
    if isinstance(value, bool):
        return dbus.Boolean(value)
    return value


class Player(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, "/org/mpris/MediaPlayer2")
        self.root = {"Identity": args.identity, "CanQuit": False, "CanRaise": False, "HasTrackList": False,
                     "SupportedUriSchemes": dbus.Array(args.schemes, signature="s"),
                     "SupportedMimeTypes": dbus.Array([], signature="s")}
        self.player = {"PlaybackStatus": args.status, "LoopStatus": "None", "Rate": dbus.Double(1.0),
                       "Shuffle": False, "Volume": dbus.Double(1.0), "Position": dbus.Int64(args.position),
                       "CanGoNext": True, "CanGoPrevious": True, "CanPlay": True, "CanPause": True,
                       "CanSeek": True, "CanControl": True,
                       "Metadata": typed_metadata(json.loads(args.metadata))}
        for entry in args.prop:
            name, _, value = entry.partition("=")
            self.player[name] = player_value(name, json.loads(value))
        self.quit_on = set()
        self.hang_on = set()
        self.hung = []
        self.unanswered_reads = args.unanswered_reads

    def record(self, line):
        print(line, flush=True)

    def call(self, method, reply, *args):
        self.record(("" if method == "GET" else "CALL ") + method + "".join(" " + str(a) for a in args))
        if method in self.quit_on:
            os._exit(0)
        if method in self.hang_on:
            self.hung.append(reply)
            return
        reply()

    def announce(self, changed):
        self.PropertiesChanged(PLAYER, changed, dbus.Array([], signature="s"))

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v", async_callbacks=("ok", "err"))
    def Get(self, interface, name, ok, err):
        table = self.root if interface == ROOT else self.player
        if name not in table:
            self.record("GET " + name)
            err(dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs"))
            return
        self.call("GET", lambda: ok(table[name]), name)

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}", async_callbacks=("ok", "err"))
    def GetAll(self, interface, ok, err):
        if interface == PLAYER and self.unanswered_reads > 0:
            self.unanswered_reads -= 1
            self.record("UNANSWERED GetAll")
            return
        ok(dbus.Dictionary(self.root if interface == ROOT else self.player, signature="sv"))

    @dbus.service.method(PROPERTIES, in_signature="ssv", out_signature="", async_callbacks=("ok", "err"))
    def Set(self, interface, name, value, ok, err):
        self.record("SET %s %s" % (name, value))
        self.player[name] = value
        self.announce({name: value})
        ok()

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.signal(PLAYER, signature="x")
    def Seeked(self, position):
        pass

    def _simple(name):
        @dbus.service.method(PLAYER, in_signature="", out_signature="", async_callbacks=("ok", "err"))
        def method(self, ok, err):
            self.call(name, ok)
        method.__name__ = name
        return method

    Play = _simple("Play")
    Pause = _simple("Pause")
    Next = _simple("Next")
    Previous = _simple("Previous")

    @dbus.service.method(PLAYER, in_signature="x", out_signature="", async_callbacks=("ok", "err"))
    def Seek(self, offset, ok, err):
        self.call("Seek", ok, int(offset))

    @dbus.service.method(PLAYER, in_signature="ox", out_signature="", async_callbacks=("ok", "err"))
    def SetPosition(self, track, position, ok, err):
        self.call("SetPosition", ok, str(track), int(position))

    @dbus.service.method(PLAYER, in_signature="s", out_signature="", async_callbacks=("ok", "err"))
    def OpenUri(self, uri, ok, err):
        self.call("OpenUri", ok, str(uri))

    def command(self, line):
        word, _, rest = line.strip().partition(" ")
        if word == "set":
            name, _, value = rest.partition(" ")
            self.player[name] = player_value(name, json.loads(value))
            self.announce({name: self.player[name]})
        elif word == "metadata":
            self.player["Metadata"] = typed_metadata(json.loads(rest))
            self.announce({"Metadata": self.player["Metadata"]})
        elif word == "flood":
            for i in range(int(rest)):
                self.announce({"Volume": dbus.Double((i % 100) / 100.0)})
            self.record("FLOODED")
        elif word == "invalidate":
            count, _, name = rest.partition(" ")
            for i in range(int(count)):
                self.PropertiesChanged(PLAYER, dbus.Dictionary({}, signature="sv"), dbus.Array([name], signature="s"))
        elif word == "seeked":
            self.player["Position"] = dbus.Int64(int(rest))
            self.Seeked(dbus.Int64(int(rest)))
        elif word == "quit-on":
            self.quit_on.add(rest)
        elif word == "hang-on":
            self.hang_on.add(rest)
        elif word == "quit":
            os._exit(0)
        self.record("OK " + word)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", default="fake")
    parser.add_argument("--identity", default="Fake Player")
    parser.add_argument("--status", default="Playing")
    parser.add_argument("--position", type=int, default=0)
    parser.add_argument("--schemes", nargs="*", default=["file"])
    parser.add_argument("--metadata", default=json.dumps(
        {"mpris:trackid": "/fake/1", "xesam:title": "Fake Song", "xesam:artist": ["Fake Artist"],
         "xesam:album": "Fake Album", "mpris:length": 200000000}))
    parser.add_argument("--prop", action="append", default=[], help="NAME=JSON, a Player property")
    parser.add_argument("--unanswered-reads", type=int, default=0,
                        help="how many reads of all Player properties go unanswered first")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    player = Player(bus, args)
    name = dbus.service.BusName("org.mpris.MediaPlayer2." + args.name, bus, do_not_queue=True)

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            os._exit(0)
        player.command(line)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    print("READY", name.get_name(), flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
