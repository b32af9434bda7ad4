"""Mounts the file systems a class keeps its play folder on, for the save tests:
a loop image (ext4), FUSE views (bindfs, ntfs-3g, fusefat) and two shares served
on 127.0.0.1 (sshd with sshfs, smbd with smbnetfs). Each is a context manager
that yields a play folder there and, even when a test fails, unmounts, stops its
daemons by pid (their whole process group) and removes its images."""

import contextlib
import fcntl
import os
import random
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import time

LOOP_CTL_GET_FREE = 0x4C82
READY_TIMEOUT = 20      # seconds for a daemon to listen or a mount to appear
STOP_TIMEOUT = 10       # seconds for a daemon to end after it was asked to
NOBODY = 65534          # the account the shares' servers write as, as a school server's own account would
# Each kind: what it needs on PATH and whether it is a FUSE mount.
KINDS = {
    "ext4": (["mkfs.ext4"], False),
    "bindfs": (["bindfs"], True),
    "bindfs_fixed": (["bindfs"], True),
    "ntfs": (["mkntfs", "ntfs-3g"], True),
    "fat32": (["mkfs.vfat", "fusefat"], True),
    "sftp": (["sshd", "ssh-keygen", "sshfs"], True),
    "smb": (["smbd", "smbpasswd", "smbnetfs"], True),
}
PATH = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"


def tool(name):
    return shutil.which(name, path=PATH)


def may_mount():
    """True when this process holds CAP_SYS_ADMIN (root outside a locked-down container)."""
    with open("/proc/self/status") as f:
        caps = next(line for line in f if line.startswith("CapEff:")).split()[1]
    return int(caps, 16) >> 21 & 1 == 1


def unavailable(kind):
    """Why kind cannot be mounted on this machine, or None when it can."""
    programs, fuse = KINDS[kind]
    if os.geteuid() != 0 or not may_mount():
        return "mounting %s needs root with the right to mount" % kind
    if fuse and device_unusable("/dev/fuse", stat.S_ISCHR):
        return "%s is a FUSE mount and %s" % (kind, device_unusable("/dev/fuse", stat.S_ISCHR))
    if not fuse and loop_unusable():
        return "%s is mounted from a loop image and %s" % (kind, loop_unusable())
    missing = [p for p in programs if not tool(p)]
    if missing:
        return "%s needs %s (scripts/packages.sh filesystems installs them)" % (kind, ", ".join(missing))
    return None


def device_unusable(path, is_kind):
    """Why the device at path cannot be opened here (a container may have none, or a
    stand-in file, or may forbid it), or None when it can."""
    try:
        if not is_kind(os.stat(path).st_mode):
            return "%s is no device here" % path
        os.close(os.open(path, os.O_RDWR))
    except FileNotFoundError:
        return "this machine has no %s" % path
    except OSError as error:
        return "this machine's %s cannot be used (%s)" % (path, error.strerror)
    return None


def loop_unusable():
    """Why no loop device can be had here, or None: the control device hands out a free
    number, and that device must be there to open."""
    reason = device_unusable("/dev/loop-control", stat.S_ISCHR)
    if reason:
        return reason
    control = os.open("/dev/loop-control", os.O_RDWR)
    try:
        number = fcntl.ioctl(control, LOOP_CTL_GET_FREE)
    except OSError as error:
        return "no free loop device (%s)" % error.strerror
    finally:
        os.close(control)
    return device_unusable("/dev/loop%d" % number, stat.S_ISBLK)


class MountError(AssertionError):
    """A mount that should have worked did not; says what its programs said."""


def command(argv, **popen):
    """Runs a set-up command; raises MountError with its output when it fails."""
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=dict(os.environ, PATH=PATH),
                          timeout=60, **popen)
    if done.returncode != 0:
        raise MountError("%s failed (%d): %s" % (" ".join(argv), done.returncode, done.stdout.decode(errors="replace")))
    return done.stdout


