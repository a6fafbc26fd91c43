'''A notification daemon for vindrel-inbox's tests: python3-dbusmock's,
keeping every Notify and CloseNotification call for the test to read, and
able to answer late. Parameters: "capabilities" (space-separated) and
"delay" (seconds before each Notify is answered).'''

import json
import time

BUS_NAME = 'org.freedesktop.Notifications'
MAIN_OBJ = '/org/freedesktop/Notifications'
MAIN_IFACE = 'org.freedesktop.Notifications'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.caps = parameters.get('capabilities', 'body actions').split()
    mock.delay = float(parameters.get('delay', 0))
    mock.kept = []
    mock.closed = []
    mock.next_id = 1
    mock.json = json
    mock.time = time
    mock.AddMethods(MAIN_IFACE, [
        ('GetCapabilities', '', 'as', 'ret = self.caps'),
        ('GetServerInformation', '', 'ssss', 'ret = ("recorder", "tests", "1.0", "1.2")'),
        ('Notify', 'susssasa{sv}i', 'u', '''self.time.sleep(self.delay)
self.kept.append(list(args))
if args[1]:
    ret = args[1]
else:
    ret = self.next_id
    self.next_id += 1
'''),
        ('CloseNotification', 'u', '', '''self.closed.append(int(args[0]))
self.EmitSignal("org.freedesktop.Notifications", "NotificationClosed", "uu", [args[0], 3])'''),
        ('Kept', '', 's', 'ret = self.json.dumps(self.kept)'),
        ('Closed', '', 's', 'ret = self.json.dumps(self.closed)'),
        ('Configure', 'asd', '', 'self.caps = list(args[0]); self.delay = args[1]; '
                                 'self.kept = []; self.closed = []; self.next_id = 1'),
    ])
