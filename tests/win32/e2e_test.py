#!/usr/bin/python3
"""vindrel.exe end to end under Wine and a private Xvfb, driven with xdotool.

A test-only netapi32.dll in the prefix's system folder (Wine told to load it
rather than its own) records every send and answers scripted statuses. A
message box's text is read from Wine's msgbox trace, its title from its X
window. The pointer's image is read
through XFixes to see the hourglass come and go. Without a window manager,
Wine is told to manage its windows itself so that keys reach message boxes.

Runs: first start (hint text, 2273 prompt, No); typing, Esc in every
control, the over-length notice, Ctrl+Enter with Esc during a blocked send
and the generic prompt answered Yes by Enter; restart
with the To text restored, Tab to cmdSend and Space; an empty To text
remembered as empty; the names sent to before completing in txtTo.
"""
import argparse
import contextlib
import ctypes
import os
import pwd
import re
import shutil
import struct
import subprocess
import sys
import time
import zlib

from checklist import Checklist, offline_namespace, system_folder, utf16_hex, windows_path

HINT = 'Login names seperated by semicolon (or enter * for all)'
SETTINGS_KEY = r'HKCU\Software\Vindrel\Last Values'
# Client area 3585 x 2505 twips at 96 dots per inch.
CLIENT_PIXELS = (239, 167)
# A spot of frmMain's client area that no control covers (pixels).
BACKGROUND_SPOT = (20, 150)


class Failed(Exception):
    pass


def wait_for(what, probe, timeout=15.0, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failed(f'timed out waiting for {what}')
        time.sleep(interval)


class XServer:
    """A private Xvfb on the first free display number."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b''
        with os.fdopen(read_end, 'rb') as pipe:
            while not number.endswith(b'\n'):
                chunk = pipe.read(1)
                if not chunk:
                    raise Failed('Xvfb did not start')
                number += chunk
        self.display = ':' + number.decode().strip()
        os.environ['DISPLAY'] = self.display  # for xdotool and xclip
        self.x11 = ctypes.CDLL('libX11.so.6')
        self.xfixes = ctypes.CDLL('libXfixes.so.3')
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.dpy = self.x11.XOpenDisplay(self.display.encode())
        if not self.dpy:
            raise Failed(f'cannot open display {self.display}')

    def cursor_image(self):
        """The pointer's current image, as something comparable."""

        class CursorImage(ctypes.Structure):
            _fields_ = [('x', ctypes.c_short), ('y', ctypes.c_short),
                        ('width', ctypes.c_ushort), ('height', ctypes.c_ushort),
                        ('xhot', ctypes.c_ushort), ('yhot', ctypes.c_ushort),
                        ('cursor_serial', ctypes.c_ulong), ('pixels', ctypes.POINTER(ctypes.c_ulong)),
                        ('atom', ctypes.c_ulong), ('name', ctypes.c_char_p)]

        self.xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
        self.xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        image = self.xfixes.XFixesGetCursorImage(self.dpy)
        if not image:
            raise Failed('XFixesGetCursorImage failed')
        c = image.contents
        pixels = tuple(c.pixels[i] & 0xFFFFFFFF for i in range(c.width * c.height))
        return (c.width, c.height, c.xhot, c.yhot, pixels)

    def save_png(self, path, x, y, width, height):
        """Writes a rectangle of the screen as a PNG file."""

        class Image(ctypes.Structure):
            _fields_ = [('width', ctypes.c_int), ('height', ctypes.c_int), ('xoffset', ctypes.c_int),
                        ('format', ctypes.c_int), ('data', ctypes.c_void_p), ('byte_order', ctypes.c_int),
                        ('bitmap_unit', ctypes.c_int), ('bitmap_bit_order', ctypes.c_int),
                        ('bitmap_pad', ctypes.c_int), ('depth', ctypes.c_int),
                        ('bytes_per_line', ctypes.c_int), ('bits_per_pixel', ctypes.c_int)]

        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(Image)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        root = self.x11.XDefaultRootWindow(self.dpy)
        image = self.x11.XGetImage(self.dpy, root, x, y, width, height, 0xFFFFFFFF, 2)  # ZPixmap
        if not image or image.contents.bits_per_pixel != 32:
            raise Failed('XGetImage failed')
        img = image.contents
        raw = ctypes.string_at(img.data, img.bytes_per_line * height)
        rows = b''
        for row in range(height):
            line = raw[row * img.bytes_per_line:]
            rows += b'\0' + b''.join(line[4 * i + 2:4 * i + 3] + line[4 * i + 1:4 * i + 2] + line[4 * i:4 * i + 1]
                                     for i in range(width))

        def chunk(kind, body):
            return (struct.pack('>I', len(body)) + kind + body +
                    struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))

        with open(path, 'wb') as f:
            f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
                    chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


