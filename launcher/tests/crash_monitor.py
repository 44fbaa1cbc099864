"""A crash monitor for the tests: listens on the abstract Unix-domain socket
"ostra:marigold", reads the 4-byte thread id that the launcher's crash
handler sends and answers, or closes without answering."""

import socket
import struct
import threading

NAME = "\0ostra:marigold"


class CrashMonitor:
    def __init__(self, answer=True):
        self.answer = answer
        self.received = []  # bytes read on each connection, in order
        self._stopped = threading.Event()
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self._socket.bind(NAME)
        except OSError as error:
            self._socket.close()
            raise RuntimeError(
                f"cannot listen on the crash monitor's socket ({error}); "
                "is another crash monitor running?"
            ) from error
        self._socket.listen(4)
        self._socket.settimeout(0.1)
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stopped.is_set():
            try:
                connection, _ = self._socket.accept()
            except socket.timeout:
                continue
            with connection:
                data = b""
                # The id comes in one write; EOF ends a shorter one.
                while len(data) < 4:
                    chunk = connection.recv(4 - len(data))
                    if not chunk:
                        break
                    data += chunk
                self.received.append(data)
                if self.answer and len(data) == 4:
                    connection.sendall(b"done")

    def thread_ids(self):
        """The thread ids received, one per connection that sent 4 bytes."""
        return [struct.unpack("=i", data)[0] for data in self.received if len(data) == 4]

    def close(self):
        self._stopped.set()
        self._thread.join()
        self._socket.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