def wait_until(ready, what, daemon=None, log=None):
    """Polls ready() until it is true; raises MountError when the daemon ends first or time runs out."""
    deadline = time.monotonic() + READY_TIMEOUT
    while not ready():
        if (daemon is not None and daemon.poll() is not None) or time.monotonic() > deadline:
            said = open(log, errors="replace").read()[-2000:] if log and os.path.exists(log) else ""
            raise MountError("%s did not come up: %s" % (what, said))
        time.sleep(0.05)


def stop_group(proc):
    """Ends a daemon started in a session of its own and everything it forked, and reaps it."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, sig)
        deadline = time.monotonic() + STOP_TIMEOUT
        while time.monotonic() < deadline:
            proc.poll()
            try:
                os.killpg(proc.pid, 0)      # still someone left in the group
            except ProcessLookupError:
                proc.wait()
                return
            time.sleep(0.05)


def start_daemon(stack, argv, log, **popen):
    """Starts argv in a session of its own, output into log; stopped by the stack."""
    with open(log, "ab") as out:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True, env=dict(os.environ, PATH=PATH, **popen.pop("env", {})),
                                **popen)
    stack.callback(stop_group, proc)
    return proc


def is_mount(path):
    path = os.path.realpath(path)
    with open("/proc/self/mountinfo") as f:
        return any(line.split()[4] == path for line in f)


def unmount(path):
    """Unmounts path, lazily when something still holds it; nothing when it is not mounted."""
    for argv in (["umount", path], ["umount", "-l", path]):
        if not is_mount(path):
            return
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def mount_fuse(stack, argv, mountpoint, log, **popen):
    """Runs a FUSE program in the foreground (its pid is ours) and waits for its mount.
    The stack unmounts first, then stops the program."""
    proc = start_daemon(stack, argv, log, **popen)
    stack.callback(unmount, mountpoint)
    wait_until(lambda: is_mount(mountpoint), " ".join(argv[:1]) + " mount", proc, log)
    return proc


def free_port():
    """A port above 20000 that nobody listens on right now."""
    for _ in range(100):
        port = random.randint(20001, 60000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise MountError("no free port above 20000")


def listening(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def scratch(stack, name):
    """A fresh folder for one mount's images, configuration and logs, removed last."""
    path = tempfile.mkdtemp(prefix="pz-fs-%s-" % name)
    stack.callback(shutil.rmtree, path, True)
    os.chmod(path, 0o711)   # the players, and the servers' own account, pass through to the medium
    return path


def mount_tmpfs(stack, path, size_mb):
    """A small medium behind a FUSE view or a share, so that it can be filled quickly."""
    os.makedirs(path, exist_ok=True)
    command(["mount", "-t", "tmpfs", "-o", "size=%dm,mode=0755" % size_mb, "pzstore", path])
    stack.callback(unmount, path)
    return path


def image(work, size_mb):
    path = os.path.join(work, "medium.img")
    with open(path, "wb") as f:
        f.truncate(size_mb << 20)
    return path


def play_folder(folder, group):
    """Makes a play folder of a class on the mounted medium: its group's, mode 2775
    where the file system keeps modes."""
    os.mkdir(folder)
    for change in (lambda: os.chown(folder, 0, group), lambda: os.chmod(folder, 0o2775)):
        with contextlib.suppress(OSError):
            change()
    return folder


# ------------------------------------------------------------- the kinds

def mount_ext4(stack, work, mnt, group, size_mb):
    img = image(work, size_mb)
    command(["mkfs.ext4", "-q", "-F", "-m", "0", "-O", "^has_journal", img])
    command(["mount", "-o", "loop", img, mnt])
    stack.callback(unmount, mnt)


def mount_bindfs(stack, work, mnt, group, size_mb, fixed=False):
    """A folder shared through bindfs; fixed: as a teacher shares one for a class, every
    file shown as the group's and writable by it, changes of owner or mode refused."""
    store = mount_tmpfs(stack, os.path.join(work, "store"), size_mb)
    options = ["-o", "allow_other"]
    if fixed:
        options += ["--force-group=%d" % group, "--perms=ug+rw:o-w", "--chown-deny", "--chgrp-deny", "--chmod-deny"]
    mount_fuse(stack, ["bindfs", "-f", *options, store, mnt], mnt, os.path.join(work, "bindfs.log"))


