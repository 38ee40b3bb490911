#!/usr/bin/python3
"""The host's live view (--http) in a real browser: headless Chromium, driven
by Selenium, opens the page of a running demo, waits until every tracker has
moved, and compares the poses, rotations and buttons that the page draws with
the host's JSON lines of the same time stamps; it proves that the scene is
drawn (the canvas holds the scene's colours, not one), saves a screenshot,
and prints the delay from each sample's publication in the host to its
arrival in the page. Then, without the browser: a page that closes frees its
stream (the ninth page is refused while eight are open, and taken once they
have closed), and a second host that asks for the same port is refused.

Usage: host-view-browser.py VANTREL_HOST SCREENSHOT_DIR
Exit 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import http.client
import json
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

CHROMIUM = '/usr/bin/chromium'
DRIVER = '/usr/bin/chromedriver'

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    webdriver = None
if webdriver is None or not os.path.exists(CHROMIUM) or not os.path.exists(DRIVER):
    print('skipped: headless Chromium (Debian chromium, chromium-driver, python3-selenium) is not installed; '
          'tools/setup.sh installs it')
    sys.exit(77)

host_program, shots = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix='vantrel-view-')
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
        print('FAIL:', text)
    return condition


def start_host(*options):
    out = open(os.path.join(work, 'out.jsonl'), 'wb')
    err = open(os.path.join(work, 'err.txt'), 'wb')
    return subprocess.Popen([host_program, 'demo', '--format', 'jsonl', *options], stdout=out, stderr=err,
                            stdin=subprocess.DEVNULL)


def wait_for(condition, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise SystemExit('timed out waiting for ' + what)


def rotation(azimuth, elevation, roll):
    """O = Ry(A) Rx(E) Rz(R) on column vectors, row by row (the README's convention)."""
    a, e, r = (math.radians(v) for v in (azimuth, elevation, roll))
    ca, sa, ce, se, cr, sr = math.cos(a), math.sin(a), math.cos(e), math.sin(e), math.cos(r), math.sin(r)
    return [ca * cr + sa * se * sr, sa * se * cr - ca * sr, sa * ce,
            ce * sr, ce * cr, -se,
            ca * se * sr - sa * cr, ca * se * cr + sa * sr, ca * ce]


def stamp(time_pair):
    return '%d.%06d' % (time_pair[0], time_pair[1])


host = start_host('--http', '0', '--duration', '60')
driver = None
try:
    url = wait_for(lambda: re.search(r'the view at (http://\S+)', open(os.path.join(work, 'err.txt')).read()),
                   20, 'the view\'s address').group(1)
    print('the view at', url)
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     '--enable-unsafe-swiftshader', '--window-size=1400,900',
                     '--user-data-dir=' + os.path.join(work, 'chromium')]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    driver.set_script_timeout(20)
    driver.get(url)

    # Every tracker of the demo has been drawn at two poses.
    first = {}

    def moved():
        shown = driver.execute_script('return window.vantrelView.shown')
        for tracker, drawn in shown.items():
            first.setdefault(tracker, drawn['pose'])
        return len(shown) == 2 and all(shown[t]['pose'] != first[t] for t in shown)
    wait_for(moved, 30, 'both trackers to move in the page')

    # What the page draws, at several instants.
    snapshots = []
    for _ in range(6):
        snapshots.append(driver.execute_script(
            'var v = window.vantrelView; return {shown: v.shown, buttons: v.buttons, frames: v.frames};'))
        time.sleep(0.4)
    check(snapshots[-1]['frames'] > snapshots[0]['frames'], 'the page draws frames')

    # The scene is drawn: the canvas holds many colours, and much of it is
    # not the background.
    colours = driver.execute_script('''
        var canvas = document.querySelector('#scene canvas');
        var copy = document.createElement('canvas');
        copy.width = canvas.width; copy.height = canvas.height;
        var context = copy.getContext('2d');
        context.drawImage(canvas, 0, 0);
        var data = context.getImageData(0, 0, copy.width, copy.height).data;
        var seen = {}, distinct = 0, other = 0;
        for (var i = 0; i < data.length; i += 4) {
            var key = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
            if (!seen[key]) { seen[key] = true; ++distinct; }
            if (Math.abs(data[i] - 0x15) + Math.abs(data[i + 1] - 0x19) + Math.abs(data[i + 2] - 0x1e) > 12) { ++other; }
        }
        return {width: copy.width, height: copy.height, distinct: distinct, other: other / (data.length / 4)};''')
    print('canvas %(width)dx%(height)d: %(distinct)d colours, %(other).2f of it not the background' % colours)
    check(colours['width'] > 300 and colours['height'] > 300, 'the canvas has its size')
    check(colours['distinct'] >= 200, 'the canvas holds the scene\'s colours')
    check(colours['other'] >= 0.05, 'the scene covers the canvas')
    delays = driver.execute_script('return window.vantrelView.delays')
    host_delays = driver.execute_script('return window.vantrelView.hostDelays')
    os.makedirs(shots, exist_ok=True)
    driver.save_screenshot(os.path.join(shots, 'view.png'))
    print('screenshot:', os.path.join(shots, 'view.png'))
