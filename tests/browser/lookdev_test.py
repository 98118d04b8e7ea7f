#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The look-development page in headless Chromium, driven with Selenium.

Starts `velmora-render --serve --port 0 --save PATH`, opens the page at the tokened address it
prints (the page's own requests then go with the cookie it is given), and checks: both
tabs and all thirteen controls with their labels; a change of Ksub refines the picture to a new
full-quality render; bad values get the panel's message and change nothing; a prefix shows the
lights it selects; a preset and a sweep; Save writes a scene that the command line renders to the
page's final picture.

usage: lookdev_test.py VELMORA_RENDER WORK_FOLDER [--screenshot PNG]
"""
import json
import os
import re
import signal
import struct
import subprocess
import sys
import urllib.request
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

LABELS = ["Skin color:", "Sheen color:", "Ksub:", "Ksheen:", "Scattering wrap:", "Shadow amount:",
          "Diffuse roughness:", "Ambient amount:", "Prefix:", "Prefix:", "Use Sheen shadowings",
          "Sheen trace eps:", "Sheen decay:"]


def decode_png(data):
    """Pixels of an 8-bit RGB or RGBA, non-interlaced PNG: (width, height, channels, bytes)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG layout"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride = zlib.decompress(idat), width * channels
    out, prev = bytearray(), bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        prev = line
    return width, height, channels, bytes(out)


def rgb_of(png):
    w, h, ch, px = decode_png(png)
    return w, h, px if ch == 3 else bytes(b for i, b in enumerate(px) if i % 4 != 3)


TOKEN = ""


def fetch(url, body=None):
    req = urllib.request.Request(url, data=body, method="POST" if body is not None else "GET",
                                 headers={"Authorization": "token " + TOKEN})
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def fetch_without_token(url):
    try:
        with urllib.request.urlopen(url, timeout=30) as r:
            return r.status
    except urllib.error.HTTPError as e:
        return e.code


def type_into(field, text):
    """Replaces a field's text and leaves it, as a user would (one change event)."""
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(Keys.DELETE, text, Keys.TAB)


def check(cond, what):
    if not cond:
        raise AssertionError(what)
    print("ok:", what)


def main():
    render, work = sys.argv[1], sys.argv[2]
    shot = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--screenshot" else None
    os.makedirs(work, exist_ok=True)
    saved = os.path.join(work, "lookdev_saved.json")
    if os.path.exists(saved):
        os.remove(saved)
    server = subprocess.Popen([render, "--serve", "--port", "0", "--save", saved], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    driver = None
    try:
        global TOKEN
        line = server.stdout.readline()
        m = re.search(r"(http://\S+/)\?token=([0-9a-f]{32,})", line)
        check(m is not None, "the server prints its address with a token: " + line.strip())
        url, TOKEN = m.group(1), m.group(2)
        check(fetch_without_token(url + "api/status") == 403, "a request without the token is refused")
        options = webdriver.ChromeOptions()
        for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  "--window-size=1500,1000"):
            options.add_argument(a)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.get(url + "?token=" + TOKEN)
        wait = WebDriverWait(driver, 120, poll_frequency=0.1)

        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".control")) == 13)
        check(driver.execute_script("return document.cookie") == "" and "token" not in driver.current_url,
              "the page works from its HttpOnly cookie, the token gone from its address")
        tabs = [t.get_attribute("textContent") for t in driver.find_elements(By.CSS_SELECTOR, "[role=tab]")]
        check(tabs == ["Standard", "Experimental"], "both tabs: %s" % tabs)
        labels = [e.get_attribute("textContent") for e in driver.find_elements(By.CSS_SELECTOR, ".control label")]
        check(sorted(labels) == sorted(LABELS), "all thirteen controls with their labels")
        kinds = {e.get_attribute("data-name"): e.get_attribute("data-kind")
                 for e in driver.find_elements(By.CSS_SELECTOR, ".control")}
        check(kinds["Ksub"] == "percentage" and kinds["skin_color"] == "colour" and kinds["sheen_trace"] == "toggle"
              and kinds["trace_eps"] == "distance" and kinds["skin_prefix"] == "string", "control types")

        img = driver.find_element(By.ID, "render")
        wait.until(lambda d: img.get_attribute("data-stage") == "full")
        first_gen = int(img.get_attribute("data-generation"))
        _, first = fetch(url + "api/image?stage=full")

        ksub = driver.find_element(By.CSS_SELECTOR, '.control[data-name="Ksub"] input')
        check(ksub.get_attribute("value") == "100", "Ksub shows 100 %")
        type_into(ksub, "30")
        wait.until(lambda d: int(img.get_attribute("data-generation")) > first_gen)
        wait.until(lambda d: img.get_attribute("data-stage") == "full")
        gen = int(img.get_attribute("data-generation"))
        _, final = fetch(url + "api/image?stage=full")
        check(rgb_of(final)[2] != rgb_of(first)[2], "changing Ksub changes the picture")
        if shot:
            driver.save_screenshot(shot)

        message = driver.find_element(By.CSS_SELECTOR, '.control[data-name="Ksub"] .message')
        for text, expected in (("5000", "out of range"), ("lots", "expected a number")):
            type_into(ksub, text)
            wait.until(lambda d: expected in message.get_attribute("textContent"))
            check(ksub.get_attribute("value") == "30", "%r is refused with the panel's message" % text)
        prefix = driver.find_element(By.CSS_SELECTOR, '.control[data-name="skin_prefix"] input')
        prefix_message = driver.find_element(By.CSS_SELECTOR, '.control[data-name="skin_prefix"] .message')
        type_into(prefix, "k" * 40)
        wait.until(lambda d: "longer than" in prefix_message.get_attribute("textContent"))
        check(json.loads(fetch(url + "api/status")[1])["generation"] == gen, "refused values change nothing")
        selects = driver.find_element(By.CSS_SELECTOR, '.control[data-name="skin_prefix"] .selects')
        prefix.send_keys(Keys.CONTROL, "a")
        prefix.send_keys(Keys.DELETE, "ke")
        check(selects.get_attribute("textContent") == "selects key", "a prefix shows the lights it selects")
        presets = Select(driver.find_element(By.ID, "preset"))
        names = [o.get_attribute("value") for o in presets.options if o.get_attribute("value")]
        check(len(names) > 0, "presets offered: %s" % names)
        preset = json.loads(fetch(url + "api/presets")[1])["presets"][0]["name"]
        presets.select_by_value(preset)
        wait.until(lambda d: json.loads(fetch(url + "api/status")[1])["generation"] > gen)
        gen = json.loads(fetch(url + "api/status")[1])["generation"]
        def panel_ksub():
            return [c for c in json.loads(fetch(url + "api/panels")[1])["instances"][0]["panel"]["controls"]
                    if c["name"] == "Ksub"][0]["value"]
        # The prefix change before may still be answered after the preset: the field must end at
        # the panel's own value, whichever answer comes last.
        wait.until(lambda d: ksub.get_attribute("value") == "%g" % (panel_ksub() * 100))
        check(True, "a preset applies through the panel and the fields follow")

        Select(driver.find_element(By.ID, "sweep-control")).select_by_value("Ksheen")
        type_into(driver.find_element(By.ID, "sweep-values"), "0, 200")
        driver.find_element(By.ID, "sweep-start").click()
        wait.until(lambda d: d.find_element(By.ID, "sweep-message").get_attribute("textContent") == "done")
        cells = driver.find_elements(By.CSS_SELECTOR, "#sweep-cells figure")
        captions = [c.find_element(By.TAG_NAME, "figcaption").get_attribute("textContent") for c in cells]
        wait.until(lambda d: all(d.execute_script("return arguments[0].naturalWidth", c.find_element(By.TAG_NAME, "img"))
                                 for c in cells))
        check(captions == ["Ksheen 0 %", "Ksheen 200 %"], "a sweep renders labelled cells: %s" % captions)

        type_into(prefix, "ke")
        wait.until(lambda d: int(img.get_attribute("data-generation")) > gen)
        wait.until(lambda d: img.get_attribute("data-stage") == "full")
        _, final = fetch(url + "api/image?stage=full")

        driver.find_element(By.ID, "save").click()
        save_message = driver.find_element(By.ID, "save-message")
        wait.until(lambda d: "saved to" in save_message.get_attribute("textContent"))
        check(os.path.exists(saved), "Save writes the scene")
        out = os.path.join(work, "lookdev_cli.png")
        subprocess.run([render, saved, "-o", out, "--quiet"], check=True)
        with open(out, "rb") as f:
            cli = f.read()
        check(rgb_of(cli) == rgb_of(final), "the command line renders the saved scene to the page's final picture")
    finally:
        if driver:
            driver.quit()
        server.send_signal(signal.SIGINT)
        try:
            code = server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            server.kill()
            code = None
    check(code == 0, "Ctrl-C ends the server cleanly")


if __name__ == "__main__":
    main()