def mount_ntfs(stack, work, mnt, group, size_mb):
    """A Windows disk mounted for a class: everything the group's, writable by it."""
    img = image(work, size_mb)
    command(["mkntfs", "-F", "-Q", "-q", img])
    mount_fuse(stack, ["ntfs-3g", img, mnt, "-o", "no_detach,allow_other,uid=0,gid=%d,umask=002" % group],
               mnt, os.path.join(work, "ntfs-3g.log"))


def mount_fat32(stack, work, mnt, group, size_mb):
    """A USB stick: FAT32 (at least 33 MiB for FAT32's cluster count), read-write through fusefat."""
    img = image(work, max(size_mb, 34))
    command(["mkfs.vfat", "-F", "32", "-n", "STICK", img])
    mount_fuse(stack, ["fusefat", "-f", "-o", "rw+,allow_other,uid=0,gid=%d,umask=002" % group, img, mnt], mnt, os.path.join(work, "fusefat.log"))

SSHD_CONFIG = """ListenAddress 127.0.0.1
Port {port}
HostKey {work}/host_key
PidFile none
AuthorizedKeysFile {work}/authorized_keys
AllowUsers {user}
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
ForceCommand internal-sftp
LogLevel ERROR
"""


def mount_sftp(stack, work, mnt, group, size_mb):
    """An SFTP share: sshd on 127.0.0.1 with a port, host key and authorized key of
    its own, logged into as an unprivileged account; sshfs mounts its folder for all."""
    store = mount_tmpfs(stack, os.path.join(work, "store"), size_mb)
    os.chown(store, NOBODY, group)
    os.chmod(store, 0o2775)
    for key in ("host_key", "client_key"):
        command(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(work, key)])
    shutil.copy(os.path.join(work, "client_key.pub"), os.path.join(work, "authorized_keys"))
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)   # sshd's privilege separation folder
    port = free_port()
    config = os.path.join(work, "sshd_config")
    with open(config, "w") as f:
        f.write(SSHD_CONFIG.format(port=port, work=work, user="nobody"))
    sshd = start_daemon(stack, [tool("sshd"), "-D", "-e", "-f", config], os.path.join(work, "sshd.log"))
    wait_until(lambda: listening(port), "sshd", sshd, os.path.join(work, "sshd.log"))
    options = ["IdentityFile=" + os.path.join(work, "client_key"), "StrictHostKeyChecking=no",
               "UserKnownHostsFile=/dev/null", "BatchMode=yes", "allow_other", "port=%d" % port]
    mount_fuse(stack, ["sshfs", "-f", "-o", ",".join(options), "nobody@127.0.0.1:" + store, mnt], mnt,
               os.path.join(work, "sshfs.log"))


SMB_CONFIG = """[global]
server role = standalone server
smb ports = {port}
interfaces = 127.0.0.1
bind interfaces only = yes
disable netbios = yes
private dir = {work}/private
lock directory = {work}/lock
state directory = {work}/state
cache directory = {work}/cache
pid directory = {work}/pid
ncalrpc dir = {work}/ncalrpc
passdb backend = tdbsam:{work}/private/passdb.tdb
load printers = no
printcap name = /dev/null
disable spoolss = yes
log level = 0
[class]
path = {store}
read only = no
valid users = nobody
"""
SMBNETFS_CONFIG = """smb_timeout 10000
smb_query_browsers "false"
use_libsecret "false"
host 127.0.0.1 visible=true
auth "nobody" "{password}"
"""


