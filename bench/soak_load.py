#!/usr/bin/env python3
"""The load of bench/soak: browsers on kept-alive connections to varlume.

BROWSERS connections to the proxy in all, which serves 20 at a time. All
but two keep one connection each (a new one only when the proxy closes it)
and send, until TOTAL requests are answered, a mix of relayed requests
(1 KB from the origin, some pipelined four at a time), cached requests (one
of 100 images the proxy keeps after the first fetch), and service requests
(a file read through /varlume/file/ and an event look-up through
/varlume/event/). Every answer is checked byte for byte. Of the other two,
one asks for a 64 MB file and then stops reading for the whole run, and one
keeps asking a server that accepts and never answers: each time the proxy
gives up on the server after its wait and answers with its own 500 page.

Once a second it writes a line of samples: requests answered, errors,
resident memory and open descriptors of the three programs, and the part
files in the proxy's temporary folder.

Usage: soak_load.py PROXY_PORT ORIGIN_PORT STALL_PORT PIDS TEMP_DIR SAMPLES TOTAL BROWSERS
PIDS: varlume,varlumefile,varlumeevent process ids.
"""
import os
import random
import socket
import sys
import threading
import time

(proxy_port, origin_port, stall_port, pids, temp_dir, samples_path, total, browsers) = sys.argv[1:9]
proxy_port, origin_port, stall_port = int(proxy_port), int(origin_port), int(stall_port)
pids = [int(p) for p in pids.split(",")]
total, browsers = int(total), int(browsers)

ORIGIN = "127.0.0.1:%d" % origin_port
ONE_KB = open(os.environ["SOAK_ONE_KB"], "rb").read()
IMAGE = open(os.environ["SOAK_IMAGE"], "rb").read()
FILE_TEXT = os.environ["SOAK_FILE_TEXT"].encode()
EVENT_ANSWER = os.environ["SOAK_EVENT_ANSWER"].encode()


def request(path, host=ORIGIN):
    return ("GET http://%s%s HTTP/1.1\r\nHost: %s\r\n\r\n" % (host, path, host)).encode()


RELAYED = request("/1k.bin")
FILE_READ = request("/varlume/file/GET?Path=soak.txt")
EVENT_READ = request("/varlume/event/GETEVENT?Path=/page&Event=NOWEB")
IMAGES = [request("/img/%d.gif" % i) for i in range(100)]


class Closed(Exception):
    pass


class Reader:
    """Reads responses framed by Content-Length off one connection."""

    def __init__(self, sock):
        self.sock = sock
        self.buf = b""

    def fill(self):
        chunk = self.sock.recv(1 << 16)
        if not chunk:
            raise Closed()
        self.buf += chunk

    def response(self):
        while True:
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                break
            self.fill()
        head = self.buf[:end]
        self.buf = self.buf[end + 4:]
        status = int(head[9:12])
        length = None
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value)
        if length is None:
            raise Closed()  # not framed: would end with the connection
        while len(self.buf) < length:
            self.fill()
        body = self.buf[:length]
        self.buf = self.buf[length:]
        self.head = head
        return status, body


lock = threading.Lock()
answered = 0
latencies = {}  # kind -> seconds from sending to the whole answer
errors = {}
reconnects = 0
stopping = threading.Event()


error_samples = {}  # kind -> the first answers of that kind, cut short


def note_error(kind, sample=None):
    with lock:
        errors[kind] = errors.get(kind, 0) + 1
        if sample is not None and len(error_samples.setdefault(kind, [])) < 3:
            error_samples[kind].append("%.1f s: %r" % (time.time() - started, sample[:160]))


def connect():
    return socket.create_connection(("127.0.0.1", proxy_port), timeout=30)


def browser(seed):
    global answered, reconnects
    rnd = random.Random(seed)
    sock = None
    reader = None
    while not stopping.is_set():
        with lock:
            if answered >= total:
                break
        if sock is None:
            try:
                sock = connect()
            except OSError:
                note_error("connect failed")
                time.sleep(0.1)
                continue
            reader = Reader(sock)
        pick = rnd.random()
        if pick < 0.55:
            wanted = [(RELAYED, ONE_KB, "relayed")]
        elif pick < 0.62:
            wanted = [(RELAYED, ONE_KB, "relayed, pipelined")] * 4
        elif pick < 0.85:
            wanted = [(rnd.choice(IMAGES), IMAGE, "cached")]
        elif pick < 0.95:
            wanted = [(FILE_READ, FILE_TEXT, "file service")]
        else:
            wanted = [(EVENT_READ, EVENT_ANSWER, "event service")]
        try:
            sent = time.perf_counter()
            sock.sendall(b"".join(w[0] for w in wanted))
            for _, body, kind in wanted:
                status, got = reader.response()
                if status != 200 or got != body:
                    note_error("%s: status %d or body wrong" % (kind, status), reader.head + b" | " + got)
                took = time.perf_counter() - sent
                with lock:
                    answered += 1
                    latencies.setdefault(kind, []).append(took)
        except (OSError, Closed, ValueError) as e:
            # The connection ended or failed: start another.
            # Every request sent on it was due an answer.
            with lock:
                reconnects += 1
            note_error("%s: %s" % (wanted[0][2], "connection closed before the answer"
                                   if isinstance(e, Closed) else type(e).__name__), repr(e).encode())
            sock.close()
            sock = None
    if sock is not None:
        sock.close()


