#!/usr/bin/env python3
"""The dashboard in a real headless Chromium, against morventd and two
simulated readers: readers online, a moving tag shown live and greyed when it
departs, a GS1 identity beside its EPC, the filter by EPC and by identity,
the history searched by EPC and by location and time, paged and exported as
CSV, a tag's trail, a refused write, a write of user memory read back
through the CLI, a new EPC given to the shown tag and to no other, and the
readers shown offline once the gateway is gone. Saves a screenshot of each
page into ARTIFACTS.

usage: dashboard_browser_test.py MORVENTD MORVENT_SIM MORVENT ARTIFACTS
Exits 77 (skipped) when Selenium, Chromium or its driver is missing."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(77)

MORVENTD, SIM, CLI, ARTIFACTS = sys.argv[1:5]
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("skipped: chromium and chromium-driver are needed")
    sys.exit(77)

TAG = "300011112222333344445555"  # a tag that stays in the simulated field
OTHER = "E20034120123456789ABCDEF"  # the one an untargeted change would reach
NEW_EPC = "3000111122223333444455556666"  # a word longer: the PC word changes too
GS1, GS1_URI = "3074257BF7194E4000001A85", "urn:epc:id:sgtin:0614141.812345.6789"  # the SGTIN-96 in the field
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait(condition, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def die_with_parent():
    try:
        import ctypes
        ctypes.CDLL(None).prctl(1, 15)  # PR_SET_PDEATHSIG, SIGTERM
    except (OSError, AttributeError):
        pass


def reachable(url):
    try:
        with urllib.request.urlopen(url, timeout=2):
            return True
    except OSError:
        return False


def start_sim(work, name, *extra):
    out = open(os.path.join(work, name + ".out"), "w+")
    proc = subprocess.Popen([SIM, "--tcp", "0", "--run-for", "120", *extra], stdout=out, stderr=subprocess.STDOUT,
                            preexec_fn=die_with_parent)
    port = wait(lambda: re.search(r"tcp=127\.0\.0\.1:(\d+)", open(out.name).read()), 10)
    if not port:
        raise RuntimeError("morvent-sim did not start: " + open(out.name).read())
    return proc, int(port.group(1))


def main():
    os.makedirs(ARTIFACTS, exist_ok=True)
    work = tempfile.mkdtemp(prefix="dashboard-")
    procs = []
    driver = None
    try:
        sim_a, port_a = start_sim(work, "a", "--arrive-rate", "1", "--stay", "2-3")
        sim_b, port_b = start_sim(work, "b")
        procs += [sim_a, sim_b]
        http = free_port()
        config = os.path.join(work, "gw.toml")
        with open(config, "w") as f:
            f.write(f"""[gateway]