def mount_smb(stack, work, mnt, group, size_mb):
    """An SMB share: smbd on 127.0.0.1 with a port and state folders of its own, a
    share written as an unprivileged account (its password in a passdb of its own); smbnetfs mounts it for all, the
    share appearing as mnt/127.0.0.1:PORT/class."""
    store = mount_tmpfs(stack, os.path.join(work, "store"), size_mb)
    os.chown(store, NOBODY, group)
    os.chmod(store, 0o2775)
    port = free_port()
    for sub in ("private", "lock", "state", "cache", "pid", "ncalrpc", "home/.smb"):
        os.makedirs(os.path.join(work, sub))
    conf = SMB_CONFIG.format(port=port, work=work, store=store)
    with open(os.path.join(work, "smb.conf"), "w") as f:
        f.write(conf)
    password = "class%d" % port
    command(["smbpasswd", "-c", os.path.join(work, "smb.conf"), "-a", "-s", "nobody"],
            input=("%s\n" % password * 2).encode())
    smbd = start_daemon(stack, [tool("smbd"), "--foreground", "--no-process-group", "--debug-stdout",
                                "-s", os.path.join(work, "smb.conf")], os.path.join(work, "smbd.log"))
    wait_until(lambda: listening(port), "smbd", smbd, os.path.join(work, "smbd.log"))
    home = os.path.join(work, "home")
    with open(os.open(os.path.join(home, ".smb", "smbnetfs.conf"), os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write(SMBNETFS_CONFIG.format(password=password))   # smbnetfs takes hosts and passwords only from a private file
    mount_fuse(stack, ["smbnetfs", "-f", "-o", "allow_other", mnt], mnt, os.path.join(work, "smbnetfs.log"),
               env={"HOME": home})
    share = os.path.join(mnt, "127.0.0.1:%d" % port, "class")   # smbnetfs passes the port on in the name
    wait_until(lambda: os.path.isdir(share), "the SMB share", None, os.path.join(work, "smbnetfs.log"))
    return share


MOUNTERS = {
    "ext4": mount_ext4,
    "bindfs": mount_bindfs,
    "bindfs_fixed": lambda *args: mount_bindfs(*args, fixed=True),
    "ntfs": mount_ntfs,
    "fat32": mount_fat32,
    "sftp": mount_sftp,
    "smb": mount_smb,
}


class Medium:
    """A mounted file system: fresh play folders on it, and a way to fill it up."""

    def __init__(self, kind, top, group):
        self.kind, self.top, self.group, self.folders = kind, top, group, 0

    def play_folder(self):
        """A fresh, empty play folder of the class on this medium."""
        self.folders += 1
        return play_folder(os.path.join(self.top, "%s%02d" % (self.kind, self.folders)), self.group)

    def fill(self, folder):
        """Writes a filler file into folder until the medium refuses more; returns its path."""
        path = os.path.join(folder, "filler")
        with open(path, "wb", buffering=0) as f:
            for size in (1 << 20, 1 << 16, 1 << 12, 1 << 9, 1):
                with contextlib.suppress(OSError):
                    while True:
                        f.write(b"\0" * size)
            with contextlib.suppress(OSError):
                os.fsync(f.fileno())
        return path


@contextlib.contextmanager
def mounted(kind, group, size_mb=16):
    """Mounts a fresh medium of kind for a class of group; yields its Medium. Everything
    is undone on the way out, whatever happened inside."""
    with contextlib.ExitStack() as stack:
        work = scratch(stack, kind)
        mnt = os.path.join(work, "mnt")
        os.mkdir(mnt)
        top = MOUNTERS[kind](stack, work, mnt, group, size_mb) or mnt
        os.makedirs(top, exist_ok=True)
        for change in (lambda: os.chown(top, 0, group), lambda: os.chmod(top, 0o2775)):
            with contextlib.suppress(OSError):
                change()
        yield Medium(kind, top, group)


@contextlib.contextmanager
def two_views(group, size_mb=16):
    """One folder seen through two bindfs mounts, as two machines see one share: the
    system's lock taken through one never reaches the other. Yields the two tops."""
    with contextlib.ExitStack() as stack:
        work = scratch(stack, "two-views")
        store = mount_tmpfs(stack, os.path.join(work, "store"), size_mb)
        tops = []
        for view in ("view1", "view2"):
            mnt = os.path.join(work, view)
            os.mkdir(mnt)
            mount_fuse(stack, ["bindfs", "-f", "-o", "allow_other", store, mnt], mnt,
                       os.path.join(work, view + ".log"))
            tops.append(mnt)
        for change in (lambda: os.chown(store, 0, group), lambda: os.chmod(store, 0o2775)):
            change()
        yield tops
