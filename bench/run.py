#!/usr/bin/env python3
"""Runs every benchmark of the updater against its peer tools and prints one table.

Each row: our figure, the peer's, the ratio (our speed over the peer's: 1.00 or more means at least as
fast), the median over --runs runs, the peak resident set of each side (maximum over the runs, from
/usr/bin/time) and, for our runs, the longest stretch without a message-processing turn.

  download   256 MiB from tools/bench_server.py (Content-Length, chunked, close-delimited) by download_bench
             (TIdHTTP with the updater's settings into a file, as the updater receives) against curl and wget
             writing to a file; the server's own ceiling is a client that receives into one 1 MiB buffer
  extract    about 200 MB of mixed data as Deflate (Info-ZIP zip -6), Deflate64 (7zz -mm=Deflate64) and
             stored archives, extracted by extract_bench (TUnZip as the updater configures it) against
             unzip -o -qq, 7zz x and bsdtar -xf; two ceilings for the Deflate archive: zlib's in-memory
             inflate of its members (no files), and a minimal extractor that inflates with zlib and writes each
             file with one create, write and close (the ceiling that includes the file system)
  legacy     shrunk, imploded and reduced archives of a few MB (the encoders in tools/) against unzip and
             7zz (reduce alone: the peers here do not decode it)
  update     the real program (console front end) against curl followed by unzip, on a 64 MB archive; the
             same archive with the connection cut at half (the updater resumes with a range); a 2 GiB stored
             archive, for the peak resident set (the body is never held in memory)
  seeded     an update of a 100 MB archive of 300 members whose next version changes 5 of them (and dates every
             member anew), served by lighttpd at 20 MB/s (a real link): the updater, which fetches in part with
             the previous archive as the seed, against curl + unzip of the whole archive; with the bytes on the
             wire of each (lighttpd's access log)
  wine       the Windows program under Wine (on Xvfb) with a 1 GiB stored archive: it completes, and how fast
  wine_download  the Windows program's download of a 256 MiB stored archive (from the request to the archive
             saved) against a bare Winsock recv loop with a 32 KiB buffer (bench/winsock_loop.c, cross-built
             beside the program), both under the same Wine from the same server, back to back in each run

Usage: bench/run.py [--build DIR] [--wine-build DIR] [--runs N]
                    [--only download,extract,legacy,update,seeded,wine,wine_download] [--download-mb N]
                    [--extract-mb N] [--seeded-mb N]
                    [--update-mb N] [--big-update-mb N] [--wine-update-mb N] [--wine-download-mb N]
                    [--legacy-mb N] [--keep]
Everything is generated into a temporary directory that is removed at the end (unless --keep).
"""
import argparse
import contextlib
import multiprocessing
import os
import random
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))
import virtual_display  # noqa: E402

MIB = 1 << 20
ROWS = []


# --- Measuring

def timed(command, cwd=None, env=None):
    """Runs the command under /usr/bin/time; returns (wall seconds, peak RSS in KiB, CPU seconds (user +
    system, children included), stdout)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.monotonic()
        result = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report.name] + command, cwd=cwd, env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wall = time.monotonic() - start
        if result.returncode != 0:
            raise RuntimeError(f"{command[0]} failed ({result.returncode}): {result.stderr.decode(errors='replace')}")
        lines = [line for line in report.read().splitlines() if line.strip()]
        rss, user, system = lines[-1].split()
        return wall, int(rss), float(user) + float(system), result.stdout.decode(errors="replace")


def fields(text):
    """key=value pairs of a bench program's output line."""
    return dict(item.split("=", 1) for item in text.split() if "=" in item)


class Sample:
    def __init__(self):
        self.seconds, self.rss, self.cpu, self.gaps = [], [], [], []

    def add(self, seconds, rss_kib, cpu, gap=None):
        self.seconds.append(seconds)
        self.rss.append(rss_kib)
        self.cpu.append(cpu)
        if gap is not None:
            self.gaps.append(gap)

    @property
    def median(self):
        return statistics.median(self.seconds)

    @property
    def median_cpu(self):
        return statistics.median(self.cpu)

    @property
    def peak_mb(self):
        return max(self.rss) / 1024 if self.rss else None

    @property
    def gap(self):
        return max(self.gaps) if self.gaps else None


