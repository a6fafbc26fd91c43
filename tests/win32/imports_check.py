#!/usr/bin/python3
"""Reads every program shipped for Windows, from the list the build writes
(windows-programs.txt, one file a line): each must start on Windows XP SP3
and import only libraries the system takes from its own folder, so that no
DLL of the same name beside the program runs in it."""
import argparse
import sys

import pefile

from checklist import Checklist

MACHINES = {'i386': 0x14c, 'amd64': 0x8664}
# The newest subsystem version each machine's Windows XP accepts (XP, XP x64).
XP_SUBSYSTEM = {'i386': (5, 1), 'amd64': (5, 2)}
# Known DLLs, which the system maps from its own folder whatever lies beside
# the program, and msvcrt, which the toolchain's runtime needs. COMCTL32 is no
# known DLL: the window loads it by full path.
STATIC_IMPORTS = {'advapi32.dll', 'gdi32.dll', 'kernel32.dll', 'msvcrt.dll', 'shell32.dll', 'user32.dll'}
# Functions Windows has only since Vista that the toolchain's libraries are
# known to import (threads, clocks, locales; and C functions XP's msvcrt.dll
# lacks); any one of them keeps the program from starting on XP.
SINCE_VISTA = {'GetTickCount64', 'InitializeConditionVariable', 'SleepConditionVariableCS',
               'SleepConditionVariableSRW', 'WakeConditionVariable', 'WakeAllConditionVariable',
               'InitializeSRWLock', 'AcquireSRWLockExclusive', 'AcquireSRWLockShared',
               'ReleaseSRWLockExclusive', 'ReleaseSRWLockShared', 'InitOnceExecuteOnce',
               'InitOnceBeginInitialize', 'InitOnceComplete', 'FlsAlloc', 'FlsGetValue',
               'FlsSetValue', 'FlsFree', 'GetSystemTimePreciseAsFileTime', 'LCMapStringEx',
               'GetLocaleInfoEx', 'CompareStringEx', 'CreateEventExW', 'CreateSemaphoreExW',
               'GetFileInformationByHandleEx', 'SetFileInformationByHandle',
               'GetFinalPathNameByHandleW', 'CreateSymbolicLinkW', 'SetDefaultDllDirectories',
               'AddDllDirectory', 'strnlen', 'wcsnlen', '_fseeki64', '_ftelli64', '_get_errno',
               '_set_errno'}


def check_program(check, exe, machine):
    name = exe.rsplit('/', 1)[-1]
    pe = pefile.PE(exe)
    header = pe.OPTIONAL_HEADER
    check(f'{name}: machine {machine}', pe.FILE_HEADER.Machine, MACHINES[machine])
    check(f'{name}: a subsystem version Windows XP runs',
          (header.MajorSubsystemVersion, header.MinorSubsystemVersion) <= XP_SUBSYSTEM[machine], True)
    imports = {entry.dll.decode().lower(): [(symbol.name or b'').decode() for symbol in entry.imports]
               for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check(f'{name}: imports only libraries the system takes from its own folder',
          set(imports) - STATIC_IMPORTS, set())
    check(f'{name}: nothing imported that Windows XP lacks',
          {f for functions in imports.values() for f in functions if f in SINCE_VISTA}, set())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('programs', help='the list of program files, one a line')
    parser.add_argument('--machine', choices=sorted(MACHINES), required=True)
    opts = parser.parse_args()
    checks = Checklist()
    with open(opts.programs) as f:
        programs = [line.strip() for line in f if line.strip()]
    checks.check('the list names the programs', len(programs) >= 2, True)
    for exe in programs:
        check_program(checks.check, exe, opts.machine)
    return checks.finish()


if __name__ == '__main__':
    sys.exit(main())