def stopped_reader():
    """Asks for 64 MB, then reads nothing until the run ends."""
    try:
        sock = connect()
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        sock.sendall(request("/64m.bin"))
        stopping.wait()
        sock.close()
    except OSError:
        note_error("stopped reader: could not connect")


stalled_asked = 0
stalled_answers = {}  # the proxy's answers to the stalled requests, by status line


def stalled_browser():
    """Asks a server that never answers, on one kept connection, and waits."""
    global stalled_asked
    sock = None
    while not stopping.is_set():
        try:
            if sock is None:
                sock = connect()
                sock.settimeout(1)
                reader = Reader(sock)
            sock.sendall(request("/stall", "127.0.0.1:%d" % stall_port))
            stalled_asked += 1
            while True:
                try:
                    status, _ = reader.response()
                    break
                except socket.timeout:
                    if stopping.is_set():
                        return
            line = reader.head.split(b"\r\n")[0].decode("latin-1")
            with lock:
                stalled_answers[line] = stalled_answers.get(line, 0) + 1
            if status != 500:
                note_error("stalled origin: answered " + line)
        except (OSError, Closed) as e:
            if stopping.is_set():
                return
            note_error("stalled browser: " + type(e).__name__, repr(e).encode())
            if sock is not None:
                sock.close()
            sock = None
            stopping.wait(0.5)
    if sock is not None:
        sock.close()


def stall_server():
    """Accepts and holds every connection, reading and never answering."""
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", stall_port))
    server.listen(64)
    server.settimeout(0.2)
    held = []
    while not stopping.is_set():
        try:
            conn, _ = server.accept()
            conn.setblocking(False)
            held.append(conn)
        except socket.timeout:
            pass
        for conn in list(held):
            try:
                if conn.recv(65536) == b"":
                    conn.close()
                    held.remove(conn)
            except BlockingIOError:
                pass
            except OSError:
                conn.close()
                held.remove(conn)
    for conn in held:
        conn.close()
    server.close()


def status_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def descriptors(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return -1


def part_files():
    try:
        names = [n for n in os.listdir(temp_dir) if n.startswith("vl") and n.endswith(".tmp")]
    except OSError:
        return 0, 0
    size = 0
    for n in names:
        try:
            size += os.path.getsize(os.path.join(temp_dir, n))
        except OSError:
            pass
    return len(names), size


def cpu_times():
    """(steal, total) jiffies of the machine: the share taken by its host."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    return (fields[7] if len(fields) > 7 else 0), sum(fields[:8])


def sampler(out, started):
    last = 0
    last_cpu = cpu_times()
    while True:
        finished = stopping.wait(1.0)
        with lock:
            done = answered
            failed = sum(errors.values())
        now = time.time() - started
        files, size = part_files()
        fields = [now, done, done - last, failed]
        for pid in pids:
            fields += [status_kb(pid), descriptors(pid)]
        cpu = cpu_times()
        steal = 100.0 * (cpu[0] - last_cpu[0]) / max(1, cpu[1] - last_cpu[1])
        last_cpu = cpu
        fields += [files, size, steal]
        out.write("\t".join("%.1f" % f if isinstance(f, float) else str(f) for f in fields) + "\n")
        out.flush()
        last = done
        if finished:
            return


threading.Thread(target=stall_server, daemon=True).start()
started = time.time()
with open(samples_path, "w") as out:
    out.write("#seconds\tanswered\tper_second\terrors\t"
              "varlume_kb\tvarlume_fds\tfile_kb\tfile_fds\tevent_kb\tevent_fds\tpart_files\tpart_bytes\t"
              "steal_percent\n")
    sample = threading.Thread(target=sampler, args=(out, started))
    sample.start()
    side = [threading.Thread(target=stopped_reader), threading.Thread(target=stalled_browser)]
    for t in side:
        t.start()
    workers = [threading.Thread(target=browser, args=(i,)) for i in range(browsers - 2)]
    for t in workers:
        t.start()
    for t in workers:
        t.join()
    elapsed = time.time() - started
    stopping.set()
    for t in side:
        t.join(10)
    sample.join()

print("answered\t%d" % answered)
print("seconds\t%.1f" % elapsed)
print("reconnects\t%d" % reconnects)
print("stalled_asked\t%d" % stalled_asked)
for line in sorted(stalled_answers):
    print("stalled_answer\t%s\t%d" % (line, stalled_answers[line]))
for kind in sorted(latencies):
    values = sorted(latencies[kind])
    print("latency\t%s\t%d\t%.2f\t%.2f" % (kind, len(values), 1000 * values[len(values) // 2],
                                           1000 * values[min(len(values) - 1, len(values) * 99 // 100)]))
for kind in sorted(errors):
    print("error\t%s\t%d" % (kind, errors[kind]))
    for sample in error_samples.get(kind, []):
        print("sample\t%s\t%s" % (kind, sample))
