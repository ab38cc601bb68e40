#!/usr/bin/env python3
"""What one value costs against peers that stay just within each time-out, per attempt.

    bench/worst_case.py [--full] AGENT [BASELINE_AGENT]

Runs `coletarData` on a directory of one backup against three hostile peers and prints, for each,
how long the first attempt took (from the start to the first retry line) and the value's cost it
implies (5 attempts, each followed by its 5 s pause); with --full, it waits for the whole value
instead. With a second agent (an older build, say), it measures both in the same run and prints
the ratio. Root only: it binds loopback addresses 127.0.66.0/24 to 127.0.68.0/24 and gives the
agent a private /etc/resolv.conf in a mount namespace.

  cluster   32 HA nodes, each a listener whose queue is full (a black-holed route)
  chain     a server and three proxies that each answer with a redirect to the next after 29 s
  resolver  a server name, with a name server that never answers and resolv.conf asking for
            30 s times 5 attempts
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

NODES = 32


def black_hole(address):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, 10052))
    listener.listen(0)
    queued = []
    for _ in range(8):
        s = socket.socket()
        s.setblocking(False)
        try:
            s.connect((address, 10052))
        except BlockingIOError:
            pass
        queued.append(s)
    return [listener] + queued


def frame(body):
    data = body.encode()
    return b"ZBXD\x01" + len(data).to_bytes(4, "little") + b"\0\0\0\0" + data


def read_request(connection):
    data = b""
    while len(data) < 13 or len(data) < 13 + int.from_bytes(data[5:9], "little"):
        chunk = connection.recv(65536)
        if not chunk:
            return
        data += chunk


def slow_server(address, reply, delay):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, 10052))
    listener.listen(64)

    def answer(connection):
        try:
            read_request(connection)
            time.sleep(delay)
            connection.sendall(reply)
        except OSError:
            pass
        finally:
            connection.close()

    def serve():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=answer, args=(connection,), daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    return [listener]


def silent_name_server(address):
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind((address, 53))
    return [udp]


def run(agent, server, directory, resolv_conf, full):
    """Seconds to the first retry line (or to the end, with full), and the lines printed."""
    argv = [agent, "coletarData", directory, server, "backups"]
    if resolv_conf:
        argv = ["unshare", "--mount", "sh", "-c",
                'mount --bind "$0" /etc/resolv.conf && exec "$@"', resolv_conf] + argv
    start = time.monotonic()
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True)
    lines = 0
    for _ in child.stdout:
        lines += 1
        if not full:
            break
    spent = time.monotonic() - start
    child.kill()
    child.wait()
    return spent, lines


def main():
    args = sys.argv[1:]
    full = "--full" in args
    agents = [a for a in args if a != "--full"]
    if not agents or os.geteuid() != 0:
        sys.exit(__doc__)
    held = []
    for i in range(1, NODES + 1):
        held += black_hole(f"127.0.66.{i}")
    cluster = ";".join(f"127.0.66.{i}:10052" for i in range(1, NODES + 1))
    for hop in range(1, 4):
        redirect = '{"redirect":{"revision":1,"address":"127.0.67.%d:10052"},"response":"failed"}'
        held += slow_server(f"127.0.67.{hop}", frame(redirect % (hop + 1)), 29)
    success = '{"response":"success","info":"processed: 1; failed: 0; total: 1"}'
    held += slow_server("127.0.67.4", frame(success), 0)
    held += silent_name_server("127.0.68.1")
    with tempfile.TemporaryDirectory() as work:
        os.mkdir(f"{work}/routers")
        open(f"{work}/routers/router1", "w").close()
        resolv_conf = f"{work}/resolv.conf"
        with open(resolv_conf, "w") as f:
            f.write("nameserver 127.0.68.1\noptions timeout:30 attempts:5\n")
        cases = [("cluster", cluster, None), ("chain", "127.0.67.1", None),
                 ("resolver", "zabbix.example.net", resolv_conf)]
        results = {}

        def measure(name, server, conf, agent):
            results[(name, agent)] = run(agent, server, f"{work}/routers", conf, full)

        # Every case and agent at once: the peers serve them all side by side.
        threads = [threading.Thread(target=measure, args=(*case, agent))
                   for case in cases for agent in agents]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print("peer      agent      attempt   per value")
        for name, _, _ in cases:
            for index, agent in enumerate(agents):
                spent, lines = results[(name, agent)]
                label = "agent" if index == 0 else "baseline"
                value = spent if full else 5 * (spent + 5)
                attempt = spent / max(lines, 1) - 5 if full else spent
                print(f"{name:9} {label:9} {attempt:7.1f} s {value:8.1f} s")
            if len(agents) == 2:
                ratio = results[(name, agents[0])][0] / results[(name, agents[1])][0]
                print(f"{name:9} ratio     {ratio:7.2f}")

if __name__ == "__main__":
    main()
