#!/usr/bin/python3
# Runs pyserial's RFC 2217 server example (its PortManager and redirector, unchanged) on a
# pseudo-terminal. A pseudo-terminal has no modem lines: setting or reading them fails with
# ENOTTY, which the example takes for a network error, so that it drops every client at once.
# Here those calls do nothing, as on a UART whose modem lines are not wired.
#
#   pyserial_pty_server.py EXAMPLE_SCRIPT -p TCPPORT /dev/pts/N
import errno
import runpy
import sys

import serial.serialposix as posix


def tolerant(method):
    def call(self, *args):
        try:
            return method(self, *args)
        except OSError as error:
            if error.errno != errno.ENOTTY:
                raise
            return None

    return call


for name in ('_update_dtr_state', '_update_rts_state', '_update_break_state'):
    setattr(posix.Serial, name, tolerant(getattr(posix.Serial, name)))
for name in ('cts', 'dsr', 'ri', 'cd'):
    line = getattr(posix.Serial, name)
    setattr(posix.Serial, name, property(lambda self, get=line.fget: bool(tolerant(get)(self))))

example = sys.argv[1]
sys.argv = sys.argv[1:]
runpy.run_path(example, run_name='__main__')