def row(benchmark, megabytes, ours, peer_name, peer, note=""):
    ROWS.append((benchmark, megabytes, ours, peer_name, peer, note))


def print_table(runs):
    header = ("benchmark", "peer", "ours MB/s", "peer MB/s", "ratio", "ours s", "peer s", "ours CPU s",
              "peer CPU s", "CPU ratio", "ours RSS MB", "peer RSS MB", "max gap ms", "note")
    lines = [header]
    for benchmark, megabytes, ours, peer_name, peer, note in ROWS:
        ours_rate = megabytes / ours.median if ours else None
        peer_rate = megabytes / peer.median if peer else None
        cpu_ratio = peer.median_cpu / ours.median_cpu if ours and peer and ours.median_cpu > 0 else None
        lines.append((
            benchmark, peer_name,
            f"{ours_rate:.0f}" if ours_rate else "-",
            f"{peer_rate:.0f}" if peer_rate else "-",
            f"{ours_rate / peer_rate:.2f}x" if ours_rate and peer_rate else "-",
            f"{ours.median:.3f}" if ours else "-",
            f"{peer.median:.3f}" if peer else "-",
            f"{ours.median_cpu:.3f}" if ours else "-",
            f"{peer.median_cpu:.3f}" if peer else "-",
            f"{cpu_ratio:.2f}x" if cpu_ratio else "-",
            f"{ours.peak_mb:.0f}" if ours and ours.peak_mb else "-",
            f"{peer.peak_mb:.0f}" if peer and peer.peak_mb else "-",
            f"{ours.gap}" if ours and ours.gap is not None else "-",
            note))
    widths = [max(len(str(line[i])) for line in lines) for i in range(len(header))]
    print(f"\nMedian of {runs} runs; MB = 10^6 bytes; ratio = our speed / the peer's speed (wall clock); CPU ratio ="
          " the peer's CPU time / ours (user + system).")
    for index, line in enumerate(lines):
        print("  ".join(str(cell).ljust(widths[i]) if i < 2 or i == len(header) - 1 else str(cell).rjust(widths[i])
                        for i, cell in enumerate(line)).rstrip())
        if index == 0:
            print("  ".join("-" * width for width in widths))


# --- The server

class BenchServer:
    started = 0

    def __init__(self, work, file=None):
        self.work, self.file = work, file
        BenchServer.started += 1
        self.log = os.path.join(work, f"server-{BenchServer.started}.log")
        port_file = self.log + ".port"
        command = [sys.executable, os.path.join(ROOT, "tools", "bench_server.py"), "--log", self.log,
                   "--port-file", port_file]
        if file:
            command += ["--file", file]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(port_file) and open(port_file).read():
                break
            time.sleep(0.05)
        self.port = int(open(port_file).read())

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def first_request_time(self):
        """When the first request since the server started arrived."""
        with open(self.log) as log:
            return float(log.read().split()[0])

    def restart(self):
        """A new server on a new port and log: the next request for /file-broken is cut again."""
        self.close()
        self.__init__(self.work, self.file)

    def close(self):
        self.process.kill()
        self.process.wait()


def ceiling_client(port, path):
    """Receives the whole response into one reused 1 MiB buffer; the server's own ceiling."""
    sock = socket.create_connection(("127.0.0.1", port))
    sock.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
    buffer = bytearray(MIB)
    view = memoryview(buffer)
    total = 0
    while True:
        n = sock.recv_into(view)
        if n == 0:
            break
        total += n
    sock.close()
    return total


# --- Data

VOCABULARY = [w.encode() for w in (
    "update archive member window progress download extract the of and to in is that for it with as was on "
    "connection buffer stream header chunk length status server client request response file directory "
    "error message cancel timer label button bar version release install program path data value index").split()]


def text_bytes(rng, size):
    out = bytearray()
    while len(out) < size:
        words = rng.choices(VOCABULARY, k=20000)
        for i in range(0, len(words), 12):
            out += b" ".join(words[i:i + 12]) + b"\n"
    return bytes(out[:size])