id = "browser"
spool = "{work}/spool.db"
http = "127.0.0.1:{http}"
http_token = "s3cret"
[mqtt]
url = "mqtt://127.0.0.1:{free_port()}"
[events]
report_every_s = 0.5
depart_after_s = 1
[[reader]]
name = "door-a"
tcp = "127.0.0.1:{port_a}"
poll_interval_ms = 20
[[reader]]
name = "door-b"
tcp = "127.0.0.1:{port_b}"
poll_interval_ms = 20
""")
        gateway = subprocess.Popen([MORVENTD, "--config", config], stdout=subprocess.DEVNULL,
                                   stderr=open(os.path.join(work, "morventd.err"), "w"), preexec_fn=die_with_parent)
        procs.append(gateway)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
                     "--window-size=1280,800", "--user-data-dir=" + os.path.join(work, "profile")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        driver.set_page_load_timeout(20)
        base = f"http://127.0.0.1:{http}/"
        wait(lambda: reachable(base + "api/readers"), 10)
        driver.get(base + "#readers")
        js = driver.execute_script

        # Readers: both online.
        online = wait(lambda: js("return document.querySelectorAll('#readers-table tr[data-state=online]').length") == 2, 20)
        check(online, "the readers page shows both simulated readers online")
        time.sleep(1.2)  # one read-rate sample in the sparkline
        driver.save_screenshot(os.path.join(ARTIFACTS, "readers.png"))

        # Live tags: a moving tag (EPC 35...) appears within 2 s of its first read, then greys out.
        js("location.hash = '#tags'")
        row = wait(lambda: js("""for (const r of document.querySelectorAll('#tags-table tbody tr'))
                                   if (r.dataset.epc.startsWith('35') && !r.classList.contains('departed')) return r.dataset.epc;
                                 return null;"""), 10)
        check(bool(row), "a tag entering the moving field appears in the live table")
        if row:
            first = js("""return fetch('/api/tags').then(r => r.json()).then(list =>
                            (list.find(t => t.epc === arguments[0]) || {}).first_seen || null)""", row)
            shown_at = js(f"return Number(document.querySelector(\"#tags-table tr[data-epc='{row}']\").dataset.shownAt)")
            if first:
                lag = shown_at - js("return Date.parse(arguments[0])", first)
                check(lag < 2000, f"it appeared {lag} ms after its first read (under 2 s)")
            time.sleep(1.6)  # the arrival highlight fades
            driver.save_screenshot(os.path.join(ARTIFACTS, "tags.png"))
            greyed = wait(lambda: js(f"""const r = document.querySelector("#tags-table tr[data-epc='{row}']");
                                          return r !== null && r.classList.contains('departed');"""), 8)
            check(greyed, "it greys out after it departs")
            gone = wait(lambda: js(f"return document.querySelector(\"#tags-table tr[data-epc='{row}']\") === null"), 8)
            check(gone, "and is then removed")

        # A GS1 tag shows its identity beside the hex; the filter narrows the table by EPC or identity.
        shown = js(f"return document.querySelector(\"#tags-table tr[data-epc='{GS1}'] td.uri\").textContent")
        check(shown == GS1_URI, f"a GS1 tag shows its identity: {shown!r}")
        box = driver.find_element(By.ID, "filter")
        for part, wanted in (("3000", lambda e: "3000" in e), ("812345.6789", lambda e: e == GS1)):
            box.send_keys(part)
            visible = js("return [...document.querySelectorAll('#tags-table tbody tr')].filter(r => !r.hidden).map(r => r.dataset.epc)")
            total = js("return document.querySelectorAll('#tags-table tbody tr').length")
            check(visible and all(wanted(e) for e in visible) and len(visible) < total,
                  f"the filter {part!r} narrows the table ({len(visible)} of {total})")
            box.clear()
            box.send_keys("x")  # clear() fires no input event
            box.clear()
            js("document.getElementById('filter').dispatchEvent(new Event('input'))")

        # History: newest first, by EPC, by location and time, paged, exported; a row opens its tag's trail.
        js("location.hash = '#history'")
        history = driver.find_element(By.ID, "history-form")
        rows = lambda: js("""return [...document.querySelectorAll('#history-table tbody tr')].map(r =>
                               ({seq: Number(r.dataset.seq), time: r.dataset.time, epc: r.dataset.epc, location: r.cells[5].textContent}))""")
        newest_first = lambda found: [r["time"] for r in found] == sorted((r["time"] for r in found), reverse=True)
        history.find_element(By.NAME, "tag").send_keys(TAG.lower())
        history.find_element(By.CSS_SELECTOR, "button").click()
        found = wait(lambda: rows() if js("return document.getElementById('history-result').textContent") else None, 10)
        check(found and all(r["epc"] == TAG for r in found) and newest_first(found),
              f"a search by EPC lists only that tag's events, newest first ({len(found or [])})")
        csv = js("return fetch(document.getElementById('history-csv').href).then(r => r.text())").splitlines()
        check(csv[0].startswith("seq,") and len(csv) > len(found) and all(TAG in line for line in csv[1:]),
              f"its CSV export holds the same search ({len(csv) - 1} rows)")
        history.find_element(By.NAME, "tag").clear()
        history.find_element(By.NAME, "location").send_keys("door-a")
        js("arguments[0].value = arguments[1]", history.find_element(By.NAME, "from"),
           js("const d = new Date(Date.now() - 60000); return new Date(d - d.getTimezoneOffset() * 60000).toISOString().slice(0, 19)"))
        history.find_element(By.CSS_SELECTOR, "button").click()
        first = wait(lambda: rows() if len(rows()) == 100 else None, 10)
        driver.find_element(By.ID, "history-more").click()
        paged = wait(lambda: rows() if len(rows()) > 100 else None, 10)
        seqs = [r["seq"] for r in paged or []]
        check(first and paged and all(r["location"] == "door-a" for r in paged) and newest_first(paged) and len(set(seqs)) == len(seqs),
              f"a search by location and time pages on with older events, none twice ({len(seqs)})")
        js("window.scrollTo(0, 0)")
        driver.save_screenshot(os.path.join(ARTIFACTS, "history.png"))
        js("document.querySelector('#history-table tbody tr').click()")
        trail = wait(lambda: js("return [...document.querySelectorAll('#trail tbody tr')].map(r => r.dataset.location)"), 10)
        check(driver.current_url.endswith("#tag") and trail and "door-a" in trail and set(trail) <= {"door-a", "door-b"},
              f"a history row opens its tag with its trail: {trail}")

        # Tag page: clicking a tag fills the form; a write without the token is refused.
        js(f"document.querySelector(\"#tags-table tr[data-reader='door-b'][data-epc='{TAG}']\").click()")
        check(driver.current_url.endswith("#tag") and driver.find_element(By.NAME, "epc").get_attribute("value") == TAG,
              "clicking a tag opens the tag form with its EPC")
        form = driver.find_element(By.ID, "write-form")
        form.find_element(By.NAME, "pointer").clear()
        form.find_element(By.NAME, "pointer").send_keys("2")
        form.find_element(By.NAME, "data").send_keys("BEEF1234")
        form.find_element(By.CSS_SELECTOR, "button").click()
        refused = wait(lambda: driver.find_element(By.ID, "tag-result").text, 10)
        check(refused.startswith("401"), f"a write without the token is refused: {refused!r}")

        # With the token: written through the form, read back through the CLI.
        driver.find_element(By.ID, "token").send_keys("s3cret")
        js("document.getElementById('tag-result').textContent = ''")
        form.find_element(By.CSS_SELECTOR, "button").click()
        done = wait(lambda: driver.find_element(By.ID, "tag-result").text, 10)
        check(done == f"user memory of {TAG} written", f"the form writes user memory of the shown tag: {done!r}")
        cli = subprocess.run([CLI, "--tcp", f"127.0.0.1:{port_b}", "read", "--epc", TAG, "--bank", "user", "--ptr", "2",
                              "--count", "2"], capture_output=True, text=True, timeout=20)
        check(re.search(r"data\s+BEEF1234", cli.stdout) is not None, "the CLI reads the written words back: " + cli.stdout.strip().replace("\n", "; "))
        driver.find_element(By.CSS_SELECTOR, "#tag-form button").click()
        banks = wait(lambda: js("return document.querySelectorAll('#banks tr').length") == 4, 15)
        user = js("const r = document.querySelector('#banks tr[data-bank=user]'); return r ? r.cells[1].textContent : ''")
        check(banks and user.startswith("0000 0000 BEEF 1234"), f"the banks read on the page show it: {user!r}")

        # Write EPC: refused in the page without a tag; with one, only that tag is renamed, and the page says so.
        epc_box, result = driver.find_element(By.NAME, "epc"), driver.find_element(By.ID, "tag-result")
        epc_box.clear()
        driver.find_element(By.NAME, "new_epc").send_keys(NEW_EPC)
        driver.find_element(By.CSS_SELECTOR, "#epc-form button").click()
        check(result.text.startswith("No tag chosen"), f"a new EPC without a chosen tag is not sent: {result.text!r}")
        epc_box.send_keys(TAG)
        driver.find_element(By.CSS_SELECTOR, "#epc-form button").click()
        renamed = wait(lambda: result.text if "changed" in result.text else None, 10)
        check(renamed == f"EPC of {TAG} changed to {NEW_EPC}" and epc_box.get_attribute("value") == NEW_EPC,
              f"the shown tag gets the new EPC, and the page follows it: {renamed!r}")
        field = subprocess.run([CLI, "--tcp", f"127.0.0.1:{port_b}", "inventory"], capture_output=True, text=True,
                               timeout=20).stdout
        check(NEW_EPC in field.split() and OTHER in field.split() and TAG not in field.split(),
              "the reader's field has the new EPC and no other tag renamed: " + field.replace("\n", "; "))
        driver.save_screenshot(os.path.join(ARTIFACTS, "tag.png"))

        js("location.hash = '#rate'")
        time.sleep(1.5)
        driver.save_screenshot(os.path.join(ARTIFACTS, "rate.png"))
        js("location.hash = '#reader'")
        wait(lambda: js("return document.querySelector('#settings-form select').options.length") == 2, 10)
        driver.find_element(By.ID, "settings-load").click()
        loaded = wait(lambda: driver.find_element(By.ID, "settings-result").text, 10)
        check(loaded == "settings read", f"the reader page reads the settings: {loaded!r}")
        driver.save_screenshot(os.path.join(ARTIFACTS, "reader.png"))

        # The gateway dies: what it said of its readers is stale, and the page shows them offline.
        gateway.kill()
        js("location.hash = '#readers'")
        offline = wait(lambda: js("return document.querySelectorAll('#readers-table tr[data-state=offline]').length") == 2, 10)
        check(offline, "with the gateway gone, the readers page shows both readers offline")
    finally:
        if driver:
            driver.quit()
        for p in procs:
            p.terminate()
        for p in procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        if failures:
            print("morventd's log:\n" + open(os.path.join(work, "morventd.err")).read()[-3000:])
        else:
            shutil.rmtree(work, ignore_errors=True)
    print(f"screenshots in {ARTIFACTS}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
