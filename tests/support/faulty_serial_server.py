#!/usr/bin/python3
# A serial server with a fault, on 127.0.0.1:PORT, for the network ports' tests:
#
#   silent --port P                     takes connections and never reads or says anything
#   refuse --port P --upstream U        a Telnet server without the COM port control option: it
#                                       answers every WILL with DONT and every DO with WONT, and
#                                       carries the data to and from a raw TCP serial server on
#                                       127.0.0.1:U (Telnet's doubled 0xFF undone and redone)
#   drop --port P --upstream U --after N [--drops K]
#                                       passes every byte to and from 127.0.0.1:U as it is, and
#                                       closes a connection once N bytes from its client have
#                                       passed; after K connections so closed (1 unless told),
#                                       it passes the next ones whole
import argparse
import select
import socket

IAC, SE, SB, WILL, WONT, DO, DONT = 255, 240, 250, 251, 252, 253, 254


class TelnetRefuser:
    """Splits a Telnet client's stream into data and answers that refuse every option."""

    def __init__(self):
        self.state = 'data'

    def feed(self, chunk):
        data, answers = bytearray(), bytearray()
        for byte in chunk:
            if self.state == 'data':
                if byte == IAC:
                    self.state = 'iac'
                else:
                    data.append(byte)
            elif self.state == 'iac':
                if byte == IAC:
                    data.append(IAC)
                    self.state = 'data'
                elif byte in (WILL, WONT, DO, DONT):
                    self.state = byte
                elif byte == SB:
                    self.state = 'sb'
                else:
                    self.state = 'data'
            elif self.state == 'sb':
                self.state = 'sb-iac' if byte == IAC else 'sb'
            elif self.state == 'sb-iac':
                self.state = 'data' if byte == SE else 'sb'
            else:
                if self.state == WILL:
                    answers += bytes([IAC, DONT, byte])
                elif self.state == DO:
                    answers += bytes([IAC, WONT, byte])
                self.state = 'data'
        return bytes(data), bytes(answers)


class Session:
    def __init__(self, client, args, dropping):
        self.client = client
        self.upstream = None
        self.refuser = TelnetRefuser() if args.mode == 'refuse' else None
        self.left = args.after if dropping else None
        if args.mode != 'silent':
            self.upstream = socket.create_connection(('127.0.0.1', args.upstream))
            self.upstream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def sockets(self):
        if self.upstream is None:
            return []  # silent: never reads
        return [end for end in (self.client, self.upstream) if end is not None]

    def close(self):
        for end in (self.client, self.upstream):
            if end is not None:
                end.close()

    def drop_client(self):
        """Closes the client's connection; the upstream server gets the bytes passed so far
        and an end of its input, and the session ends when it closes its side."""
        self.client.close()
        self.client = None
        self.upstream.shutdown(socket.SHUT_WR)

    def from_client(self, chunk):
        """Passes the client's bytes on; False when the session ends here."""
        if self.refuser is not None:
            data, answers = self.refuser.feed(chunk)
            if answers:
                self.client.sendall(answers)
            self.upstream.sendall(data)
            return True
        if self.left is not None and len(chunk) >= self.left:
            self.upstream.sendall(chunk[: self.left])
            self.drop_client()
            return True
        if self.left is not None:
            self.left -= len(chunk)
        self.upstream.sendall(chunk)
        return True

    def from_upstream(self, chunk):
        if self.client is None:
            return  # dropped: waiting for the upstream server to close
        if self.refuser is not None:
            chunk = chunk.replace(bytes([IAC]), bytes([IAC, IAC]))
        self.client.sendall(chunk)


def serve(args):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(('127.0.0.1', args.port))
    listener.listen(8)
    sessions = []
    drops_left = args.drops if args.mode == 'drop' else 0
    silent = []  # the silent mode's clients, held open
    while True:
        watched = [listener] + [end for s in sessions for end in s.sockets()]
        ready, _, _ = select.select(watched, [], [])
        for end in ready:
            if end is listener:
                client, _ = listener.accept()
                if args.mode == 'silent':
                    silent.append(client)
                    continue
                sessions.append(Session(client, args, drops_left > 0))
                drops_left = max(0, drops_left - 1)
                continue
            session = next((s for s in sessions if end in s.sockets()), None)
            if session is None:
                continue  # closed earlier in this round
            try:
                chunk = end.recv(65536)
                if not chunk:
                    going_on = False
                elif end is session.client:
                    going_on = session.from_client(chunk)
                else:
                    session.from_upstream(chunk)
                    going_on = True
            except OSError:
                going_on = False
            if not going_on:
                session.close()
                sessions.remove(session)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('mode', choices=['silent', 'refuse', 'drop'])
    parser.add_argument('--port', type=int, required=True)
    parser.add_argument('--upstream', type=int, default=0)
    parser.add_argument('--after', type=int, default=0)
    parser.add_argument('--drops', type=int, default=1)
    serve(parser.parse_args())


if __name__ == '__main__':
    main()
