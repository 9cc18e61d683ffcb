# vortle for PlatformIO: signs the linked ELF file before PlatformIO makes the .bin and .hex
# from it, so the images it uploads are signed. In platformio.ini:
#
#   extra_scripts = post:vortle_sign.py
#   custom_vortle_flags = BA(0x2000) CRP3   ; optional: more words for vortle
#
# Under plain SCons the words come from env['VORTLE_FLAGS'], a string or a list. A string is
# split as a shell splits it: 'BIN("my image.bin")' stays one word.
#
# A failed signing fails the build (the action returns vortle's exit code) and deletes the
# ELF file and the .bin and .hex of an earlier build beside it, so that nothing unsigned or
# stale is uploaded (an upload without a build takes them) and the next build links again.
import os
import shlex
import shutil
import subprocess
import sys

Import("env")  # noqa: F821 (SCons puts it into the script's namespace)


def _vortle():
    """The tool: $VORTLE, else the one pip put next to this Python, else the PATH's."""
    if os.environ.get("VORTLE"):
        return os.environ["VORTLE"]
    here = os.path.join(os.path.dirname(sys.executable),
                        "vortle.exe" if sys.platform == "win32" else "vortle")
    return here if os.path.isfile(here) else (shutil.which("vortle") or "vortle")


def _flags(env):
    """The more words: PlatformIO's custom_vortle_flags, else $VORTLE_FLAGS (a string or a
    list)."""
    if hasattr(env, "GetProjectOption"):
        flags = env.GetProjectOption("custom_vortle_flags", "")
    else:
        flags = env.get("VORTLE_FLAGS", [])
    if isinstance(flags, str):
        return shlex.split(flags)
    return [str(f) for f in flags]


def vortle_sign(target, source, env):
    # In a post-action on the program, target[0] is the ELF file ($PROGPATH); source[0] is
    # only the first object file.
    elf = str(target[0])
    # A list of arguments, no shell: blanks and parentheses in the path stay as they are.
    code = subprocess.call([_vortle(), elf] + _flags(env) + ["QUIET"])
    if code != 0:
        stem = os.path.splitext(elf)[0]
        for stale in (elf, stem + ".bin", stem + ".hex"):
            if os.path.exists(stale):
                os.remove(stale)
        sys.stderr.write("Error: vortle could not sign %s (exit code %d)\n" % (elf, code))
    return code


env.AddPostAction("$PROGPATH", vortle_sign)  # noqa: F821
