'''A disk service for tests: one removable card reader holding one card.

Parameters (JSON, all optional):
  device    the card's device path (default /dev/relictor-card)
  device_number   its dev_t, for a device path that names a real node
  image     the file handed out, read-only, by OpenDevice and OpenForBackup
  size      the size the service claims for the card
  label     the card's IdLabel
  model, vendor, serial   of the drive
  writable  hand out the descriptor open for writing as well (a broken service)
  refuse    answer every open with NotAuthorized
  hang      take the name and never answer anything
  open_delay   seconds each open waits before it answers, as while the
            system asks the user's password

Tests plug and pull further cards with the manager's TestPlug(path, label)
and TestPull(path) methods, which send the signals the real service sends.
'''

import os
import time

import dbus
import dbusmock.mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

BLOCK = 'org.freedesktop.UDisks2.Block'
DRIVE = 'org.freedesktop.UDisks2.Drive'
DRIVE_PATH = '/org/freedesktop/UDisks2/drives/Card_Reader'
CARD_PATH = '/org/freedesktop/UDisks2/block_devices/card'

def opener(parameters):
    def open_device(_mock, *_args):
        time.sleep(parameters.get('open_delay', 0))
        if parameters.get('refuse'):
            raise dbus.exceptions.DBusException('Not authorized', name='org.freedesktop.UDisks2.Error.NotAuthorized')
        flags = os.O_RDWR if parameters.get('writable') else os.O_RDONLY
        fd = os.open(parameters['image'], flags)
        try:
            return dbus.types.UnixFd(fd)
        finally:
            os.close(fd)
    return open_device


def block_props(device, size, label, drive, number=0):
    return {
        'Device': dbus.ByteArray(device.encode() + b'\0'),
        'PreferredDevice': dbus.ByteArray(device.encode() + b'\0'),
        'DeviceNumber': dbus.UInt64(number),
        'Size': dbus.UInt64(size),
        'IdUsage': 'filesystem',
        'IdType': 'vfat',
        'IdLabel': label,
        'HintSystem': False,
        'Drive': dbus.ObjectPath(drive),
    }


def load(mock, parameters):
    if parameters.get('hang'):
        # The name is taken before the template loads: from here on the
        # service is on the bus and answers nobody.
        while True:
            time.sleep(3600)

    mock.AddProperties(MAIN_IFACE, {'Version': '2.9.4'})
    mock.AddObject(DRIVE_PATH, DRIVE, {
        'Vendor': parameters.get('vendor', 'Kardex'),
        'Model': parameters.get('model', 'Card Reader'),
        'Serial': parameters.get('serial', '000000264'),
        'Removable': True,
        'MediaRemovable': True,
        'Size': dbus.UInt64(parameters.get('size', 0)),
    }, [])
    mock.AddObject(CARD_PATH, BLOCK,
                   block_props(parameters.get('device', '/dev/relictor-card'), parameters.get('size', 0),
                               parameters.get('label', ''), DRIVE_PATH, parameters.get('device_number', 0)), [])
    card = dbusmock.mockobject.objects[CARD_PATH]
    card.AddMethod(BLOCK, 'OpenDevice', 'sa{sv}', 'h', opener(parameters))
    card.AddMethod(BLOCK, 'OpenForBackup', 'a{sv}', 'h', opener(parameters))

    def plug(mock_self, device, label):
        path = '/org/freedesktop/UDisks2/block_devices/' + device.rsplit('/', 1)[-1].replace('-', '_')
        # A path that names a real node carries its device number.
        number = os.stat(device).st_rdev if os.path.exists(device) else 0
        mock.AddObject(path, BLOCK, block_props(device, 1 << 20, label, DRIVE_PATH, number), [])
        block = dbusmock.mockobject.objects[path]
        block.AddMethod(BLOCK, 'OpenDevice', 'sa{sv}', 'h', opener(parameters))
        block.AddMethod(BLOCK, 'OpenForBackup', 'a{sv}', 'h', opener(parameters))
        mock.object_manager_emit_added(path)

    def pull(mock_self, device):
        path = '/org/freedesktop/UDisks2/block_devices/' + device.rsplit('/', 1)[-1].replace('-', '_')
        mock.object_manager_emit_removed(path)
        mock.RemoveObject(path)

    mock.AddMethod(MAIN_IFACE, 'TestPlug', 'ss', '', plug)
    mock.AddMethod(MAIN_IFACE, 'TestPull', 's', '', pull)