class Wine:
    """`wrap` runs every Wine command through it, e.g. into a network
    namespace, where the wineserver must run too."""

    def __init__(self, loader, arch, prefix, display, wrap=()):
        self.loader = loader
        self.wrap = list(wrap)
        self.env = dict(os.environ, WINEPREFIX=prefix, WINELOADER=loader, WINEARCH=arch,
                        WINEDEBUG='-all', DISPLAY=display)
        self.wineserver = os.path.join(os.path.dirname(loader), 'wineserver')
        # A server left from an earlier run may have started without this
        # display; programs it serves would draw nowhere.
        if os.path.exists(prefix):
            self.stop()
            subprocess.run([self.wineserver, '-w'], env=self.env, timeout=60)
        if not os.path.exists(os.path.join(prefix, 'system.reg')):
            # A copy of the build's template when there is one: wineboot takes seconds.
            template = os.environ.get('VINDREL_WINE_TEMPLATE', '')
            if os.path.exists(os.path.join(template, 'system.reg')):
                shutil.rmtree(prefix, ignore_errors=True)
                shutil.copytree(template, prefix, symlinks=True)
            else:
                self.run(['wineboot', '-i'], WINEDLLOVERRIDES='mscoree,mshtml=d')
                subprocess.run([self.wineserver, '-w'], env=self.env, timeout=120)

    def run(self, args, timeout=120, **extra):
        return subprocess.run(self.wrap + [self.loader] + args, env=dict(self.env, **extra), capture_output=True,
                              text=True, timeout=timeout)

    def settings_value(self):
        """The remembered To text, or None when there is none."""
        done = self.run(['reg', 'query', SETTINGS_KEY, '/v', 'To'])
        if done.returncode != 0:
            return None
        for line in done.stdout.splitlines():
            if 'REG_SZ' in line:
                return line.split('REG_SZ', 1)[1][4:].rstrip('\r\n')
        return None

    def stop(self):
        subprocess.run(self.wrap + [self.wineserver, '-k'], env=self.env, timeout=30)


def xdotool(*args):
    done = subprocess.run(['xdotool'] + [str(a) for a in args], capture_output=True, text=True, timeout=30)
    return done.stdout


