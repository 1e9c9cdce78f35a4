#!/usr/bin/python3
"""CPU time of the program with two browser pages open against the same set-up headless without
pages, side by side over the same seconds on one private PulseAudio server playing a tone: three
mappings (a voice fader on 300-3000 Hz, a kick trigger below 150 Hz, a hi-hat trigger above
6 kHz). The browsers (headless Chromium) are not counted. Prints each program's CPU, the ratio
(wanted: at most 1.5), the updates a second the pages see, and the level messages a second each
peer gets, then the same with a page that stops reading beside the two.

Usage: bench/web_page_cpu.py [BUILD_DIR] [SECONDS]   (default build/main, 30)
"""

import os
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else "build/main"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
os.environ["KESTRANO_PATH"] = os.path.join(root, build, "app", "kestrano")
sys.path.insert(0, os.path.join(root, "tests", "web"))
import page_test  # noqa: E402  (the tests' program, browser and raw page)

SETUP = {"address": "voice", "bandLowCut": 300, "bandHighCut": 3000, "mappings": "kick,hat",
         "kick/type": "trigger", "kick/address": "kick", "kick/bandHighCut": 150,
         "hat/type": "trigger", "hat/address": "hat", "hat/bandLowCut": 6000}


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def started(settings):
    osc = page_test.OscCounter()
    program = page_test.Program(dict(SETUP, zandorexSendPort=osc.port,
                                     zandorexListenPort=page_test.free_port(
                                         page_test.socket.SOCK_DGRAM), **settings))
    program.start()
    return program, osc


def measure(programs, browsers):
    """CPU seconds of each program, updates a second of each browser, messages a second of each
    peer, over the same `seconds`."""
    cpu = [cpu_seconds(p.process.pid) for p, _ in programs]
    updates = [b.execute_script("return kestrano.updates") for b in browsers]
    sent = [osc.count for _, osc in programs]
    begun = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - begun
    return ([cpu_seconds(p.process.pid) - c for (p, _), c in zip(programs, cpu)],
            [(b.execute_script("return kestrano.updates") - u) / elapsed
             for b, u in zip(browsers, updates)],
            [(osc.count - s) / elapsed for (_, osc), s in zip(programs, sent)])


def main():
    server = tempfile.mkdtemp()
    script = os.path.join(root, "tests", "audio", "private_pulse_server.sh")
    subprocess.run([script, "start", server], check=True)
    os.environ.update(PULSE_SERVER=f"unix:{server}/native", PULSE_RUNTIME_PATH=server)
    cleanup = []
    try:
        tone = subprocess.Popen(["sox", "-q", "-n", "-c", "2", "-r", "48000", "-t", "pulseaudio",
                                 "feed", "synth", "3600", "sine", "1000", "sine", "80",
                                 "vol", "-6dB"])
        cleanup.append(tone.terminate)
        web_port = page_test.free_port()
        headless, headless_osc = started({})
        paged, paged_osc = started({"webPort": web_port})
        for program, osc in ((headless, headless_osc), (paged, paged_osc)):
            cleanup += [program.close, osc.close]
        browsers = []
        for _ in range(2):
            browser = page_test.chromium()
            cleanup.append(browser.quit)
            browser.get(f"http://127.0.0.1:{web_port}/")
            browsers.append(browser)
        page_test.wait_for(lambda: all(b.execute_script("return kestrano.updates") > 25
                                       for b in browsers), "two live pages")
        programs = [(headless, headless_osc), (paged, paged_osc)]
        cpu, rates, levels = measure(programs, browsers)
        # Other work on the machine slows both programs alike, but not by the same share.
        print(f"over {seconds:.0f} s, side by side (load average {os.getloadavg()[0]:.2f}):")
        print(f"  headless, no page:       {cpu[0]:6.2f} s CPU, {levels[0]:5.1f} level messages/s")
        print(f"  headless, two pages:     {cpu[1]:6.2f} s CPU, {levels[1]:5.1f} level messages/s")
        print(f"  ratio:                   {cpu[1] / cpu[0]:6.2f} (wanted at most 1.5)")
        print(f"  updates each page sees:  " + ", ".join(f"{r:.1f}/s" for r in rates))

        stalled = page_test.RawPage(web_port, receive_buffer=4096)
        cleanup.append(stalled.close)
        page_test.wait_for(lambda: paged.said("not keeping up"), "the stalled page noticed",
                           deadline=60)
        cpu, rates, levels = measure(programs, browsers)
        print("with a third page that stops reading:")
        print(f"  headless, two pages + stalled: {cpu[1]:6.2f} s CPU (no page: {cpu[0]:.2f}), "
              f"{levels[1]:5.1f} level messages/s (no page: {levels[0]:.1f})")
        print(f"  updates each reading page sees: " + ", ".join(f"{r:.1f}/s" for r in rates))
    finally:
        for step in reversed(cleanup):
            try:
                step()
            except Exception:  # noqa: BLE001  (the rest is cleaned up all the same)
                pass
        subprocess.run([script, "stop", server])


if __name__ == "__main__":
    main()
