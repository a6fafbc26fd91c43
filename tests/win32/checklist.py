"""What the Windows test scripts share: a list of named checks that prints
each result and the closing tally, and the forms Wine wants paths and texts
in."""
import os


class Checklist:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def check(self, what, got, want):
        if got == want:
            self.passed += 1
            print('ok   ' + what)
        else:
            print(f'FAIL {what}\n     got  {got!r}\n     want {want!r}')
            self.failures.append(what)
        return got == want

    def fail(self, what):
        print(f'FAIL {what}')
        self.failures.append(what)

    def finish(self):
        """Prints the tally and returns the exit status."""
        print(f'{self.passed} passed, {len(self.failures)} failed')
        return 1 if self.failures else 0


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def utf16_hex(text):
    return text.encode('utf-16-le').hex()
