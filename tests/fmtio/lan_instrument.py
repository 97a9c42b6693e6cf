#!/usr/bin/env python3
# A LAN instrument that answers as real ones do: lines ending in CR LF, lists separated by
# ";" or ",", empty answers, lines of about 100 kB, blocks followed by CR LF. It prints the
# port it bound on 127.0.0.1, serves one connection, and answers nothing it does not know.
import socket

LONG_LIST = ",".join(str(i) for i in range(20000)).encode()  # 108890 bytes
ANSWERS = {
    b"*IDN?": b"Lab,DMM-7,0,2.1\r\n",
    b"MEAS:VOLT?": b"+1.23450000E+00\r\n",
    b"MEAS:ARR?": b"+1.5E+00;-2.5E-03;+3.0E+02\r\n",
    b"DATA?": b"1,-2,3\r\n",
    b"NAMES?": b"alpha,beta,gamma\r\n",
    b"BLANK?": b"\r\n",
    b"WAV?": b"#16\x01\x02\n\r\x00\xff\r\n",
    b"LONG?": LONG_LIST + b"\r\n",
    b"LONG:BLOCK?": b"#6100000" + bytes(i * 7 % 256 for i in range(100000)) + b"\r\n",
}

with socket.create_server(("127.0.0.1", 0)) as server:
    server.settimeout(60)
    print(server.getsockname()[1], flush=True)
    connection, _ = server.accept()
    connection.settimeout(60)
    with connection, connection.makefile("rb") as lines:
        for line in lines:
            connection.sendall(ANSWERS.get(line.rstrip(b"\n"), b""))