finally:
    if driver is not None:
        driver.quit()
host.send_signal(signal.SIGTERM)
host.wait(20)
check(host.returncode == 0, 'the demo ended with exit status 0, not %s' % host.returncode)

# The host's JSON lines of the same time stamps.
trackers, controllers = {}, {}
for line in open(os.path.join(work, 'out.jsonl')):
    sample = json.loads(line)
    if 'tracker' in sample:
        trackers[(sample['tracker'], '%.6f' % sample['time'])] = sample
    elif 'controller' in sample:
        controllers[(sample['controller'], '%.6f' % sample['time'])] = sample
compared = 0
for snapshot in snapshots:
    for tracker, drawn in snapshot['shown'].items():
        line = trackers.get((int(tracker), stamp(drawn['time'])))
        if not check(line is not None, 'tracker %s at %s is in the JSON lines' % (tracker, stamp(drawn['time']))):
            continue
        names = ['x', 'y', 'z', 'azimuth', 'elevation', 'roll']
        for k, name in enumerate(names):
            check(abs(drawn['pose'][k] / 1e5 - line[name]) <= 1e-5,
                  'tracker %s %s: page %.5f, JSON line %.5f' % (tracker, name, drawn['pose'][k] / 1e5, line[name]))
        expected = rotation(line['azimuth'], line['elevation'], line['roll'])
        worst = max(abs(a - b) for a, b in zip(drawn['rotation'], expected))
        check(worst <= 1e-5, 'tracker %s: the body\'s rotation is off the angles\' by %g' % (tracker, worst))
        compared += 1
    for tracker, buttons in snapshot['buttons'].items():
        if buttons is None:
            continue
        line = controllers.get((buttons['id'], stamp(buttons['time'])))
        check(line is not None and line['buttons'] == buttons['buttons'],
              'tracker %s\'s buttons %s at %s are the controller line\'s %s' %
              (tracker, buttons['buttons'], stamp(buttons['time']), line and line['buttons']))
print('%d poses that the page drew compared with the JSON lines' % compared)
check(compared >= 12, 'poses of both trackers at six instants compared')
for name, values in (('to the page', delays), ('to the event that carried it', host_delays)):
    if values:
        values.sort()
        print('delay from publication %s over %d samples: median %.2f ms, 99th percentile %.2f ms, largest %.2f ms'
              % (name, len(values), values[len(values) // 2], values[int(len(values) * 0.99)], values[-1]))


# Without the browser: a closed page frees its stream, and the port is the
# host's alone.
def stream_status(port):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=5)
    connection.request('GET', '/samples')
    return connection, connection.getresponse().status


host = start_host('--http', '0', '--duration', '30')
try:
    url = wait_for(lambda: re.search(r'the view at (http://\S+)', open(os.path.join(work, 'err.txt')).read()),
                   20, 'the view\'s address').group(1)
    port = int(url.rsplit(':', 1)[1].strip('/'))
    pages = [stream_status(port) for _ in range(8)]
    check(all(status == 200 for _, status in pages), 'eight pages follow the stream')
    extra, status = stream_status(port)
    check(status == 503, 'a ninth page is refused while eight are open (status %d)' % status)
    extra.close()
    for connection, _ in pages:
        connection.sock.shutdown(socket.SHUT_RDWR)
        connection.close()
    end = time.monotonic() + 5
    while True:
        again, status = stream_status(port)
        again.close()
        if status == 200 or time.monotonic() > end:
            break
        time.sleep(0.2)
    check(status == 200, 'a page is taken again once the eight have closed (status %d)' % status)

    second = subprocess.run([host_program, 'demo', '--http', str(port), '--duration', '1'], capture_output=True,
                            text=True, timeout=30)
    expected = ('vantrel-host: cannot serve the view at 127.0.0.1:%d: the port is taken, or the address is not '
                'one of this machine\'s\n' % port)
    check(second.returncode == 2 and expected in second.stderr,
          'a second host on the port is refused (exit %d): %s' % (second.returncode, second.stderr))
finally:
    host.send_signal(signal.SIGTERM)
    host.wait(20)
shutil.rmtree(work, ignore_errors=True)
print('%d failures' % len(failures) if failures else 'the view shows what the host published')
sys.exit(1 if failures else 0)
