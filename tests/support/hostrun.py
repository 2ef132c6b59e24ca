"""What the script tests share: starting a program of the build under test
(for the Windows build behind the emulator given as --runner, empty on
Linux) and naming a path as the library sees it."""
import shlex
import subprocess


def command(runner, program, *args):
    """The command line that starts `program` with `args`, behind the emulator if there is one."""
    return shlex.split(runner) + [program] + list(args)


def run(runner, program, *args, cwd=None, timeout=300):
    """Runs a program of the build to its end; returns (status, stdout bytes, stderr bytes)."""
    p = subprocess.run(command(runner, program, *args), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, cwd=cwd, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def host_path(runner, path):
    """A path as the library sees it: Wine maps the Unix root to drive Z:."""
    return "Z:" + path.replace("/", "\\") if runner else path
