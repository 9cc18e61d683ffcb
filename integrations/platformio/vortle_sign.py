# vortle for PlatformIO: signs the linked ELF file before PlatformIO makes the .bin and .hex
# from it, so the images it uploads are signed. In platformio.ini:
#
#   extra_scripts = post:vortle_sign.py
#   custom_vortle_flags = BA(0x2000)        ; optional: more words for vortle
#
# A failed signing fails the build (the action returns vortle's exit code) and deletes the
# ELF file, so that nothing unsigned is uploaded and the next build links again.
import os
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


def vortle_sign(target, source, env):
    # In a post-action on the program, target[0] is the ELF file ($PROGPATH); source[0] is
    # only the first object file.
    elf = str(target[0])
    flags = env.GetProjectOption("custom_vortle_flags", "").split() \
        if hasattr(env, "GetProjectOption") else env.get("VORTLE_FLAGS", [])
    # A list of arguments, no shell: blanks and parentheses in the path stay as they are.
    code = subprocess.call([_vortle(), elf] + list(flags))
    if code != 0:
        if os.path.exists(elf):
            os.remove(elf)
        sys.stderr.write("Error: vortle could not sign %s (exit code %d)\n" % (elf, code))
    return code


env.AddPostAction("$PROGPATH", vortle_sign)  # noqa: F821