def skewed_bytes(rng, size):
    """Binary data with a skewed byte distribution: compresses to about half."""
    table = bytes(min(255, int((i / 256) ** 3 * 64)) for i in range(256))
    return os.urandom(size).translate(table)


def log_bytes(rng, size):
    out = bytearray()
    line = 0
    while len(out) < size:
        out += b"2026-12-08 12:%02d:%02d [info] request %d served in %d ms from cache\n" % (
            line // 60 % 60, line % 60, line, rng.randrange(1, 200))
        line += 1
    return bytes(out[:size])


def make_tree(root, total_mb, seed=1):
    """About total_mb MB of mixed files below root; returns the total size in bytes."""
    rng = random.Random(seed)
    os.makedirs(root, exist_ok=True)
    scale = total_mb / 200
    big = max(1, int(15 * MIB * scale))
    plan = [("text", text_bytes, 4), ("random", lambda r, n: os.urandom(n), 3), ("binary", skewed_bytes, 4)]
    total = 0
    for kind, make, count in plan:
        for i in range(count):
            data = make(rng, big)
            with open(os.path.join(root, f"{kind}{i}.dat"), "wb") as f:
                f.write(data)
            total += len(data)
    data = log_bytes(rng, int(20 * MIB * scale))
    with open(os.path.join(root, "server.log"), "wb") as f:
        f.write(data)
    total += len(data)
    small_dir = os.path.join(root, "small")
    os.makedirs(small_dir, exist_ok=True)
    makers = [text_bytes, skewed_bytes, log_bytes]
    for i in range(max(10, int(400 * scale))):
        data = makers[i % 3](rng, rng.randrange(4096, 81920))
        with open(os.path.join(small_dir, f"f{i:03d}.txt"), "wb") as f:
            f.write(data)
        total += len(data)
    return total


def run_quiet(command, cwd=None):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def legacy_member(args):
    name, method, data = args
    from implode_encoder import implode
    from reduce_encoder import reduce
    from shrink_encoder import shrink
    flags = 0
    if method == 1:
        compressed = shrink(data)
    elif method == 6:
        compressed, flags = implode(data, True, True)
    else:
        compressed = reduce(data, method - 1)
    return {"name": name, "method": method, "flags": flags, "data": data, "compressed": compressed}


# --- Benchmarks

def fresh(directory):
    """An empty directory, with everything written so far on the disk: no run pays for the write-back of the
    run before it."""
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    os.sync()


def bench_download(args, work):
    size = args.download_mb * MIB
    megabytes = size / 1e6
    server = BenchServer(work)
    try:
        ceiling = Sample()
        for _ in range(args.runs):
            start, cpu_start = time.monotonic(), time.process_time()
            assert ceiling_client(server.port, f"/length/{size}") > size
            ceiling.add(time.monotonic() - start, 0, time.process_time() - cpu_start)
        ceiling.rss = []
        for framing, label in (("length", "Content-Length"), ("chunked", "chunked"), ("close", "close-delimited")):
            url = server.url(f"/{framing}/{size}")
            ours, curl, wget = Sample(), Sample(), Sample()
            target = os.path.join(work, "download.bin")
            for _ in range(args.runs):
                wall, rss, cpu, out = timed([os.path.join(args.build, "bench", "download_bench"), url, target])
                values = fields(out)
                if int(values["bytes"]) != size or os.path.getsize(target) != size:
                    raise RuntimeError(f"download_bench got {values['bytes']} bytes of {size}")
                ours.add(wall, rss, cpu, int(values["max_gap_ms"]))
                os.remove(target)
                curl.add(*timed(["curl", "-s", "-o", target, url])[:3])
                os.remove(target)
                wget.add(*timed(["wget", "-q", "-O", target, url])[:3])
                os.remove(target)
            name = f"download {args.download_mb} MiB {label}"
            row(name, megabytes, ours, "curl -o file", curl)
            row(name, megabytes, ours, "wget -O file", wget)
            if framing == "length":
                row(name, megabytes, ours, "server ceiling", ceiling, "1 MiB recv_into, Python")
    finally:
        server.close()


def bench_extract(args, work):
    data = os.path.join(work, "data")
    print(f"generating about {args.extract_mb} MB of mixed data ...", file=sys.stderr)
    total = make_tree(data, args.extract_mb)
    megabytes = total / 1e6
    archives = {}
    print("making the Deflate, Deflate64 and stored archives ...", file=sys.stderr)
    archives["Deflate"] = os.path.join(work, "deflate.zip")
    run_quiet(["zip", "-q", "-r", "-6", archives["Deflate"], "."], cwd=data)
    archives["Deflate64"] = os.path.join(work, "deflate64.zip")
    run_quiet(["7zz", "a", "-tzip", "-mm=Deflate64", "-mx=1", "-bd", archives["Deflate64"], "."], cwd=data)
    archives["stored"] = os.path.join(work, "stored.zip")
    run_quiet(["zip", "-q", "-r", "-0", archives["stored"], "."], cwd=data)
    out = os.path.join(work, "out")
    for kind, archive in archives.items():
        # Our output is checked against the source once before anything is timed.
        fresh(out)
        timed([os.path.join(args.build, "bench", "extract_bench"), "unzip", archive, out])
        run_quiet(["diff", "-r", "-q", data, out])
        samples = {name: Sample() for name in ("ours", "unzip", "7zz", "bsdtar", "zlib", "minimal")}
        for _ in range(args.runs):
            fresh(out)
            wall, rss, cpu, text = timed([os.path.join(args.build, "bench", "extract_bench"), "unzip", archive, out])
            samples["ours"].add(wall, rss, cpu, int(fields(text)["max_gap_ms"]))
            fresh(out)
            samples["unzip"].add(*timed(["unzip", "-o", "-qq", archive, "-d", out])[:3])
            fresh(out)
            samples["7zz"].add(*timed(["7zz", "x", "-y", "-bd", "-bso0", "-bsp0", f"-o{out}", archive])[:3])
            if samples["bsdtar"] is not None:
                fresh(out)
                try:
                    samples["bsdtar"].add(*timed(["bsdtar", "-xf", archive, "-C", out])[:3])
                except RuntimeError:
                    samples["bsdtar"] = None  # libarchive has no Deflate64 decoder
            if kind == "Deflate":
                _, rss, _, text = timed([os.path.join(args.build, "bench", "extract_bench"), "zlib", archive])
                samples["zlib"].add(float(fields(text)["seconds"]), rss, float(fields(text)["cpu"]))
                fresh(out)
                samples["minimal"].add(*timed([os.path.join(args.build, "bench", "extract_bench"), "minimal",
                                               archive, out])[:3])
        fresh(out)
        name = f"extract {kind} {megabytes:.0f} MB"
        row(name, megabytes, samples["ours"], "unzip -o -qq", samples["unzip"])
        row(name, megabytes, samples["ours"], "7zz x", samples["7zz"])
        if samples["bsdtar"] is not None:
            row(name, megabytes, samples["ours"], "bsdtar -xf", samples["bsdtar"])
        else:
            row(name, megabytes, samples["ours"], "bsdtar -xf", None, "bsdtar cannot decode this method")
        if kind == "Deflate":
            row(name, megabytes, samples["ours"], "zlib inflate", samples["zlib"],
                "in memory, no files: out of any extractor's reach")
            row(name, megabytes, samples["ours"], "minimal extractor", samples["minimal"],
                "zlib, one create, write, close per file: the ceiling")
    shutil.rmtree(data, ignore_errors=True)
    for archive in archives.values():
        os.remove(archive)


def bench_legacy(args, work):
    from legacy_zip_writer import write_zip
    rng = random.Random(7)
    size = int(args.legacy_mb * MIB)
    # Text, skewed binary and repeated log lines, as the bigger archives have.
    data = text_bytes(rng, size // 2) + skewed_bytes(rng, size // 4) + log_bytes(rng, size - size // 2 - size // 4)
    print(f"making shrunk, imploded and reduced archives of {args.legacy_mb} MB (the Python encoders take a "
          "while) ...", file=sys.stderr)
    jobs = [("shrunk.dat", 1, data), ("imploded.dat", 6, data), ("reduced.dat", 5, data)]
    with multiprocessing.Pool(len(jobs)) as pool:
        members = pool.map(legacy_member, jobs)
    out = os.path.join(work, "out")
    for member, (kind, peers) in zip(members, (("shrink", True), ("implode", True), ("reduce (factor 4)", False))):
        archive = os.path.join(work, f"{member['method']}.zip")
        write_zip(archive, [member])
        fresh(out)
        timed([os.path.join(args.build, "bench", "extract_bench"), "unzip", archive, out])
        with open(os.path.join(out, member["name"]), "rb") as f:
            if f.read() != data:
                raise RuntimeError(f"{kind}: our output differs from the original")
        samples = {name: Sample() for name in ("ours", "unzip", "7zz")}
        for _ in range(args.runs):
            fresh(out)
            wall, rss, cpu, text = timed([os.path.join(args.build, "bench", "extract_bench"), "unzip", archive, out])
            samples["ours"].add(wall, rss, cpu, int(fields(text)["max_gap_ms"]))
            if peers:
                for peer, command in (("unzip", ["unzip", "-o", "-qq", archive, "-d", out]),
                                      ("7zz", ["7zz", "x", "-y", "-bd", "-bso0", "-bsp0", f"-o{out}", archive])):
                    if samples[peer] is None:
                        continue
                    fresh(out)
                    try:
                        samples[peer].add(*timed(command)[:3])
                    except RuntimeError as error:
                        print(f"{kind}: {peer} rejects the archive: {error}", file=sys.stderr)
                        samples[peer] = None
        name = f"extract {kind} {len(data) / 1e6:.1f} MB"
        if peers:
            for peer, label in (("unzip", "unzip -o -qq"), ("7zz", "7zz x")):
                row(name, len(data) / 1e6, samples["ours"], label, samples[peer],
                    "" if samples[peer] is not None else "peer rejects the archive")
        else:
            row(name, len(data) / 1e6, samples["ours"], "(none)", None, "throughput alone")
        os.remove(archive)
    fresh(out)


def stored_archive(path, megabytes):
    """A stored archive of that many MiB in members of 256 MiB (random, so that nothing could compress it)."""
    import zipfile
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        left, index = megabytes, 0
        while left > 0:
            count = min(left, 256)
            with archive.open(f"part{index}.bin", "w") as member:
                for _ in range(count):
                    member.write(PATTERN_FOR_ARCHIVES)
            left -= count
            index += 1
    return os.path.getsize(path)


PATTERN_FOR_ARCHIVES = os.urandom(MIB)


def time_updates(args, work, server, path, data=None):
    """Our whole update from server path, against curl + unzip of the same archive; (ours from process start,
    ours from the request on, peer)."""
    program = os.path.join(args.build, "updater")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    extract, download = os.path.join(work, "app"), os.path.join(work, "downloads")
    ours, from_request, peer = Sample(), Sample(), Sample()
    for run in range(args.runs):
        fresh(extract)
        fresh(download)
        server.restart()
        end_wall, rss, cpu, _ = timed([program, server.url(path), extract, "update.zip", "none", download], env=env)
        finished = time.monotonic()
        ours.add(end_wall, rss, cpu)
        from_request.add(finished - server.first_request_time(), rss, cpu)
        if run == 0 and data is not None:
            run_quiet(["diff", "-r", "-q", data, extract])
        if not os.path.exists(os.path.join(download, "update.zip")):
            raise RuntimeError("the updater saved no archive")
        fresh(extract)
        fresh(download)
        peer.add(*timed(["sh", "-c", 'curl -s -o "$1/update.zip" "$2" && unzip -o -qq "$1/update.zip" -d "$3"',
                         "sh", download, server.url("/file"), extract])[:3])
    fresh(extract)
    fresh(download)
    return ours, from_request, peer


def bench_update(args, work):
    data = os.path.join(work, "update-data")
    # The mixed data compress to a little over half: this much of them makes an archive of about update_mb.
    make_tree(data, args.update_mb * 1.75, seed=3)
    archive = os.path.join(work, "update.zip")
    run_quiet(["zip", "-q", "-r", "-6", archive, "."], cwd=data)
    megabytes = os.path.getsize(archive) / 1e6
    server = BenchServer(work, archive)
    try:
        ours, from_request, peer = time_updates(args, work, server, "/file", data)
        name = f"whole update {megabytes:.0f} MB"
        row(name, megabytes, ours, "curl + unzip", peer, "process start to exit (2 s start-up wait included)")
        row(name, megabytes, from_request, "curl + unzip", peer, "from the request on (start-up wait excluded)")
        _, from_request, peer = time_updates(args, work, server, "/file-broken", data)
        row(f"update {megabytes:.0f} MB, cut at half", megabytes, from_request, "curl + unzip", peer,
            "ours resumed by a 206, the peer uncut; from the request on")
    finally:
        server.close()
    shutil.rmtree(data, ignore_errors=True)
    os.remove(archive)

    print(f"making a stored archive of {args.big_update_mb} MiB ...", file=sys.stderr)
    megabytes = stored_archive(archive, args.big_update_mb) / 1e6
    server = BenchServer(work, archive)
    try:
        _, from_request, peer = time_updates(args, work, server, "/file")
        row(f"whole update {args.big_update_mb} MiB stored", megabytes, from_request, "curl + unzip", peer,
            "peak RSS: the goal is 64 MB at most; from the request on")
    finally:
        server.close()
    os.remove(archive)


def seeded_archive(path, megabytes, changed, date_time):
    """300 members of random data (incompressible, so that sizes stay real), deflated at level 1; the members in
    changed differ from one version to the next."""
    import zipfile
    size = int(megabytes * 1e6 / 300)
    rng = random.Random(5)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        for index in range(300):
            data = rng.randbytes(size)
            info = zipfile.ZipInfo(f"dir{index % 10}/member{index:03d}.bin", date_time=date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, os.urandom(size) if index in changed else data)
    with zipfile.ZipFile(path) as archive:
        return sum(info.compress_size for index, info in enumerate(archive.infolist()) if index in changed)


@contextlib.contextmanager
def rate_limited_lighttpd(work, root, kilobytes_per_second):
    """lighttpd serving root at that rate per connection, logging the bytes it sends for each request."""
    config, log = os.path.join(work, "lighttpd.conf"), os.path.join(work, "lighttpd-access.log")
    port = socket.create_server(("127.0.0.1", 0))
    number = port.getsockname()[1]
    port.close()
    with open(config, "w") as f:
        f.write(f'server.modules += ("mod_accesslog")\nserver.document-root = "{root}"\n'
                f'server.bind = "127.0.0.1"\nserver.port = {number}\nserver.errorlog = "{config}.err"\n'
                f'accesslog.filename = "{log}"\naccesslog.format = "%O"\n'
                f'connection.kbytes-per-second = {kilobytes_per_second}\n'
                'mimetype.assign = (".zip" => "application/zip")\n')
    process = subprocess.Popen([shutil.which("lighttpd") or "/usr/sbin/lighttpd", "-D", "-f", config])
    try:
        for _ in range(200):
            with contextlib.suppress(OSError):
                socket.create_connection(("127.0.0.1", number), timeout=1).close()
                break
            time.sleep(0.05)
        yield f"http://127.0.0.1:{number}/update.zip", log
    finally:
        process.kill()
        process.wait()


def wire_bytes(log):
    """The bytes lighttpd sent since the log was last emptied (it writes the lines it holds once a second)."""
    time.sleep(2.5)
    with open(log) as f:
        total = sum(int(line) for line in f if line.strip().isdigit())
    open(log, "w").close()
    return total


def download_begun(download):
    """When the updater's log says its download began (wall clock)."""
    import datetime
    with open(os.path.join(download, "updater.log"), encoding="utf-8") as f:
        for line in f:
            if "download begun" in line:
                return datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f").timestamp()
    raise RuntimeError("the updater's log has no download")


def bench_seeded(args, work):
    root = os.path.join(work, "www")
    os.makedirs(root, exist_ok=True)
    old, new = os.path.join(work, "previous.zip"), os.path.join(root, "update.zip")
    seeded_archive(old, args.seeded_mb, set(), (2024, 5, 6, 7, 8, 10))
    changed = seeded_archive(new, args.seeded_mb, {10, 80, 150, 220, 290}, (2025, 1, 2, 3, 4, 6))
    megabytes = os.path.getsize(new) / 1e6
    program = os.path.join(args.build, "updater")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    extract, download = os.path.join(work, "app"), os.path.join(work, "downloads")
    ours, peer = Sample(), Sample()
    ours_bytes, peer_bytes = [], []
    with rate_limited_lighttpd(work, root, 19531) as (url, log):
        for _ in range(args.runs):
            fresh(extract)
            fresh(download)
            shutil.copy(old, os.path.join(download, "update.zip"))
            wire_bytes(log)
            _, rss, cpu, _ = timed([program, url, extract, "update.zip", "none", download], env=env)
            ours.add(time.time() - download_begun(download), rss, cpu)
            ours_bytes.append(wire_bytes(log))
            fresh(extract)
            fresh(download)
            peer.add(*timed(["sh", "-c", 'curl -s -o "$1/update.zip" "$2" && unzip -o -qq "$1/update.zip" -d "$3"',
                             "sh", download, url, extract])[:3])
            peer_bytes.append(wire_bytes(log))
    fresh(extract)
    fresh(download)
    row(f"update in part {megabytes:.0f} MB, 5 of 300 changed", megabytes, ours, "curl + unzip", peer,
        f"20 MB/s; on the wire: ours {statistics.median(ours_bytes) / 1e6:.2f} MB, the peer's "
        f"{statistics.median(peer_bytes) / 1e6:.1f} MB; changed members {changed / 1e6:.2f} MB compressed; "
        "ours from the download on")


def wine_environment(work):
    """Xvfb and a Wine prefix of the run's own; (Xvfb process, environment)."""
    xvfb, display = virtual_display.start_xvfb("1024x768x24")
    env = dict(os.environ, DISPLAY=display, WINEPREFIX=os.path.join(work, "wineprefix"), WINEDEBUG="-all")
    subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return xvfb, env


@contextlib.contextmanager
def wine_bench(work, name, megabytes):
    """A stored archive of megabytes MiB served from 127.0.0.1, and Xvfb with a Wine prefix of the run's own,
    for the with-block; yields (archive size, server, environment, extract directory, download directory)."""
    archive = os.path.join(work, name)
    print(f"making a stored archive of {megabytes} MiB ...", file=sys.stderr)
    size = stored_archive(archive, megabytes)
    server = BenchServer(work, archive)
    xvfb, env = wine_environment(work)
    extract, download = os.path.join(work, "app"), os.path.join(work, "downloads")
    try:
        yield size, server, env, extract, download
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        xvfb.kill()
        xvfb.wait()
        server.close()
        fresh(extract)
        fresh(download)
        os.remove(archive)


def start_windows_update(program, server, env, extract, download):
    """Starts the Windows program's update from the served archive into empty directories."""
    fresh(extract)
    fresh(download)
    server.restart()
    return subprocess.Popen(["wine", program, server.url("/file"), extract, "update.zip", "none", download],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def bench_wine(args, work):
    program = os.path.join(args.wine_build, "updater.exe")
    missing = [tool for tool in ("wine", "Xvfb", "xdotool") if shutil.which(tool) is None]
    if not os.path.exists(program) or missing:
        row(f"Windows update {args.wine_update_mb} MiB", 0, None, "(none)", None,
            f"skipped: {program if missing == [] else ', '.join(missing)} missing")
        return
    ours = Sample()
    with wine_bench(work, "wine-update.zip", args.wine_update_mb) as (size, server, env, extract, download):
        for _ in range(args.runs):
            process = start_windows_update(program, server, env, extract, download)
            # The completion box is the end of the update; a key confirms it, and the program exits.
            deadline = time.monotonic() + 600
            box = None
            while box is None and time.monotonic() < deadline and process.poll() is None:
                found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "信息提示"], env=env,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split()
                box = found[0] if found else None
                time.sleep(0.1)
            finished = time.monotonic()
            if box is None:
                process.kill()
                raise RuntimeError("the Windows program showed no completion box")
            ours.add(finished - server.first_request_time(), 0, 0)
            subprocess.run(["xdotool", "windowfocus", "--sync", box, "key", "Return"], env=env,
                           stderr=subprocess.DEVNULL)
            process.wait(timeout=60)
            if os.path.getsize(os.path.join(download, "update.zip")) != size or \
                    os.path.getsize(os.path.join(extract, "part0.bin")) != min(256, args.wine_update_mb) * MIB:
                raise RuntimeError("the Windows program did not complete the update")
        ours.rss = []
        row(f"Windows update {args.wine_update_mb} MiB", size / 1e6, ours, "(none)", None,
            "updater.exe under Wine: completes; from the request to the completion box")


def bench_wine_download(args, work):
    """The Windows program's download against a bare Winsock recv loop (bench/winsock_loop.c, 32 KiB buffer),
    both under the same Wine from the same server, back to back in each run."""
    program = os.path.join(args.wine_build, "updater.exe")
    loop = os.path.join(args.wine_build, "bench", "winsock_loop.exe")
    name = f"Windows download {args.wine_download_mb} MiB"
    missing = [tool for tool in ("wine", "Xvfb", "xdotool") if shutil.which(tool) is None]
    missing += [path for path in (program, loop) if not os.path.exists(path)]
    if missing:
        row(name, 0, None, "(none)", None, f"skipped: {', '.join(missing)} missing")
        return
    ours, bare = Sample(), Sample()
    with wine_bench(work, "wine-download.zip", args.wine_download_mb) as (size, server, env, extract, download):
        saved = os.path.join(download, "update.zip")
        for _ in range(args.runs):
            fresh(download)
            target = os.path.join(download, "bare.bin")
            out = subprocess.run(["wine", loop, str(server.port), "/file", target], env=env, check=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
            values = fields(out)
            if int(values["bytes"]) != size or os.path.getsize(target) != size:
                raise RuntimeError(f"the Winsock loop got {values['bytes']} bytes of {size}")
            bare.add(float(values["seconds"]), 0, 0)
            process = start_windows_update(program, server, env, extract, download)
            # The archive is renamed from its partial name once the last byte is in: the end of the download.
            deadline = time.monotonic() + 600
            while not os.path.exists(saved) and time.monotonic() < deadline and process.poll() is None:
                time.sleep(0.005)
            finished = time.monotonic()
            if not os.path.exists(saved) or os.path.getsize(saved) != size:
                process.kill()
                raise RuntimeError("the Windows program saved no complete archive")
            ours.add(finished - server.first_request_time(), 0, 0)
            # The update goes on (extraction, completion box): it is ended, its run is not measured further.
            process.kill()
            process.wait()
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        row(name, size / 1e6, ours, "bare Winsock loop", bare,
            "updater.exe vs recv of 32 KiB into a file, same Wine and server; goal: ratio 0.50x or more")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--wine-build", default=os.path.join(ROOT, "build-bench-win"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", default="download,extract,legacy,update,seeded,wine,wine_download")
    parser.add_argument("--download-mb", type=int, default=256)
    parser.add_argument("--extract-mb", type=int, default=200)
    parser.add_argument("--update-mb", type=int, default=64)
    parser.add_argument("--big-update-mb", type=int, default=2048)
    parser.add_argument("--seeded-mb", type=float, default=100)
    parser.add_argument("--wine-update-mb", type=int, default=1024)
    parser.add_argument("--wine-download-mb", type=int, default=256)
    parser.add_argument("--legacy-mb", type=float, default=2)
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.wine_build = os.path.abspath(args.wine_build)
    selected = args.only.split(",")
    work = tempfile.mkdtemp(prefix="updater-bench-")
    try:
        for name, function in (("download", bench_download), ("extract", bench_extract), ("legacy", bench_legacy),
                               ("update", bench_update), ("seeded", bench_seeded), ("wine", bench_wine),
                               ("wine_download", bench_wine_download)):
            if name in selected:
                print(f"running {name} ...", file=sys.stderr)
                try:
                    function(args, work)
                except (RuntimeError, OSError, subprocess.SubprocessError) as error:
                    # The rows measured so far still count; the failure shows as a row of its own.
                    row(f"{name} (failed)", 0, None, "(none)", None, str(error)[:120])
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"kept {work}", file=sys.stderr)
    print_table(args.runs)


if __name__ == "__main__":
    sys.exit(main())
