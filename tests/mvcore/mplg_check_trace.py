#!/usr/bin/env python3
"""Checks a Chrome Trace Event file written by `mplg trace`: it must parse as JSON and its events must
pair up the way Perfetto and chrome://tracing expect. Usage: mplg_check_trace.py TRACE.json THREAD_NAME"""
import json
import sys


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        trace = json.load(f)
    events = trace["traceEvents"]
    assert isinstance(events, list) and events, "no events"
    open_ranges = {}
    async_open = set()
    last_ts = {}
    kinds = set()
    thread_names = set()
    for event in events:
        ph = event["ph"]
        kinds.add(ph)
        assert "pid" in event, event
        if ph == "M":
            if event["name"] == "thread_name":
                thread_names.add(event["args"]["name"])
            continue
        ts = event["ts"]
        assert isinstance(ts, (int, float)) and ts >= 0, event
        if ph in "BE":
            tid = event["tid"]
            assert ts >= last_ts.get(tid, 0), ("time goes back", event)
            last_ts[tid] = ts
            depth = open_ranges.get(tid, 0) + (1 if ph == "B" else -1)
            assert depth >= 0, ("E without B", event)
            open_ranges[tid] = depth
        elif ph == "b":
            async_open.add(event["id"])
        elif ph == "e":
            assert event["id"] in async_open, ("e without b", event)
            async_open.remove(event["id"])
        elif ph == "C":
            assert isinstance(event["args"]["value"], (int, float)), event
        elif ph == "i":
            assert event["name"] == "Tick"
        else:
            raise AssertionError("unexpected phase " + ph)
    assert all(depth == 0 for depth in open_ranges.values()), open_ranges
    assert not async_open, async_open
    assert set("MBEbeCi") <= kinds, kinds
    assert sys.argv[2] in thread_names, thread_names
    print("trace ok:", len(events), "events")


if __name__ == "__main__":
    main()
