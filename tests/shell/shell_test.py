#!/usr/bin/env python3
"""The korvex shell on a terminal: line editing, TAB completion of verbs,
structure classes and handle names, history kept across runs, Ctrl-C
dropping the line being typed, and a second Ctrl-C, end of input and quit
leaving cleanly with the --sim state saved.

usage: shell_test.py KORVEX SAMPLE_MACHINE WORK
"""
import os
import pty
import select
import shutil
import sys
import termios
import time

korvex, sample, work = sys.argv[1:4]
shutil.rmtree(work, ignore_errors=True)
shutil.copytree(sample, os.path.join(work, "machine"),
                ignore=shutil.ignore_patterns("*.BIN"))
sim = os.path.join(work, "sim.state")
env = dict(os.environ, HOME=work, TERM="dumb")
# Every wait is for something the shell shows or does; the limit only ends a
# shell that hangs, so it is generous: a loaded machine (a sanitizer build
# beside other builds) can take many seconds for what a quiet one does at once.
WAIT = 90.0


class Shell:
    def __init__(self):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(korvex, [korvex, "-m", os.path.join(work, "machine"), "--sim", sim], env)
        self.seen = b""

    def expect(self, text, timeout=WAIT):
        end = time.time() + timeout
        while text.encode() not in self.seen:
            if time.time() > end or not select.select([self.fd], [], [], end - time.time())[0]:
                sys.exit(f"timed out waiting for {text!r}; the terminal shows:\n{self.seen.decode(errors='replace')}")
            try:
                self.seen += os.read(self.fd, 4096)
            except OSError:
                break
        found = self.seen.index(text.encode()) + len(text)
        self.seen = self.seen[found:]

    def send(self, keys):
        # The prompt can show before the line editor has put the terminal into
        # raw mode; keys typed in that moment would be taken as a cooked line.
        end = time.time() + WAIT
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            if time.time() > end:
                sys.exit("the shell never put the terminal into raw mode")
            time.sleep(0.01)
        os.write(self.fd, keys.encode())

    def exit_code(self, timeout=WAIT):
        end = time.time() + timeout
        while True:  # drain the terminal so that the shell can end
            if time.time() > end or not select.select([self.fd], [], [], end - time.time())[0]:
                os.kill(self.pid, 9)  # a shell that does not leave must not hang the suite
                os.waitpid(self.pid, 0)
                sys.exit(f"the shell did not leave; the terminal shows:\n{self.seen.decode(errors='replace')}")
            try:
                chunk = os.read(self.fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.seen += chunk
        return os.waitstatus_to_exitcode(os.waitpid(self.pid, 0)[1])


def check(condition, message):
    if not condition:
        sys.exit(message)


# TAB completes a verb and a handle name; the edited line runs; Ctrl-C drops
# a line, and a second one on the empty line leaves.
shell = Shell()
shell.expect("'help' (or '?') lists the verbs")
shell.expect("korvex> ")
shell.send("setr\t")
shell.expect("setraw ")
shell.send("XPark\t")
shell.expect("XParkPos ")
shell.send("4242\r")
shell.expect("korvex> ")
shell.send("get XParkPos 9x\x7f\x7f\r")  # two backspaces: "9x" is edited away
shell.expect("4.242 [mm]")
shell.expect("korvex> ")
shell.send("gte XParkPos\r")
shell.expect("unknown verb 'gte' (did you mean 'get'?)")
shell.expect("korvex> ")
shell.send("?\r")  # help
shell.expect("Verbs (")
shell.expect("korvex> ")
shell.send("struct spc_seq_s\t")  # any case
shell.expect("SPC_Seq_Status_Typ ")
shell.send("\x03")  # dropped, not run
shell.expect("korvex> ")
shell.send("setraw XParkPos 999")
shell.expect("999")  # read before the Ctrl-C, which flushes what is not
shell.send("\x03")
shell.expect("korvex> ")
shell.send("\x03")
check(shell.exit_code() == 0, "a second Ctrl-C on an empty line did not leave with 0")
check("SqSt_" not in shell.seen.decode(errors="replace"), "a dropped line ran")
check(os.path.exists(sim), "Ctrl-C did not save the --sim state")
history = open(os.path.join(work, ".korvex_history"), errors="replace").read().replace("\\040", " ")
check("setraw XParkPos 4242" in history, "the history was not saved: " + history)
check("999" not in history, "a dropped line went into the history: " + history)

# The saved state and the history are there in the next run; Ctrl-D leaves.
shell = Shell()
shell.expect("korvex> ")
shell.send("\x1b[A\x1b[A\x1b[A\r")  # up past "?" and "gte XParkPos": "get XParkPos "
shell.expect("4.242 [mm]")
shell.expect("korvex> ")
shell.send("setraw XParkPos 77\r")
shell.expect("korvex> ")
shell.send("\x04")
check(shell.exit_code() == 0, "end of input did not leave with 0")
shell = Shell()
shell.expect("korvex> ")
shell.send("getraw XParkPos\r")
shell.expect("77")
shell.expect("korvex> ")
shell.send("\x03")  # on an empty line: a hint, and the shell stays
shell.expect("Ctrl-C again")
shell.expect("korvex> ")
shell.send("quit\r")
check(shell.exit_code() == 0, "quit did not leave with 0")
print("shell: ok")
