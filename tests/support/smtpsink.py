"""An SMTP server for the tests: stores every message it accepts as a file.

Usage: smtpsink.py FOLDER plain|starttls|smtps [--cert PEM --key KEY] [--user U --password P]
                   [--refuse ADDRESS ...] [--defer ADDRESS ...] [--long-reply LINES]
                   [--silent-quit]

Listens on a free loopback port and prints "PORT <n>" once it accepts connections. Each
accepted message is written to FOLDER/<n>.eml (whole, first through a temporary name), with
X-MailFrom, X-RcptTo, X-Auth-User and X-Tls lines put in front of the message's own headers.

Misbehaviour on request: --refuse answers RCPT TO for that address with 550 (the others are
taken), --defer with 450; --long-reply answers every message with a 554 reply of that many lines instead of
taking it; --silent-quit takes the mail and then never answers QUIT.
"""
import argparse
import asyncio
import os
import ssl
import logging
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder, refused=(), deferred=(), long_reply=0, silent_quit=False):
        self.folder = folder
        self.count = 0
        self.refused = {a.lower() for a in refused}
        self.deferred = {a.lower() for a in deferred}
        self.long_reply = long_reply
        self.silent_quit = silent_quit

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return f"550 5.1.1 <{address}>: mailbox unavailable"
        if address.lower() in self.deferred:
            return f"450 4.2.0 <{address}>: try again later"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        if self.silent_quit:
            # Holds the connection open without a word until the client gives up.
            await asyncio.sleep(3600)
        return "221 Bye"

    async def handle_DATA(self, server, session, envelope):
        if self.long_reply:
            lines = ["554-5.6.0 " + "x" * 70] * self.long_reply + ["554 5.6.0 Message refused"]
            return "\r\n".join(lines)
        self.count += 1
        tls = (session.ssl is not None
               or server.transport.get_extra_info("ssl_object") is not None)
        user = session.auth_data.login.decode() if isinstance(session.auth_data, LoginPassword) else ""
        head = (f"X-MailFrom: {envelope.mail_from}\r\n"
                f"X-RcptTo: {', '.join(envelope.rcpt_tos)}\r\n"
                f"X-Auth-User: {user}\r\n"
                f"X-Tls: {'yes' if tls else 'no'}\r\n").encode()
        path = os.path.join(self.folder, f"{self.count:04d}.eml")
        with open(path + ".part", "wb") as f:
            f.write(head + envelope.original_content)
        os.rename(path + ".part", path)
        return "250 Message accepted for delivery"


def main():
    # aiosmtpd 1.4 fills a deprecated field of its own on every login and logs a warning.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("mode", choices=["plain", "starttls", "smtps"])
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user")
    parser.add_argument("--password")
    # A server that comes back after an outage listens where it did before.
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--defer", action="append", default=[])
    parser.add_argument("--long-reply", type=int, default=0)
    parser.add_argument("--silent-quit", action="store_true")
    args = parser.parse_args()

    context = None
    if args.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    def authenticator(server, session, envelope, mechanism, data):
        ok = (isinstance(data, LoginPassword) and data.login.decode() == args.user
              and data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False, auth_data=data)

    store = Store(args.folder, args.refuse, args.defer, args.long_reply, args.silent_quit)
    login = args.user is not None

    def factory():
        return SMTP(store, hostname="sink.test",
                    tls_context=context if args.mode == "starttls" else None,
                    require_starttls=args.mode == "starttls",
                    authenticator=authenticator if login else None,
                    auth_required=login,
                    # Implicit TLS is TLS too; aiosmtpd only knows STARTTLS.
                    auth_require_tls=args.mode == "starttls")

    async def serve():
        server = await asyncio.get_running_loop().create_server(
            factory, "127.0.0.1", args.port, reuse_address=True, ssl=context if args.mode == "smtps" else None)
        print(f"PORT {server.sockets[0].getsockname()[1]}", flush=True)
        async with server:
            await server.serve_forever()

    try:
        asyncio.run(serve())
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
