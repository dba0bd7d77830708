#!/usr/bin/env python3
"""wayland_first_frame.py's reading of WAYLAND_DEBUG logs: which done event
ends a run, and how long after the spawn it came."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wayland_first_frame as probe  # noqa: E402

START_US = 5000000
SETUP = """\
[   5000.100]  -> wl_compositor@4.create_surface(new id wl_surface@3)
[   5000.200]  -> xdg_wm_base@7.get_xdg_surface(new id xdg_surface@8, wl_surface@3)
[   5000.300]  -> xdg_surface@8.get_toplevel(new id xdg_toplevel@9)
[   5000.400]  -> wl_surface@3.frame(new id wl_callback@10)
[   5000.500]  -> wl_surface@3.commit()
[   5001.000] wl_callback@10.done(1)
[   5002.000]  -> wl_shm_pool@11.create_buffer(new id wl_buffer@12, 0, 640, 480, 2560, 1)
"""


def commit(at, damage, callback, buffer=12, surface=3):
    """A frame committed at `at` ms: the buffer attached (unless None), the
    damage, a frame callback and the commit, a tenth of a millisecond apart."""
    requests = ["attach(wl_buffer@%d, 0, 0)" % buffer] if buffer else []
    requests += [damage, "frame(new id wl_callback@%d)" % callback, "commit()"]
    return "".join("[%11.3f]  -> wl_surface@%d.%s\n" % (at + i / 10, surface, request)
                   for i, request in enumerate(requests))


def read(text, start_us=START_US):
    log = probe.Log(start_us, 0)
    for line in text.splitlines():
        if log.feed(line):
            return log
    return log


class LogTest(unittest.TestCase):
    def test_ends_at_the_done_of_the_whole_frame(self):
        log = read(SETUP + commit(5003, "damage_buffer(0, 0, 2147483647, 2147483647)", 10)
                   + "[   5020.500] wl_callback@10.done(2)\n")
        self.assertEqual(log.end_us, 20500)
        self.assertEqual(log.commit_us, 3300)
        self.assertEqual(log.size, (640, 480))

    def test_a_partly_damaged_frame_is_not_whole(self):
        log = read(SETUP + commit(5003, "damage(0, 0, 640, 240)", 13)
                   + "[   5010.000] wl_callback@13.done(2)\n"
                   + commit(5011, "damage(0, 0, 640, 480)", 13, buffer=None)
                   + "[   5030.000] wl_callback@13.done(3)\n")
        self.assertEqual(log.end_us, 30000)

    def test_other_surfaces_are_decorations_not_the_window(self):
        log = read(SETUP + """\
[   5002.100]  -> wl_compositor@4.create_surface(new id wl_surface@14)
[   5002.200]  -> wl_shm_pool@11.create_buffer(new id wl_buffer@15, 0, 688, 552, 2752, 0)
""" + commit(5002.3, "damage_buffer(0, 0, 688, 552)", 16, buffer=15, surface=14)
                   + "[   5009.000] wl_callback@16.done(2)\n"
                   + commit(5010, "damage_buffer(0, 0, 640, 480)", 16)
                   + "[   5025.000] wl_callback@16.done(3)\n")
        self.assertEqual(log.end_us, 25000)
        self.assertEqual(log.decorations(), (1, 688 * 552))

    def test_stamps_wrap_at_32_bits(self):
        start_us = (1 << 32) - 1000
        log = read("""\
[4294966.500]  -> wl_compositor@4.create_surface(new id wl_surface@3)
[4294966.600]  -> xdg_wm_base@7.get_xdg_surface(new id xdg_surface@8, wl_surface@3)
[4294966.700]  -> xdg_surface@8.get_toplevel(new id xdg_toplevel@9)
[4294966.800]  -> wl_shm_pool@11.create_buffer(new id wl_buffer@12, 0, 64, 48, 256, 1)
[4294966.900]  -> wl_surface@3.attach(wl_buffer@12, 0, 0)
[4294966.950]  -> wl_surface@3.damage(0, 0, 64, 48)
[4294966.960]  -> wl_surface@3.frame(new id wl_callback@10)
[4294966.970]  -> wl_surface@3.commit()
[      2.000] wl_callback@10.done(1)
""", start_us)
        self.assertEqual(log.end_us, 3000)


if __name__ == "__main__":
    unittest.main()
