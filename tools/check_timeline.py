"""Checks a katr_box timeline: it parses as JSON, every begin has its end on
its thread in order, times never go back on a thread, every thread is named,
and the texts expected are there. Arguments: FILE.json TEXT..."""
import json
import sys

events = json.load(open(sys.argv[1], encoding="utf-8"))["traceEvents"]
stacks, last, named = {}, {}, set()
for e in events:
    tid = e["tid"]
    if e["ph"] == "M":
        named.add(tid)
        continue
    assert e["ts"] >= last.get(tid, 0), e
    last[tid] = e["ts"]
    if e["ph"] == "B":
        stacks.setdefault(tid, []).append(e["name"])
    elif e["ph"] == "E":
        assert stacks.get(tid) and stacks[tid].pop() == e["name"], e
assert all(not s for s in stacks.values()), stacks
assert named == set(last), (named, last)
names = [e["name"] for e in events] + [e.get("args", {}).get("name", "") for e in events]
for text in sys.argv[2:]:
    assert any(text in n for n in names), text
print("timeline ok:", len(events), "events")
