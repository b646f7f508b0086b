#!/usr/bin/env python3
"""A person's visit to the notes service, in a real browser.

Starts tolvane-host with the notes extension on a free loopback port, then
drives Debian's headless Chromium with Selenium: opens /, fills in and submits
the form, follows the redirect to the new note, checks what the page shows,
saves a screenshot, and checks that the list links the note and the form
remembers the author.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def start_host(host, extension, data_dir, log_path):
    env = dict(os.environ, TOLVANE_NOTES_DIR=data_dir)
    log = open(log_path, "wb")
    process = subprocess.Popen([host, "--listen", "127.0.0.1:0", extension], stdin=subprocess.DEVNULL,
                               stdout=log, stderr=log, env=env)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(log_path, "rb") as f:
            found = re.search(rb"listening on http://127\.0\.0\.1:(\d+)", f.read())
        if found:
            return process, int(found.group(1))
        if process.poll() is not None:
            break
        time.sleep(0.05)
    process.kill()
    with open(log_path, "rb") as f:
        fail("tolvane-host did not start:\n" + f.read().decode(errors="replace"))


def stop_host(process, log_path):
    process.send_signal(signal.SIGTERM)
    try:
        status = process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        status = "no exit within 20 s"
    if status != 0:
        with open(log_path, "rb") as f:
            fail("tolvane-host ended with %s:\n%s" % (status, f.read().decode(errors="replace")))


def browser(profile_dir):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        fail("python3-selenium is missing: run scripts/install-deps.sh")
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            fail(path + " is missing: run scripts/install-deps.sh")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1000,900", "--user-data-dir=" + profile_dir):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def visit(driver, base, screenshot):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    title = "Groceries <b>& more</b>"
    body = "Milk\nEggs — free range\n\"Grüße\""
    author = "Selenia"

    driver.get(base + "/")
    if driver.title != "Notes":
        fail("the start page is titled %r" % driver.title)
    form = driver.find_element(By.CSS_SELECTOR, "form[action='/notes']")
    form.find_element(By.NAME, "title").send_keys(title)
    form.find_element(By.NAME, "body").send_keys(body)
    form.find_element(By.NAME, "author").send_keys(author)
    form.find_element(By.CSS_SELECTOR, "button[type=submit]").click()

    WebDriverWait(driver, 20).until(lambda d: re.search(r"/notes/\d+$", d.current_url))
    note_url = driver.current_url
    heading = driver.find_element(By.TAG_NAME, "h1").text
    if heading != title:
        fail("the note's heading reads %r, not %r" % (heading, title))
    shown = driver.find_element(By.CLASS_NAME, "text").text
    if shown != body:
        fail("the note's text reads %r, not %r" % (shown, body))
    if "by " + author not in driver.find_element(By.CLASS_NAME, "by").text:
        fail("the note does not name its author")
    driver.save_screenshot(screenshot)

    driver.get(base + "/")
    links = [a for a in driver.find_elements(By.CSS_SELECTOR, "li a") if a.text == title]
    if len(links) != 1 or links[0].get_attribute("href") != note_url:
        fail("the list does not link the note at " + note_url)
    remembered = driver.find_element(By.NAME, "author").get_attribute("value")
    if remembered != author:
        fail("the form offers the author %r, not %r" % (remembered, author))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--host", required=True)
    parser.add_argument("--extension", required=True)
    parser.add_argument("--screenshot", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="notes-browser-") as work:
        data_dir = os.path.join(work, "data")
        profile_dir = os.path.join(work, "profile")
        os.mkdir(data_dir)
        log_path = os.path.join(work, "host.log")
        host, port = start_host(args.host, args.extension, data_dir, log_path)
        try:
            driver = browser(profile_dir)
            try:
                visit(driver, "http://127.0.0.1:%d" % port, args.screenshot)
            finally:
                driver.quit()
        finally:
            if host.poll() is None:
                stop_host(host, log_path)
    print("screenshot: " + args.screenshot)


if __name__ == "__main__":
    main()
