#!/usr/bin/python3
"""The control page in a real browser: Debian's Chromium, headless, driven by Selenium, against
orn312-scheduler --http and the simulator.

Logs in with a wrong PIN and then the right one, presses HDMI (the simulator receives the switch
and the page shows HDMI on air soon after the processor's answer says so), follows the
simulator's `signal HDMI off` with a flashing lamp and an alarm, alarms while the processor is
away, shows a refused press with the service's reason, Pre + TAKE (the pre-selected source
marked apart from the one on air, then taken), a viewer's controls disabled, the service's
restart (the live updates interrupted, then the PIN asked again) and the lockout after five
wrong PINs with its wait. No horizontal scrolling at 390 px, touch targets of 44 px, an
accessible name on every control, no Content-Security-Policy refusals.
Screenshots at 390 x 844 and 1024 x 768, in English and Chinese, go to --out.

Exit 77 (skipped) only when Chromium or its driver is not installed.
"""

import argparse
import datetime
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
OPERATOR_PIN = "4321"
VIEWER_PIN = "8765"
# The page shows a change the processor reported within this of the report (the service's event
# follows the reply at once; the rest is the browser).
SHOW_WITHIN_S = 2.0
WAIT_S = 15.0  # the longest any step may take before the test calls it failed


class Child:
    """A program of the test, its output lines collected by a thread."""

    def __init__(self, args, cwd, stdin=None, name=""):
        self.name = name or os.path.basename(args[0])
        self.proc = subprocess.Popen(args, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def wait_line(self, pattern, timeout=WAIT_S):
        """The first match of pattern in the output; fails when none comes in time."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for line in self.lines:
                    match = regex.search(line)
                    if match:
                        return match
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not self.thread.is_alive()):
                    raise AssertionError("%s never printed /%s/; it printed:\n%s" %
                                         (self.name, pattern, "\n".join(self.lines[-40:])))
                self.cond.wait(min(left, 0.2))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.thread.join(5)

    def output(self):
        with self.cond:
            return "\n".join(self.lines)


class SimLog:
    """The simulator's frame log: frames in and out with their time of day."""

    LINE = re.compile(r"^(\d\d):(\d\d):(\d\d)\.(\d\d\d) (\S+) (<-|->) ((?:[0-9a-f]{2} ?){13})(.*)$")

    def __init__(self, path):
        self.path = path

    def frames(self):
        frames = []
        try:
            with open(self.path, encoding="utf-8", errors="replace") as log:
                for line in log:
                    match = self.LINE.match(line.rstrip("\n"))
                    if not match:
                        continue
                    h, m, s, ms = (int(match.group(i)) for i in range(1, 5))
                    frames.append({
                        "at": h * 3600 + m * 60 + s + ms / 1000.0,
                        "dir": match.group(6),
                        "bytes": [int(b, 16) for b in match.group(7).split()],
                        "note": match.group(8).strip(),
                        "line": line.rstrip("\n"),
                    })
        except FileNotFoundError:
            pass
        return frames

    def wait(self, what, test, since=0, timeout=WAIT_S):
        """The first frame after index since for which test holds, and its index."""
        deadline = time.monotonic() + timeout
        while True:
            frames = self.frames()
            for i in range(since, len(frames)):
                if test(frames[i]):
                    return i, frames[i]
            if time.monotonic() > deadline:
                tail = "\n".join(f["line"] for f in frames[-20:])
                raise AssertionError("the simulator's log shows no %s; its last frames:\n%s" %
                                     (what, tail))
            time.sleep(0.05)


def seconds_of_day():
    now = datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6


def status_reply(frame, device=1):
    b = frame["bytes"]
    return frame["dir"] == "->" and b[0] == 0x05 and b[1] == device and b[2] == 0xFE


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--scheduler", required=True)
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    args = parser.parse_args()
    args.sim, args.scheduler = os.path.abspath(args.sim), os.path.abspath(args.scheduler)

    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not chromium or not os.access(driver_path, os.X_OK):
        print("skipped: Debian's chromium and chromium-driver are not installed")
        return SKIP

    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    os.makedirs(args.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="orn312-page-")
    children = []
    driver = None
    try:
        sim_log = SimLog(os.path.join(work, "sim.log"))
        sim = Child([args.sim, "--tcp", "0", "--log", sim_log.path], work, stdin=subprocess.PIPE)
        children.append(sim)
        sim_port = int(sim.wait_line(r"^tcp 127\.0\.0\.1:(\d+)").group(1))

        def console(line):
            sim.proc.stdin.write(line + "\n")
            sim.proc.stdin.flush()

        # A plan an hour from now, so that the timer has a next plan to show.
        at = datetime.datetime.now() + datetime.timedelta(hours=1)
        with open(os.path.join(work, "Planinfo.ini"), "w", encoding="utf-8") as ini:
            ini.write("[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=%d\nDeviceID=1\n"
                      "[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=%2d:%2d:%2d,5\n" %
                      (sim_port, at.hour, at.minute, at.second))
        auth = os.path.join(work, "auth")
        for role, pin in (("operator", OPERATOR_PIN), ("viewer", VIEWER_PIN)):
            done = subprocess.run([args.scheduler, "--auth", auth, "--set-pin", role],
                                  input=pin + "\n", text=True, capture_output=True, timeout=60)
            assert done.returncode == 0, "--set-pin %s: %s" % (role, done.stderr)

        service = Child([args.scheduler, "--http", "127.0.0.1:0", "--auth", auth, "Planinfo.ini"],
                        work, name="orn312-scheduler")
        children.append(service)
        http_port = int(service.wait_line(r"serving HTTP on 127\.0\.0\.1:(\d+)").group(1))
        url = "http://127.0.0.1:%d/" % http_port

        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-extensions", "--no-first-run", "--window-size=1024,768"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
        wait = WebDriverWait(driver, WAIT_S, poll_frequency=0.05)

        def viewport(width, height):
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 1,
                "mobile": width < 600})

        def text_of(element_id):
            return driver.find_element(By.ID, element_id).text

        def wait_for(what, test):
            try:
                return wait.until(lambda d: test())
            except Exception as e:
                raise AssertionError("the page never showed %s (live: %r, info: %r, alarms: %r)"
                                     % (what, text_of("live"), text_of("info"),
                                        text_of("alarms"))) from e

        def source_button(name):
            return driver.find_element(
                By.XPATH, "//div[@id='sources']//button[.//span[@class='source-name' and "
                          "text()='%s']]" % name)

        def lamp_of(name):
            return source_button(name).find_element(By.XPATH, "preceding-sibling::span")

        def on_air():
            tiles = driver.find_elements(By.CSS_SELECTOR, "#sources .tile.on-air .source-name")
            return [t.text for t in tiles]

        def login(pin):
            field = driver.find_element(By.ID, "pin")
            field.clear()
            field.send_keys(pin)
            driver.find_element(By.ID, "login-button").click()

        def no_horizontal_scroll(where):
            widths = driver.execute_script(
                "return [document.scrollingElement.scrollWidth, window.innerWidth]")
            assert widths[0] <= widths[1], "%s scrolls sideways: %r" % (where, widths)

        def check_controls(where):
            # Every visible control is a touch target of 44 px and has a name a person would
            # say; every lamp says what it shows.
            problems = driver.execute_script("""
                const out = [];
                for (const e of document.querySelectorAll('button, input')) {
                  const r = e.getBoundingClientRect();
                  if (r.width === 0 && r.height === 0) continue;
                  const name = (e.getAttribute('aria-label') || e.textContent ||
                      (e.labels && e.labels[0] && e.labels[0].textContent) || '').trim();
                  if (!name) out.push('no name: ' + e.outerHTML.slice(0, 80));
                  if (r.width < 44 || r.height < 44)
                    out.push('small (' + r.width + 'x' + r.height + '): ' + name);
                }
                for (const l of document.querySelectorAll('.lamp')) {
                  if (!/ (lamp|指示灯): /.test(l.getAttribute('aria-label') || ''))
                    out.push('lamp without a name: ' + l.outerHTML.slice(0, 80));
                }
                return out;""")
            assert not problems, "%s: %s" % (where, "; ".join(problems))

        def shot(name):
            path = os.path.join(args.out, name + ".png")
            driver.save_screenshot(path)
            print("screenshot", path)

        def language(lang):
            driver.find_element(By.ID, "lang-" + lang).click()
            title = "QUOLANORN312控制软件(V1.13)" if lang == "zh" else \
                "QUOLAN ORN312 Processor Controller(V1.13)"
            wait_for("the %s captions" % lang, lambda: text_of("title") == title)

        started = time.monotonic()

        def step(name):  # where the time goes, in the test's output
            print("%5.1f s  %s" % (time.monotonic() - started, name), flush=True)

        # ---- logging in: a wrong PIN, then the right one ----
        step("logging in")
        viewport(390, 844)
        driver.get(url)
        wait_for("the PIN form", lambda: driver.find_element(By.ID, "pin").is_displayed())
        no_horizontal_scroll("the PIN form at 390 px")
        check_controls("the PIN form")
        login("0000")
        wait_for("that the PIN is wrong", lambda: text_of("login-message") == "Wrong PIN")
        assert not driver.find_element(By.ID, "panel").is_displayed()
        login(OPERATOR_PIN)
        wait_for("the panel", lambda: driver.find_element(By.ID, "panel").is_displayed())
        wait_for("the processor connected",
                 lambda: text_of("live") == "Communications equipment normal" and on_air())
        assert on_air() == ["V1"], on_air()

        # The session is remembered: a reload goes straight to the panel.
        driver.refresh()
        wait_for("the panel after a reload", lambda: driver.find_element(By.ID, "panel")
                 .is_displayed() and on_air() == ["V1"])

        # ---- HDMI: the frame reaches the simulator, the page follows its answer ----
        step("HDMI")
        before = len(sim_log.frames())
        source_button("HDMI").click()
        wait_for("the press under way or done",
                 lambda: "HDMI" in text_of("info"))
        sent, frame = sim_log.wait(
            "main switch to HDMI", lambda f: f["dir"] == "<-" and f["bytes"][2] == 0x00 and
            f["bytes"][4] == 0x04, since=before)
        _, answer = sim_log.wait(
            "status answer with HDMI on air",
            lambda f: status_reply(f) and f["bytes"][7] & 0x0F == 0x04, since=sent)
        wait_for("HDMI on air", lambda: on_air() == ["HDMI"])
        shown = seconds_of_day()
        assert shown - answer["at"] <= SHOW_WITHIN_S, \
            "HDMI shown on air %.2f s after the processor's answer" % (shown - answer["at"])
        print("HDMI on air %.2f s after the processor said so" % (shown - answer["at"]))
        wait_for("the press reported sent", lambda: text_of("info") == "HDMI: sent")
        assert "HDMI" in source_button("HDMI").text and "ON AIR" in \
            source_button("HDMI").text.upper(), source_button("HDMI").text
        assert "lit" in lamp_of("HDMI").get_attribute("class")

        # ---- the lamp follows the input's signal ----
        step("the lamp follows the input's signal")
        console("signal HDMI off")
        wait_for("the HDMI lamp flashing",
                 lambda: "flashing" in lamp_of("HDMI").get_attribute("class"))
        assert lamp_of("HDMI").get_attribute("aria-label") == "HDMI lamp: no signal"
        wait_for("the no-signal alarm",
                 lambda: "No signal on HDMI, which is on air" in text_of("alarms"))

        # Screenshots with the alarm up, both sizes, both languages.
        for width, height in ((390, 844), (1024, 768)):
            viewport(width, height)
            for lang in ("en", "zh"):
                language(lang)
                no_horizontal_scroll("the panel at %d px in %s" % (width, lang))
                check_controls("the panel at %d px in %s" % (width, lang))
                shot("page-%dx%d-%s" % (width, height, lang))
        assert "当前输出的 HDMI 无信号" in text_of("alarms"), text_of("alarms")
        language("en")

        console("signal HDMI on")
        wait_for("the HDMI lamp steady again",
                 lambda: "lit" in lamp_of("HDMI").get_attribute("class") and
                 not text_of("alarms"))

        # ---- the processor goes away: an alarm, nothing looks live; then it is back ----
        step("the processor goes away")
        console("hangup")
        wait_for("the processor-not-responding alarm",
                 lambda: "Device not responding, check the device and the cable" in
                 text_of("alarms"))
        assert not source_button("DVI").is_enabled()
        wait_for("the processor back", lambda: not text_of("alarms") and on_air() == ["HDMI"] and
                 source_button("DVI").is_enabled())

        # ---- a refused press says why ----
        step("a refused press says why")
        before = len(sim_log.frames())
        console("ext NULL")
        # Two answers that say so: the service has taken in the first when it asks again.
        first, _ = sim_log.wait("status answer with EXT. empty",
                                lambda f: status_reply(f) and f["bytes"][11] == 0, since=before)
        sim_log.wait("second status answer with EXT. empty",
                     lambda f: status_reply(f) and f["bytes"][11] == 0, since=first + 1)
        source_button("EXT.").click()
        wait_for("the refusal", lambda: text_of("info").startswith("EXT. failed: ") and
                 len(text_of("info")) > len("EXT. failed: "))
        assert "Failed" in source_button("EXT.").text or "FAILED" in source_button("EXT.").text
        assert on_air() == ["HDMI"]

        # ---- Pre + TAKE: the pre-selected source marked apart from the one on air ----
        step("Pre + TAKE")
        pre_take = driver.find_element(By.XPATH,
                                       "//div[@id='modes']/button[.='Pre + TAKE Switch']")
        pre_take.click()
        wait_for("Pre + TAKE mode", lambda: pre_take.get_attribute("aria-checked") == "true" and
                 text_of("preview") == "Pre: NULL")
        source_button("VGA1").click()
        wait_for("VGA1 pre-selected, HDMI on air", lambda: on_air() == ["HDMI"] and
                 "pre" in source_button("VGA1").find_element(By.XPATH, "..")
                 .get_attribute("class") and text_of("preview") == "Pre: VGA1" and
                 driver.find_element(By.ID, "take").is_enabled())
        assert "PRE" in source_button("VGA1").text.upper(), source_button("VGA1").text
        shot("page-1024x768-pretake-en")
        driver.find_element(By.ID, "take").click()
        wait_for("VGA1 on air after TAKE, the mode kept, nothing pre-selected",
                 lambda: on_air() == ["VGA1"] and text_of("preview") == "Pre: NULL" and
                 pre_take.get_attribute("aria-checked") == "true")

        # ---- a viewer sees everything and can change nothing ----
        step("a viewer sees everything and can change nothing")
        viewport(390, 844)
        driver.find_element(By.ID, "logout").click()
        wait_for("the PIN form after logging out",
                 lambda: driver.find_element(By.ID, "pin").is_displayed())
        login(VIEWER_PIN)
        wait_for("the viewer's panel", lambda: driver.find_element(By.ID, "viewer-note")
                 .is_displayed() and on_air() == ["VGA1"])
        driver.refresh()  # the role is the session's, after a reload too
        wait_for("the viewer's panel after a reload", lambda: driver.find_element(
            By.ID, "viewer-note").is_displayed() and on_air() == ["VGA1"])
        enabled = driver.execute_script("""
            return Array.from(document.querySelectorAll('#panel button'))
                .filter(b => !b.disabled).map(b => b.textContent.trim());""")
        assert not enabled, "a viewer's controls that are enabled: %r" % enabled
        style = driver.execute_script(
            "const s = getComputedStyle(arguments[0]); return [s.cursor, s.borderTopStyle];",
            source_button("DVI"))
        assert style == ["not-allowed", "dashed"], style
        no_horizontal_scroll("the viewer's panel at 390 px")
        shot("page-390x844-viewer")

        # ---- the service goes away and comes back: the page says so, then asks for the PIN
        # (sessions do not outlive the service) and follows the new one ----
        step("the service's restart")
        service.stop()
        wait_for("the live updates interrupted", lambda: "interrupted" in text_of("live"))
        assert not source_button("DVI").is_enabled()
        service = Child([args.scheduler, "--http", "127.0.0.1:%d" % http_port, "--auth", auth,
                         "Planinfo.ini"], work, name="orn312-scheduler (again)")
        children.append(service)
        service.wait_line(r"serving HTTP on 127\.0\.0\.1:%d" % http_port)
        wait_for("the PIN form once the session is gone",
                 lambda: driver.find_element(By.ID, "pin").is_displayed() and
                 text_of("login-message") == "The session ended: log in again")
        login(OPERATOR_PIN)
        wait_for("the operator's panel again", lambda: on_air() == ["VGA1"] and
                 source_button("DVI").is_enabled())

        # ---- wrong PINs until the address is locked out: the page says for how long ----
        step("wrong PINs until the address is locked out")
        driver.find_element(By.ID, "logout").click()
        wait_for("the PIN form after logging out",
                 lambda: driver.find_element(By.ID, "pin").is_displayed())
        for _ in range(5):
            login("0000")
            wait_for("that the PIN is wrong", lambda: text_of("login-message") == "Wrong PIN")
            driver.execute_script("document.getElementById('login-message').textContent = ''")
        login(OPERATOR_PIN)
        locked = re.compile(r"^Too many wrong PINs from this address: try again in (\d+) s$")
        wait_for("the lockout", lambda: locked.match(text_of("login-message")))
        assert 0 < int(locked.match(text_of("login-message")).group(1)) <= 60
        assert not driver.find_element(By.ID, "panel").is_displayed()

        # The page obeys the service's Content-Security-Policy and throws nothing.
        problems = [e["message"] for e in driver.get_log("browser")
                    if "Content Security Policy" in e["message"] or
                    "Uncaught" in e["message"]]
        assert not problems, "the browser's console: %r" % problems

        for child in children:
            assert "Sanitizer" not in child.output(), child.output()
        step("done")
        print("page test passed")
        return 0
    except Exception as e:  # a failed check, or the browser or a program gave up
        print("FAILED: %s: %s" % (type(e).__name__, e))
        for child in children:
            print("---- %s ----\n%s" % (child.name, child.output()[-4000:]))
        return 1
    finally:
        if driver is not None:
            driver.quit()
        for child in reversed(children):
            child.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