class App:
    """One run of vindrel.exe."""

    def __init__(self, wine, run_dir, log, statuses, overrides='netapi32=n', **extra):
        self.wine, self.log = wine, log
        self.trace = log + '.trace'
        self.boxes_seen = 0
        env = dict(wine.env, WINEDLLOVERRIDES=overrides, VINDREL_NETLOG=windows_path(log),
                   VINDREL_NETSTATUSES=statuses, WINEDEBUG='-all,trace+msgbox,trace+tooltips', **extra)
        if os.path.exists(log):
            os.remove(log)
        with open(self.trace, 'w') as trace:
            self.proc = subprocess.Popen(wine.wrap + [wine.loader, 'vindrel.exe'], cwd=run_dir, env=env,
                                         stdout=subprocess.DEVNULL, stderr=trace)
        self.main = wait_for('frmMain', lambda: (self.windows() or [None])[0], timeout=60)
        self.point_at(self.main, *BACKGROUND_SPOT)
        time.sleep(0.5)
        self.shown_at_start = self.shown()

    def windows(self):
        return xdotool('search', '--onlyvisible', '--name', '^Vindrel$').split()

    def popups(self):
        """Windows shown since the start but frmMain: the completion list."""
        return [w for w in self.shown() if w not in self.shown_at_start + self.windows()]

    def shown(self):
        return xdotool('search', '--onlyvisible', '--maxdepth', 1, '').split()

    def geometry(self, window):
        out = xdotool('getwindowgeometry', '--shell', window)
        values = dict(line.split('=', 1) for line in out.split())
        return int(values['X']), int(values['Y']), int(values['WIDTH']), int(values['HEIGHT'])

    def point_at(self, window, x, y):
        # No window manager: keys go where the pointer is, and the window is
        # told it has the focus.
        xdotool('mousemove', '--window', window, x, y)
        xdotool('windowfocus', window)

    def client_point(self, x, y):
        """A point of frmMain's client area in its X window, which holds the
        frame too when Wine draws it."""
        _, _, width, height = self.geometry(self.main)
        border = (width - CLIENT_PIXELS[0]) // 2
        return border + x, height - border - CLIENT_PIXELS[1] + y

    def traced(self, pattern):
        with open(self.trace, encoding='utf-8', errors='replace') as f:
            return re.search(pattern, f.read())

    def keys(self, *keys):
        for key in keys:
            xdotool('key', '--delay', 60, key)
            time.sleep(0.15)

    def type(self, text):
        xdotool('type', '--delay', 30, text)
        time.sleep(0.2)

    def box(self):
        """The message box now open over frmMain."""
        box = wait_for('a message box', lambda: [w for w in self.windows() if w != self.main])[0]
        # Keys to the box; the pointer stays over frmMain, where the busy
        # pointer must show again once the box is answered.
        xdotool('windowfocus', box)
        time.sleep(0.3)
        return box

    def box_text(self):
        """The text of the box opened last, as Wine's msgbox trace shows it."""

        def texts():
            with open(self.trace, encoding='utf-8', errors='replace') as f:
                found = re.findall(r'MSGBOX_OnInit L"(.*)"\s*$', f.read(), re.MULTILINE)
            return found if len(found) > self.boxes_seen else None

        found = wait_for('the box text in the trace', texts, timeout=10)
        self.boxes_seen = len(found)
        escapes = {'r': '\r', 'n': '\n', 't': '\t', '\\': '\\', '"': '"'}
        return re.sub(r'\\(x[0-9a-fA-F]{4}|.)',
                      lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 5 else
                      escapes.get(m.group(1), m.group(0)), found[-1])

    def answer(self, box, key):
        self.keys(key)
        wait_for('the box to close', lambda: box not in self.windows())
        # Without a window manager Wine may not give frmMain back the
        # activation; a click on its bare background does, as a user would.
        self.point_at(self.main, *BACKGROUND_SPOT)
        xdotool('click', 1)
        time.sleep(0.3)

    def calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [dict(field.split('=', 1) for field in line.split()[2:]) for line in f]

    def close(self):
        self.point_at(self.main, *BACKGROUND_SPOT)
        self.keys('alt+F4')
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failed('vindrel.exe did not end when its window was closed')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--loader', required=True)
    parser.add_argument('--arch', required=True)
    parser.add_argument('--exe', required=True)
    parser.add_argument('--double', required=True)
    parser.add_argument('--work', required=True)
    parser.add_argument('--screenshot', help='also save frmMain as this PNG file')
    opts = parser.parse_args()

    run_dir = os.path.join(opts.work, 'run')
    os.makedirs(run_dir, exist_ok=True)
    shutil.copy(opts.exe, os.path.join(run_dir, 'vindrel.exe'))
    # The program looks for the library in the system folder only.
    planted = os.path.join(run_dir, 'netapi32.dll')
    if os.path.exists(planted):
        os.remove(planted)
    log = os.path.join(opts.work, 'calls.log')
    login = pwd.getpwuid(os.getuid()).pw_name
    signed = lambda message: message + '\r\nSent by ' + login

    checks = Checklist()
    check = checks.check

    def check_calls(app, names, message, what):
        calls = wait_for(f'{len(names)} sends', lambda: len(app.calls()) >= len(names) and app.calls(),
                         timeout=15) if names else app.calls()
        check(f'{what}: one send per non-blank recipient, in order',
              [c['msgname'] for c in calls], [utf16_hex(n) for n in names])
        check(f'{what}: no server, no sender name', {(c['server'], c['from']) for c in calls},
              {('-', '-')} if names else set())
        check(f'{what}: exact bytes and length', {(c['bytes'], int(c['length'])) for c in calls},
              {(utf16_hex(signed(message)), 2 * len(signed(message)))} if names else set())
        check(f'{what}: hourglass on during every send', {c['busy'] for c in calls},
              {'1'} if names else set())

    xserver = XServer()
    wine = None
    offline = contextlib.ExitStack()
    try:
        prefix = os.path.join(opts.work, 'prefix')
        wine = Wine(opts.loader, opts.arch, prefix, xserver.display,
                    wrap=offline.enter_context(offline_namespace('e2e')))
        # The prefix is this test's own: the double stays there.
        shutil.copy(opts.double, os.path.join(system_folder(prefix, opts.exe), 'netapi32.dll'))
        wine.run(['reg', 'delete', r'HKCU\Software\Vindrel', '/f'])
        x11_driver = r'HKCU\Software\Wine\X11 Driver'
        wine.run(['reg', 'delete', x11_driver, '/f'])

        # As a window manager would show it, the X window is the client area:
        # 3585 x 2505 twips at the screen's resolution.
        desktop = r'HKCU\Control Panel\Desktop'
        for dpi in (144, 96):
            wine.run(['reg', 'add', desktop, '/v', 'LogPixels', '/t', 'REG_DWORD', '/d', str(dpi), '/f'])
            app = App(wine, run_dir, log, '')
            check(f'client area is 3585 x 2505 twips at {dpi} dots per inch', app.geometry(app.main)[2:],
                  tuple((twips * dpi + 720) // 1440 for twips in (3585, 2505)))
            app.close()
        wine.run(['reg', 'add', x11_driver, '/v', 'Managed', '/d', 'N', '/f'])

        # First start: no remembered To text, so the hint stands in the box.
        check('no settings value before the first send', wine.settings_value(), None)
        app = App(wine, run_dir, log, '2273')
        app.keys('Return')
        time.sleep(1)
        check('Enter in txtTo sends nothing', (app.calls(), app.windows()), ([], [app.main]))
        app.keys('alt+s')
        box = app.box()
        check('Alt+S sends the untouched hint as one name; the 2273 prompt', app.box_text(),
              f"Error: Message didn't reached to '{HINT}'.\r\nThe To field should contains valid "
              'login name or computer name or * or user might not have logged on\r\nContinue?')
        app.answer(box, 'n')
        check_calls(app, [HINT], '', 'first start')
        check('the To text is remembered before the send', wine.settings_value(), HINT)
        app.close()

        def escape(app, where):
            """Esc does nothing anywhere in frmMain: it has no cancel button."""
            app.keys('Escape')
            # A close takes a moment to reach X and end the process.
            time.sleep(2)
            if not check(f'Esc {where} leaves frmMain open', (app.proc.poll(), app.windows()),
                         (None, [app.main])):
                raise Failed(f'frmMain closed by Esc {where}')

        # Second start: type recipients and an overlong message, then a good
        # one; Esc in each control on the way, and during a blocked send.
        app = App(wine, run_dir, log, '0,0:4000,5,0')
        app.keys('End', 'shift+Home', 'BackSpace')
        app.type('user1; pc42 ;;bob;carol')
        escape(app, 'in txtTo')
        app.keys('Tab')
        app.type('x' * 128)
        escape(app, 'in txtMessage')
        app.keys('alt+s')
        box = app.box()
        check('128 characters: the over-length notice', app.box_text(),
              'Message length is 128 chars which exceeds permitted length of 128 char.')
        app.answer(box, 'Return')
        check('the over-length notice sends nothing and keeps the old To text',
              (app.calls(), wine.settings_value()), ([], HINT))
        escape(app, 'on cmdSend')
        check('Esc on cmdSend sends nothing', app.calls(), [])
        # Alt+S left the focus on cmdSend; Shift+Tab selects the whole message.
        app.keys('shift+Tab')
        app.type('Lunch?')
        idle = xserver.cursor_image()
        app.keys('ctrl+Return')
        # Wine shows a new pointer once the thread pumps its messages: after
        # the first send, while the second one blocks.
        wait_for('the hourglass while the second send blocks', lambda: xserver.cursor_image() != idle,
                 timeout=6, interval=0.05)
        check('the pointer turns busy during the dispatch', True, True)
        # Seen once the send returns and the dispatch pumps messages again.
        app.keys('Escape')
        box = app.box()
        check('status 5: the generic prompt', app.box_text(),
              'Oops! Something wrong! To field should contain user or computer name or contact '
              'Dorvik! Error code is 5\r\nContinue?')
        app.answer(box, 'Return')
        check_calls(app, ['user1', 'pc42', 'bob', 'carol'], 'Lunch?',
                    'Ctrl+Enter, Esc during a blocked send, Enter answers Yes')
        check('after Esc during the dispatch frmMain is still open', (app.proc.poll(), app.windows()),
              (None, [app.main]))
        check('busy pointer not left on after the dispatch',
              wait_for('the default pointer', lambda: xserver.cursor_image() == idle, timeout=5), True)
        check('the To text exactly as typed is remembered', wine.settings_value(), 'user1; pc42 ;;bob;carol')
        app.close()

        # Third start: the To text comes back; Tab reaches cmdSend, Space presses it.
        app = App(wine, run_dir, log, '')
        if opts.screenshot:
            x, y, width, height = app.geometry(app.main)
            xdotool('mousemove', 600, 500)
            time.sleep(0.5)
            xserver.save_png(opts.screenshot, x, y, width, height)
            app.point_at(app.main, *BACKGROUND_SPOT)
        xdotool('mousemove', '--window', app.main, *app.client_point(140, 18))  # over txtTo
        xdotool('mousemove_relative', 2, 1)
        check('the tooltip over txtTo', bool(wait_for(
            'the tooltip', lambda: app.traced(r'Show tooltip .*L"Person\'s login name"'), timeout=10)), True)
        app.point_at(app.main, *BACKGROUND_SPOT)
        app.keys('Tab', 'Tab', 'space')
        check_calls(app, ['user1', 'pc42', 'bob', 'carol'], '', 'restored To text, Tab Tab Space')
        time.sleep(0.5)
        check('all sends succeeded: no box', app.windows(), [app.main])
        app.keys('shift+Tab', 'shift+Tab', 'End', 'shift+Home', 'BackSpace', 'alt+s')
        time.sleep(1)
        check('an empty To text sends nothing and shows nothing', (len(app.calls()), app.windows()),
              (4, [app.main]))
        check('an empty To text is remembered as empty', wine.settings_value(), '')
        app.close()

        # Fourth start: the empty text comes back empty, not as the hint.
        app = App(wine, run_dir, log, '0:2000,0')
        app.keys('alt+s')
        time.sleep(1)
        check('an empty remembered To text restores empty', (app.calls(), app.windows()), ([], [app.main]))
        # Closing frmMain while a send blocks: the event pump sees it gone,
        # the dispatch stops and the program ends.
        app.keys('shift+Tab', 'shift+Tab')  # from cmdSend back to txtTo
        app.type('a;b')
        app.keys('alt+s')
        wait_for('the first send', app.calls)
        app.keys('alt+F4')
        try:
            app.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            app.proc.kill()
            raise Failed('vindrel.exe did not end when closed during a dispatch')
        check('closed during a dispatch: the rest is not sent', [c['msgname'] for c in app.calls()],
              [utf16_hex('a')])

        # Fifth start: the names delivered to before complete the one typed
        # after the last ";", whatever its case; Down chooses, Tab or Enter
        # take it, so does a click; Esc closes the list and Enter then sends
        # nothing.
        app = App(wine, run_dir, log, '')
        app.keys('End', 'shift+Home', 'BackSpace')
        app.type('C')
        check('typing shows the list of names sent to before', bool(wait_for('the list', app.popups, timeout=5)),
              True)
        app.keys('Down', 'Tab')
        check('Tab takes the name and closes the list', app.popups(), [])
        app.type(';p')
        app.keys('Down', 'Return')
        app.type(';u')
        xdotool('mousemove', '--window', wait_for('the list', app.popups, timeout=5)[0], 5, 5)
        xdotool('click', 1)
        app.point_at(app.main, *BACKGROUND_SPOT)
        app.type('; b')
        app.keys('Escape', 'Return')
        time.sleep(1)
        check('Esc closes the list; Enter then sends nothing', (app.popups(), app.calls(), app.windows()),
              ([], [], [app.main]))
        app.keys('alt+s')
        check_calls(app, ['carol', 'pc42', 'user1', 'b'], '', 'completed To text')
        check('the completed To text is remembered', wine.settings_value(), 'carol;pc42;user1; b')
        app.close()
    except Failed as error:
        checks.fail(str(error))
    finally:
        if wine:
            wine.stop()
        offline.close()
        xserver.close()

    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
