#!/usr/bin/python3
# The GStreamer peer of oggbench seek: flushing seeks in one process (filesrc ! oggdemux ! fakesink per
# stream, behind a queue), each timed from the seek call to the pipeline's preroll (ASYNC_DONE), with the bytes and reads
# filesrc delivered. Usage: gst_seek.py FILE COUNT SEED
import random
import sys
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402


def main():
    path, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    Gst.init(None)
    pipeline = Gst.parse_launch(f'filesrc name=src location="{path}" ! oggdemux name=demux')
    demux = pipeline.get_by_name("demux")

    # A queue per stream: each fakesink prerolls on its own thread (one streaming thread would block on the
    # first sink's preroll and never feed the others).
    def pad_added(_, pad):
        queue = Gst.ElementFactory.make("queue")
        sink = Gst.ElementFactory.make("fakesink")
        sink.set_property("sync", False)
        pipeline.add(queue)
        pipeline.add(sink)
        queue.link(sink)
        sink.sync_state_with_parent()
        queue.sync_state_with_parent()
        pad.link(queue.get_static_pad("sink"))

    demux.connect("pad-added", pad_added)
    no_more = []
    demux.connect("no-more-pads", lambda _: no_more.append(True))
    counted = {"bytes": 0, "reads": 0}

    def probe(_, info):
        counted["bytes"] += info.get_buffer().get_size()
        counted["reads"] += 1
        return Gst.PadProbeReturn.OK

    pipeline.get_by_name("src").get_static_pad("src").add_probe(Gst.PadProbeType.BUFFER, probe)
    bus = pipeline.get_bus()

    def wait_preroll():
        while True:
            msg = bus.timed_pop_filtered(30 * Gst.SECOND, Gst.MessageType.ASYNC_DONE | Gst.MessageType.ERROR)
            if msg is None or msg.type == Gst.MessageType.ERROR:
                raise SystemExit(f"gst_seek: {path}: no preroll")
            return

    # The first preroll: the sinks come with the demuxer's pads, after the state change has returned.
    pipeline.set_state(Gst.State.PAUSED)
    deadline = time.perf_counter() + 30
    while not no_more and time.perf_counter() < deadline:
        bus.timed_pop(10 * Gst.MSECOND)
    if pipeline.get_state(30 * Gst.SECOND)[0] != Gst.StateChangeReturn.SUCCESS:
        raise SystemExit(f"gst_seek: {path}: no preroll")
    ok, duration = pipeline.query_duration(Gst.Format.TIME)
    if not ok or duration <= 0:
        raise SystemExit(f"gst_seek: {path}: no duration")
    rng = random.Random(seed)
    times, total_bytes, total_reads = [], 0, 0
    for _ in range(count):
        target = 1 + rng.randrange(duration - 1)
        before = dict(counted)
        t0 = time.perf_counter()
        pipeline.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.KEY_UNIT, target)
        wait_preroll()
        times.append((time.perf_counter() - t0) * 1000)
        total_bytes += counted["bytes"] - before["bytes"]
        total_reads += counted["reads"] - before["reads"]
    pipeline.set_state(Gst.State.NULL)
    times.sort()
    print(f"seek {path}: {count} seeks, median {times[len(times) // 2]:.3f} ms, worst {times[-1]:.3f} ms, "
          f"{total_bytes / count:.0f} bytes/seek, {total_reads / count:.1f} reads/seek")


main()
