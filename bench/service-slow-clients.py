#!/usr/bin/env python3
"""How fast the service answers one client while another address holds a thousand slow
connections open: slow heads, slow bodies, idle kept-alive connections.

Starts the release build of lumo-share-server on a loopback port with a private data folder,
times 300 health requests from 127.0.0.2 on a quiet service, then again with 1000 connections
from 127.0.0.1 of each kind open, and prints the median and 99th percentile of each with their
ratio to the quiet service. Run after `cmake --preset release && cmake --build --preset release`.
"""
import http.client
import os
import resource
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVER = os.path.join(ROOT, "build", "release", "server", "lumo-share-server")
REQUESTS = 300
SLOW_CLIENTS = 1000
KINDS = {
    "slow heads": b"GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n",
    "slow bodies": b"POST /api/v1/anon/links HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    b"Content-Type: application/json\r\nContent-Length: 100\r\n\r\n{",
    "idle keep-alive": b"GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
}


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def health_latencies(port):
    """Milliseconds of each health request, one connection each, from another address."""
    times = []
    for _ in range(REQUESTS):
        start = time.perf_counter()
        connection = http.client.HTTPConnection(
            "127.0.0.1", port, timeout=30, source_address=("127.0.0.2", 0))
        connection.request("GET", "/api/v1/health")
        if connection.getresponse().status != 200:
            sys.exit("health did not answer 200")
        connection.close()
        times.append((time.perf_counter() - start) * 1000)
    return times


def summary(times):
    ordered = sorted(times)
    return statistics.median(ordered), ordered[int(len(ordered) * 0.99) - 1]


def main():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    with tempfile.TemporaryDirectory(prefix="lumo-slow-clients-") as data:
        port = free_port()
        server = subprocess.Popen(
            [SERVER, "serve", "--data", data, "--listen", f"127.0.0.1:{port}", "--rate-limit", "0"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.05)
            quiet = summary(health_latencies(port))
            print(f"quiet service: health median {quiet[0]:.2f} ms, p99 {quiet[1]:.2f} ms")
            for kind, sent in KINDS.items():
                crowd = []
                for _ in range(SLOW_CLIENTS):
                    client = socket.create_connection(("127.0.0.1", port))
                    try:
                        client.sendall(sent)
                    except OSError:
                        pass  # refused past the per-address cap
                    crowd.append(client)
                busy = summary(health_latencies(port))
                print(f"{SLOW_CLIENTS} connections with {kind}: health median {busy[0]:.2f} ms "
                      f"({busy[0] / quiet[0]:.2f}x quiet), p99 {busy[1]:.2f} ms "
                      f"({busy[1] / quiet[1]:.2f}x quiet)")
                for client in crowd:
                    client.close()
                time.sleep(0.5)
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
